// Frame steps as a coach makes them, through real movie servers, on footage as cameras record
// it: 1080p60 H.264 with a key frame every 250 pictures, and sixteen 720p movies at once. Every
// figure is measured twice in one run: with the picture cache and decoding on (as shipped), and
// with every step a flushing accurate seek (QUORVEX_STEPS_BY_SEEK=1 in the servers, as before).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchServer.h"
#include "engine/CMovie.h"
#include "hosting/CMovieClient.h"
#include "platform/media/Results.h"
#include "tests/support/XTestWindow.h"

namespace {

using Clock = std::chrono::steady_clock;
using quorvex::CMovieClient;
constexpr double kFrameUnits = 10'010'000.0 / 30.0;  // the panel's frame: 29.97 fps

// Makes `name` with gst-launch-1.0 unless it is there already; its path.
std::string Footage(const std::string& name, const std::string& pipeline) {
  const std::string dir = QUORVEX_BENCH_FOOTAGE;
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/" + name;
  if (!std::filesystem::exists(path)) {
    const std::string command = "gst-launch-1.0 -q " + pipeline + " ! filesink location=" + path +
                                ".part >/dev/null && mv " + path + ".part " + path;
    if (std::system(command.c_str()) != 0)
      return "";
  }
  return path;
}

std::string LongGop1080p60() {
  return Footage(
      "long-gop-1080p60.mp4",
      "videotestsrc pattern=smpte num-buffers=600 ! "
      "video/x-raw,width=1920,height=1080,framerate=60/1 ! timeoverlay font-desc=\"Sans 64\" ! "
      "videoconvert ! video/x-raw,format=I420 ! x264enc speed-preset=ultrafast "
      "key-int-max=250 bframes=0 ! h264parse ! mp4mux");
}

std::string Movie720p() {
  return Footage("h264-720p30.mp4",
                 "videotestsrc pattern=smpte num-buffers=300 ! "
                 "video/x-raw,width=1280,height=720,framerate=30000/1001 ! timeoverlay ! "
                 "videoconvert ! video/x-raw,format=I420 ! x264enc speed-preset=ultrafast "
                 "key-int-max=60 bframes=0 ! h264parse ! mp4mux");
}

struct Server {
  Server(const std::string& movie, int width, int height, bool by_seek) : window(width, height) {
    if (by_seek)
      setenv("QUORVEX_STEPS_BY_SEEK", "1", 1);
    else
      unsetenv("QUORVEX_STEPS_BY_SEEK");
    client = std::make_unique<CMovieClient>(quorvex::bench::ServerOptions());
    const std::u16string path(movie.begin(), movie.end());
    ok = !movie.empty() && client->InitializeGraph(path.c_str(), window.id());
    client->SetVideoSize(width, height);
    client->Pause();
    unsetenv("QUORVEX_STEPS_BY_SEEK");
  }
  int64_t Position() {
    int64_t at = 0;
    client->GetCurrentPosition(&at);
    return at;
  }
  void SeekTo(int64_t units) {
    client->SetPositions(&units, quorvex::media::AM_SEEKING_AbsolutePositioning, nullptr,
                         quorvex::media::AM_SEEKING_NoPositioning);
  }
  // The panel's step: from the position read back, by `frames` of 29.97 fps.
  void Step(int frames) {
    SeekTo(std::max<int64_t>(Position() + int64_t(frames * kFrameUnits), 0));
  }
  // Resident memory of the server, in MiB.
  double ResidentMiB() const {
    const std::string path = "/proc/" + std::to_string(client->server_pid()) + "/statm";
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
      if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
      std::fclose(f);
    }
    return double(resident) * 4096 / (1 << 20);
  }

