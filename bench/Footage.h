#pragma once

// Movies the benchmarks make for themselves, once, into the footage folder: QUORVEX_BENCH_FOOTAGE
// from the environment, else the build's (the target defines QUORVEX_BENCH_FOOTAGE). A movie
// that is there already is used as it is; delete the folder to make them again.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace quorvex::bench {

// The path of `name` in the footage folder, made first by the shell `command` unless it is
// there: "{out}" in the command stands for the file it must write (renamed to `name` only when
// the command succeeded, so that an interrupted run leaves no half movie). Empty on failure.
inline std::string Footage(const std::string& name, std::string command) {
  const char* env = std::getenv("QUORVEX_BENCH_FOOTAGE");
  const std::filesystem::path dir = env && *env ? env : QUORVEX_BENCH_FOOTAGE;
  const std::filesystem::path path = dir / name;
  if (std::filesystem::exists(path))
    return path.string();
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  std::string part = "'";
  part += path.string();
  part += ".part'";
  for (size_t at; (at = command.find("{out}")) != std::string::npos;)
    command.replace(at, 5, part);
  if (std::system((command + " && mv " + part + " '" + path.string() + "'").c_str()) != 0)
    return "";
  return path.string();
}

// As a camera records: 1920x1080 at 60 fps, H.264 high profile with three B-frames, about
// 24 Mb/s, a key frame every 250 pictures, moving content under noise, 10 s, AAC sound.
// Decoding it costs what a real camera file costs, which a smooth test pattern does not.
inline std::string CameraFootage() {
  return Footage(
      "camera-1080p60.mp4",
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=60 "
      "-f lavfi -i sine=f=440:r=48000 -vf noise=alls=12:allf=t+u -pix_fmt yuv420p "
      "-c:v libx264 -profile:v high -bf 3 -g 250 -keyint_min 250 -sc_threshold 0 "
      "-b:v 24M -maxrate 30M -bufsize 30M -c:a aac -t 10 -f mp4 {out}");
}

// As a phone records: 1920x1080 at a variable rate, pictures 27-39 ms apart (about 30 fps,
// times drawn at random on a 90 kHz time scale), a key frame every 30 pictures, 17 Mb/s,
// no B-frames, 10 s, AAC sound.
inline std::string PhoneFootage() {
  return Footage(
      "phone-vfr-1080p30.mp4",
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 "
      "-f lavfi -i sine=f=440:r=48000 "
      "-vf \"noise=alls=12:allf=t+u,settb=1/90000,setpts='(N/30+0.006*random(0))/TB'\" "
      "-fps_mode passthrough -enc_time_base:v 1/90000 -video_track_timescale 90000 "
      "-pix_fmt yuv420p "
      "-c:v libx264 -profile:v high -bf 0 -g 30 -b:v 17M -maxrate 20M -bufsize 20M "
      "-c:a aac -t 10 -f mp4 {out}");
}

// Many small movies at once: 1280x720 at 29.97 fps, a key frame every 60 pictures, 10 s.
inline std::string Footage720p() {
  return Footage("h264-720p30.mp4",
                 "gst-launch-1.0 -q videotestsrc pattern=smpte num-buffers=300 ! "
                 "video/x-raw,width=1280,height=720,framerate=30000/1001 ! timeoverlay ! "
                 "videoconvert ! video/x-raw,format=I420 ! x264enc speed-preset=ultrafast "
                 "key-int-max=60 bframes=0 ! h264parse ! mp4mux ! filesink location={out} "
                 ">/dev/null");
}

}  // namespace quorvex::bench
