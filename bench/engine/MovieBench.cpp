// The movie graph: time to the first picture, frame-accurate seeks while paused, and the
// memory of a process holding one movie. Needs an X display (xvfb-run) and the generated
// movies (tests/fixtures/make-movies <build>/movies).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/CMovie.h"
#include "tests/support/XTestWindow.h"

namespace quorvex {
namespace {

constexpr double kFrameUnits = 10'010'000.0 / 30.0;  // 29.97 fps in 100 ns units

std::u16string Movie(const std::string& name) {
  const char* dir = std::getenv("QUORVEX_BENCH_MOVIES");
  const std::string path = std::string(dir ? dir : QUORVEX_BENCH_MOVIES) + "/" + name;
  return std::u16string(path.begin(), path.end());
}

int64_t FrameTime(int frame) {
  return int64_t(frame * kFrameUnits + 0.5);
}

// Resident set of this process, in bytes.
double ResidentBytes() {
  long pages = 0, resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm && std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
    resident = 0;
  if (statm)
    std::fclose(statm);
  return double(resident) * 4096;
}

// Builds the graph for the movie and shows its first picture in a 640x360 window, as the
// movie window does (InitializeGraph, SetVideoSize, Pause).
void FirstPicture(benchmark::State& state, const char* movie) {
  test::XTestWindow owner(640, 360);
  for (auto _ : state) {
    auto engine = std::make_unique<CMovie>();
    if (!engine->InitializeGraph(Movie(movie), owner.id())) {
      state.SkipWithError("movie did not open");
      return;
    }
    engine->SetVideoSize(640, 360);
    engine->Pause();
    state.PauseTiming();
    engine.reset();
    state.ResumeTiming();
  }
}
BENCHMARK_CAPTURE(FirstPicture, h264_640x360, "h264-aac-16x9.mp4")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(FirstPicture, mjpeg_320x240, "mjpeg-pcm-4x3.avi")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

enum class Step { kForward, kBack, kRandom };

// One frame-accurate seek while paused, until the frame is shown (SetPositions returns when
// the graph has prerolled on it), on the H.264 movie (key frames every 30 frames).
void SeekWhilePaused(benchmark::State& state, Step step) {
  test::XTestWindow owner(640, 360);
  CMovie engine;
  if (!engine.InitializeGraph(Movie("h264-aac-16x9.mp4"), owner.id())) {
    state.SkipWithError("no display or movie");
    return;
  }
  engine.SetVideoSize(640, 360);
  engine.Pause();
  std::mt19937 random(7);
  int frame = 150;
  for (auto _ : state) {
    switch (step) {
      case Step::kForward:
        frame = frame >= 298 ? 100 : frame + 1;
        break;
      case Step::kBack:
        frame = frame <= 1 ? 200 : frame - 1;
        break;
      case Step::kRandom:
        frame = int(random() % 300);
        break;
    }
    int64_t target = FrameTime(frame);
    if (engine.SetPositions(&target, media::AM_SEEKING_AbsolutePositioning, nullptr,
                            media::AM_SEEKING_NoPositioning) != media::S_OK) {
      state.SkipWithError("seek failed");
      return;
    }
  }
}
BENCHMARK_CAPTURE(SeekWhilePaused, forward_one_frame, Step::kForward)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(SeekWhilePaused, back_one_frame, Step::kBack)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(SeekWhilePaused, random_frame, Step::kRandom)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A 720p MPEG-TS movie (no index; 29.97 fps, key frame every 30 frames), made once with
// gst-launch-1.0 into QUORVEX_BENCH_CACHE (default: <build>/bench-movies).
std::u16string TransportStream720p() {
  const char* env = std::getenv("QUORVEX_BENCH_CACHE");
  const std::string dir = env ? env : QUORVEX_BENCH_CACHE;
  const std::string path = dir + "/h264-720p-mp2.ts";
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fclose(f);
    return std::u16string(path.begin(), path.end());
  }
  const std::string cmd =
      "mkdir -p '" + dir +
      "' && gst-launch-1.0 -q videotestsrc pattern=smpte num-buffers=600 "
      "! video/x-raw,width=1280,height=720,framerate=30000/1001 ! timeoverlay "
      "! videoconvert ! video/x-raw,format=I420 ! x264enc speed-preset=ultrafast bframes=0 "
      "key-int-max=30 ! h264parse ! queue ! mpegtsmux name=m ! filesink location='" +
      path +
      ".part' audiotestsrc num-buffers=200 samplesperbuffer=4800 ! audio/x-raw,rate=48000,"
      "channels=2 ! audioconvert ! avenc_mp2 ! queue ! m. >/dev/null 2>&1 && mv '" +
      path + ".part' '" + path + "'";
  if (std::system(cmd.c_str()) != 0)
    return {};
  return std::u16string(path.begin(), path.end());
}

// Frame-accurate seeks of `frames` (alternating direction, so that the position stays in the
// middle) on the 720p MPEG-TS movie, paused, with the picture cache off: every backward seek
// goes to the demuxer and decoder.
void TransportStreamSeek(benchmark::State& state) {
  const int frames = int(state.range(0));
  test::XTestWindow owner(640, 360);
  CMovie engine;
  const std::u16string movie = TransportStream720p();
  if (movie.empty() || !engine.InitializeGraph(movie, owner.id())) {
    state.SkipWithError("no display or movie");
    return;
  }
  engine.graph()->cache().set_limit_bytes(0);
  engine.SetVideoSize(640, 360);
  engine.Pause();
  int frame = 300;
  int sign = -1;
  std::vector<double> ms;
  for (auto _ : state) {
    frame += sign * frames;
    sign = -sign;
    int64_t target = FrameTime(frame) + int64_t(kFrameUnits / 2);
    const auto start = std::chrono::steady_clock::now();
    if (engine.SetPositions(&target, media::AM_SEEKING_AbsolutePositioning, nullptr,
                            media::AM_SEEKING_NoPositioning) != media::S_OK) {
      state.SkipWithError("seek failed");
      return;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  // Backward seeks (odd ones) need the decoder; forward ones may decode on from the picture.
  std::vector<double> back;
  for (size_t i = 0; i < ms.size(); i += 2)
    back.push_back(ms[i]);
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  state.counters["median_ms"] = median(ms);
  state.counters["back_median_ms"] = median(back);
}
BENCHMARK(TransportStreamSeek)
    ->ArgName("frames")
    ->Arg(1)
    ->Arg(10)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The resident memory of this process with one 640x360 movie open, shown and played for a
// second (counters: resident bytes in total, and what the movie added).
void MemoryOfOneMovie(benchmark::State& state) {
  test::XTestWindow owner(640, 360);
  double before = 0, with_movie = 0;
  for (auto _ : state) {
    before = ResidentBytes();
    CMovie engine;
    if (!engine.InitializeGraph(Movie("h264-aac-16x9.mp4"), owner.id())) {
      state.SkipWithError("movie did not open");
      return;
    }
    engine.SetVideoSize(640, 360);
    engine.Run();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    engine.Pause();
    with_movie = ResidentBytes();
  }
  state.counters["resident_MB"] = with_movie / 1e6;
  state.counters["movie_MB"] = (with_movie - before) / 1e6;
}
BENCHMARK(MemoryOfOneMovie)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvex

BENCHMARK_MAIN();