  quorvex::test::XTestWindow window;
  std::unique_ptr<CMovieClient> client;
  bool ok = false;
};

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One step of `frames` on the 1080p60 movie paused for a second at a spot 2.8 s after a key
// frame; the step back (untimed) returns to the spot. median_ms is the figure to read.
void BM_Step1080p60(benchmark::State& state) {
  const int frames = int(state.range(0));
  const bool by_seek = state.range(1) != 0;
  Server s(LongGop1080p60(), 640, 360, by_seek);
  if (!s.ok) {
    state.SkipWithError("movie did not open");
    return;
  }
  s.SeekTo(int64_t(7.0 * 1e7));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  std::vector<double> times;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    s.Step(frames);
    times.push_back(Ms(Clock::now() - t0));
    state.PauseTiming();
    s.Step(-frames);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    state.ResumeTiming();
  }
  state.counters["median_ms"] = Median(times);
  state.counters["server_rss_MiB"] = s.ResidentMiB();
}
BENCHMARK(BM_Step1080p60)
    ->ArgsProduct({{1, -1, 5, -5, 10, -10}, {0, 1}})
    ->ArgNames({"frames", "by_seek"})
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The first step back right after pausing a playing movie: the cache holds what was shown.
void BM_FirstStepAfterPause(benchmark::State& state) {
  Server s(LongGop1080p60(), 640, 360, state.range(0) != 0);
  if (!s.ok) {
    state.SkipWithError("movie did not open");
    return;
  }
  std::vector<double> times;
  for (auto _ : state) {
    state.PauseTiming();
    s.SeekTo(int64_t(6.0 * 1e7));
    s.client->Run();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    s.client->Pause();
    state.ResumeTiming();
    const auto t0 = Clock::now();
    s.Step(-1);
    times.push_back(Ms(Clock::now() - t0));
  }
  state.counters["median_ms"] = Median(times);
}
BENCHMARK(BM_FirstStepAfterPause)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("by_seek")
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One click on "+0.03" or "-0.03" with sixteen 720p movies: every movie is stepped in turn and
// has drawn its new picture when its reply arrives.
void BM_SixteenMoviesOneStep(benchmark::State& state) {
  const bool by_seek = state.range(0) != 0;
  std::vector<std::unique_ptr<Server>> movies;
  for (int i = 0; i < 16; ++i) {
    movies.push_back(std::make_unique<Server>(Movie720p(), 400, 225, by_seek));
    if (!movies.back()->ok) {
      state.SkipWithError("movie did not open");
      return;
    }
    movies.back()->SeekTo(int64_t((3.0 + 0.1 * i) * 1e7));
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  std::vector<double> times;
  int direction = 1;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (auto& m : movies)
      m->Step(direction);
    times.push_back(Ms(Clock::now() - t0));
    direction = -direction;
  }
  state.counters["median_ms"] = Median(times);
}
BENCHMARK(BM_SixteenMoviesOneStep)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("by_seek")
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

double ProcessCpuSeconds(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f)
    return 0;
  char buffer[1024] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
  std::fclose(f);
  const std::string stat(buffer, n);
  unsigned long utime = 0, stime = 0;
  // Fields 14 and 15, after the command name in parentheses.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos ||
      std::sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu",
                  &utime, &stime) != 2)
    return 0;
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Four 1080p60 movies playing at rate 1 for 10 s: the CPU of each server in % of a core. The
// position advances by the time of the pictures shown: late_s is how far the movie fell behind
// the wall clock (dropped pictures make it go on in time; a stalled one falls behind).
void BM_FourMoviesPlaying1080p60(benchmark::State& state) {
  std::vector<std::unique_ptr<Server>> movies;
  for (int i = 0; i < 4; ++i) {
    movies.push_back(std::make_unique<Server>(LongGop1080p60(), 480, 270, false));
    if (!movies.back()->ok) {
      state.SkipWithError("movie did not open");
      return;
    }
  }
  for (auto _ : state) {
    std::vector<double> cpu0;
    std::vector<int64_t> at0;
    for (auto& m : movies) {
      m->SeekTo(0);
      cpu0.push_back(ProcessCpuSeconds(m->client->server_pid()));
    }
    for (auto& m : movies)
      m->client->Run();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(9));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    double cpu = 0, behind = 0;
    for (size_t i = 0; i < movies.size(); ++i) {
      const double played = double(movies[i]->Position()) / 1e7;
      behind = std::max(behind, wall - played);
      cpu += ProcessCpuSeconds(movies[i]->client->server_pid()) - cpu0[i];
      movies[i]->client->Pause();
    }
    state.counters["cpu_per_server_pct"] = 100 * cpu / 4 / wall;
    state.counters["late_s"] = behind;
  }
}
BENCHMARK(BM_FourMoviesPlaying1080p60)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The same four movies in this process's own engines, where the sinks' statistics can be
// read: pictures dropped per movie over 9 s (of 540).
void BM_FourMoviesDroppedPictures(benchmark::State& state) {
  quorvex::test::XTestWindow windows[4] = {{480, 270}, {480, 270}, {480, 270}, {480, 270}};
  std::vector<std::unique_ptr<quorvex::CMovie>> movies;
  const std::string path = LongGop1080p60();
  for (auto& w : windows) {
    movies.push_back(std::make_unique<quorvex::CMovie>());
    if (!movies.back()->InitializeGraph(std::u16string(path.begin(), path.end()), w.id())) {
      state.SkipWithError("movie did not open");
      return;
    }
    movies.back()->SetVideoSize(480, 270);
    movies.back()->Pause();
  }
  for (auto _ : state) {
    for (auto& m : movies)
      m->Run();
    std::this_thread::sleep_for(std::chrono::seconds(9));
    double dropped = 0;
    for (auto& m : movies) {
      dropped += double(m->graph()->pictures_dropped());
      m->Pause();
    }
    state.counters["dropped_per_movie"] = dropped / 4;
  }
}
BENCHMARK(BM_FourMoviesDroppedPictures)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
