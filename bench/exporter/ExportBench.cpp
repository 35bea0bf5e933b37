// `quorvex --export` of four camera-like movies (1920x1080 at 60 pictures a second, H.264 high
// profile with B-frames, about 24 Mb/s, a key frame every 250 pictures, moving pictures with
// noise) at 1/2 into 1920x1080 at 30 pictures a second. Reports the seconds of work per second
// of output (at most 1 keeps up with playing it), the processor seconds per second of output
// (divided by the cores, what an idle machine would take at best) and the export process's
// peak memory.
// The movies are made once into $QUORVEX_BENCH_MOVIES (default /tmp/quorvex-bench-export).
#include <benchmark/benchmark.h>

#include <gst/gst.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kMovies = 4;
constexpr double kMovieSeconds = 6.0;
constexpr double kBaseSeconds = 0.5;

std::string Folder() {
  const char* env = std::getenv("QUORVEX_BENCH_MOVIES");
  return env ? env : "/tmp/quorvex-bench-export";
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// A moving test pattern under moving noise, encoded as a camera does.
bool MakeMovie(const std::string& path, int pattern) {
  const int frames = int(kMovieSeconds * 60);
  const std::string launch =
      "compositor name=c sink_1::alpha=0.25 ! video/x-raw,width=1920,height=1080,framerate=60/1 "
      "! videoconvert ! video/x-raw,format=I420 ! x264enc speed-preset=superfast bframes=3 "
      "key-int-max=250 bitrate=24000 ! video/x-h264,profile=high ! h264parse ! mp4mux ! "
      "filesink location=" + path + " videotestsrc num-buffers=" + std::to_string(frames) +
      " pattern=" + std::to_string(pattern) + " horizontal-speed=6 ! "
      "video/x-raw,width=1920,height=1080,framerate=60/1 ! c. videotestsrc num-buffers=" +
      std::to_string(frames) + " pattern=snow ! video/x-raw,width=1920,height=1080,framerate=60/1 "
      "! c.";
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(launch.c_str(), &error);
  if (pipeline == nullptr) {
    g_clear_error(&error);
    return false;
  }
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_timed_pop_filtered(
      bus, GST_CLOCK_TIME_NONE, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
  const bool ok = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
  if (message)
    gst_message_unref(message);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return ok;
}

// The lap file of the four movies with their bases only: the export runs to the longest end.
std::string MakeLapFile(const std::vector<std::string>& movies) {
  const std::string path = Folder() + "/laps.xml";
  std::ofstream out(path);
  out << "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n<QuorvexLapFile>\n"
         "  <file_name>\n";
  for (const std::string& movie : movies)
    out << "    <list>" << movie << "</list>\n";
  out << "  </file_name>\n  <lap>\n";
  for (size_t m = 0; m < movies.size(); ++m)
    out << "    <list>\n      <list>" << kBaseSeconds << "</list>\n    </list>\n";
  out << "  </lap>\n</QuorvexLapFile>\n";
  return path;
}

// Runs the program; returns its exit code, its peak resident memory in KiB and the processor
// time it used (all threads), which a machine shared with other work does not inflate.
int RunChild(const std::vector<std::string>& args, long& max_rss_kib, double& cpu_seconds) {
  std::vector<char*> argv;
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
    return -1;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid)
    return -1;
  max_rss_kib = usage.ru_maxrss;
  cpu_seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_ExportFourCameraMoviesAtHalfRate(benchmark::State& state) {
  gst_init(nullptr, nullptr);
  mkdir(Folder().c_str(), 0755);
  std::vector<std::string> movies;
  for (int m = 0; m < kMovies; ++m) {
    const std::string path = Folder() + "/camera-" + std::to_string(m + 1) + ".mp4";
    if (!Exists(path) && !MakeMovie(path, m == 0 ? 0 : m + 17)) {
      state.SkipWithError("the camera-like movies cannot be made");
      return;
    }
    movies.push_back(path);
  }
  const std::string laps = MakeLapFile(movies);
  const std::string out = Folder() + "/comparison.mp4";
  const double output_seconds = (kMovieSeconds - kBaseSeconds) / 0.5;
  long max_rss_kib = 0;
  double seconds = 0;
  double cpu_seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int code = RunChild({QUORVEX_BENCH_EXE, "--export", out, laps, "--rate", "1/2",
                               "--size", "1920x1080", "--fps", "30"},
                              max_rss_kib, cpu_seconds);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (code != 0) {
      state.SkipWithError("the export failed");
      return;
    }
    state.SetIterationTime(seconds);
  }
  state.counters["output_s"] = output_seconds;
  state.counters["s_per_output_s"] = seconds / output_seconds;
  state.counters["cpu_s_per_output_s"] = cpu_seconds / output_seconds;
  state.counters["peak_rss_MiB"] = double(max_rss_kib) / 1024.0;
}

BENCHMARK(BM_ExportFourCameraMoviesAtHalfRate)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
