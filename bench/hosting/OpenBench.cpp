// Opening movies as the user interface does, each in its own server process: server start +
// InitializeGraph + SetVideoSize + Pause until the first picture is shown. One movie of
// 1080p60 and of 4K H.264; sixteen 720p movies one after another (the old way) and side by
// side (start every server, then open every file, then collect). The large movies are made
// with gst-launch-1.0 on the first run into QUORVEX_BENCH_CACHE (default: <build>/bench-movies).
// Needs an X display: xvfb-run -a build/bench/bench/bench_open
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchServer.h"
#include "hosting/CMovieClient.h"
#include "tests/support/XTestWindow.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string CacheDir() {
  const char* dir = std::getenv("QUORVEX_BENCH_CACHE");
  return dir ? dir : QUORVEX_BENCH_CACHE;
}

// The movie `name` of `seconds` at width x height and `fps`, key frame every second, made
// once. Empty when it cannot be made.
std::u16string Generated(const std::string& name, int width, int height, int fps, int seconds) {
  const std::string path = CacheDir() + "/" + name;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    const std::string tmp = path + ".part";
    const std::string mux = name.ends_with(".ts") ? "mpegtsmux" : "mp4mux";
    const std::string cmd =
        "mkdir -p '" + CacheDir() +
        "' && gst-launch-1.0 -q videotestsrc pattern=smpte num-buffers=" +
        std::to_string(fps * seconds) + " ! video/x-raw,width=" + std::to_string(width) +
        ",height=" + std::to_string(height) + ",framerate=" + std::to_string(fps) +
        "/1 ! timeoverlay font-desc=\"Sans 48\" ! videoconvert ! video/x-raw,format=I420 ! "
        "x264enc speed-preset=ultrafast bframes=0 key-int-max=" +
        std::to_string(fps) + " ! h264parse ! " + mux + " ! filesink location='" + tmp +
        "' >/dev/null 2>&1 && mv '" + tmp + "' '" + path + "'";
    if (std::system(cmd.c_str()) != 0)
      return {};
  }
  return std::u16string(path.begin(), path.end());
}

// One movie from server start to its first picture in a 640x360 panel.
void BM_OpenToFirstPicture(benchmark::State& state, const char* name, int w, int h, int fps) {
  const std::u16string movie = Generated(name, w, h, fps, 4);
  quorvex::test::XTestWindow window(640, 360);
  if (movie.empty()) {
    state.SkipWithError("cannot make the movie");
    return;
  }
  // Where the time goes, in ms per open: server start, InitializeGraph, SetVideoSize, Pause.
  std::array<double, 4> phases{};
  for (auto _ : state) {
    std::array<Clock::time_point, 5> at;
    at[0] = Clock::now();
    auto client = std::make_unique<quorvex::CMovieClient>(quorvex::bench::ServerOptions());
    at[1] = Clock::now();
    if (!client->InitializeGraph(movie.c_str(), window.id())) {
      state.SkipWithError("movie did not open");
      return;
    }
    at[2] = Clock::now();
    client->SetVideoSize(640, 360);
    at[3] = Clock::now();
    client->Pause();
    int32_t x = 0, y = 0;
    client->GetAspectRatio(x, y);  // a round trip after the Pause: it has been handled
    at[4] = Clock::now();
    for (size_t i = 0; i < phases.size(); ++i)
      phases[i] += std::chrono::duration<double, std::milli>(at[i + 1] - at[i]).count();
    state.PauseTiming();
    client.reset();
    state.ResumeTiming();
  }
  const double n = double(state.iterations());
  state.counters["start_ms"] = phases[0] / n;
  state.counters["init_ms"] = phases[1] / n;
  state.counters["size_ms"] = phases[2] / n;
  state.counters["pause_ms"] = phases[3] / n;
}
BENCHMARK_CAPTURE(BM_OpenToFirstPicture, h264_1080p60, "h264-1080p60.mp4", 1920, 1080, 60)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);
BENCHMARK_CAPTURE(BM_OpenToFirstPicture, h264_2160p30, "h264-2160p30.mp4", 3840, 2160, 30)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

// Sixteen 720p movies into 16 panels of 320x180 until every first picture is shown.
// side_by_side 0: each server started and waited for before the next (the old way).
void BM_SixteenMovies(benchmark::State& state) {
  const bool side_by_side = state.range(0) != 0;
  const std::u16string movie = Generated("h264-720p30.mp4", 1280, 720, 30, 10);
  if (movie.empty()) {
    state.SkipWithError("cannot make the movie");
    return;
  }
  std::vector<std::unique_ptr<quorvex::test::XTestWindow>> panels;
  for (int i = 0; i < 16; ++i)
    panels.push_back(std::make_unique<quorvex::test::XTestWindow>(320, 180));
  for (auto _ : state) {
    std::vector<std::unique_ptr<quorvex::CMovieClient>> clients;
    bool ok = true;
    if (side_by_side) {
      for (int i = 0; i < 16; ++i)
        clients.push_back(std::make_unique<quorvex::CMovieClient>(
            quorvex::bench::ServerOptions(), quorvex::CMovieClient::Start::kLater));
      for (int i = 0; i < 16; ++i) {
        clients[i]->WaitUntilStarted();
        ok = clients[i]->BeginInitializeGraph(movie.c_str(), panels[i]->id()) && ok;
      }
      for (auto& c : clients) {
        ok = c->EndInitializeGraph() && ok;
        c->SetVideoSize(320, 180);
        c->Pause();
      }
    } else {
      for (int i = 0; i < 16; ++i) {
        clients.push_back(std::make_unique<quorvex::CMovieClient>(quorvex::bench::ServerOptions()));
        ok = clients[i]->InitializeGraph(movie.c_str(), panels[i]->id()) && ok;
        clients[i]->SetVideoSize(320, 180);
        clients[i]->Pause();
      }
    }
    for (auto& c : clients) {
      int32_t x = 0, y = 0;
      c->GetAspectRatio(x, y);  // every Pause has been handled
    }
    if (!ok) {
      state.SkipWithError("a movie did not open");
      return;
    }
    state.PauseTiming();
    clients.clear();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_SixteenMovies)
    ->ArgName("side_by_side")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
