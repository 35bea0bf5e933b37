// The movie graph: time to the first picture, frame-accurate seeks while paused, and the
// memory of a process holding one movie. Needs an X display (xvfb-run) and the generated
// movies (tests/fixtures/make-movies <build>/movies).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "engine/CMovie.h"
#include "tests/platform/media/TestWindow.h"

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
  test::InitXThreads();
  test::TestWindow owner(640, 360);
  if (!owner.ok()) {
    state.SkipWithError("no X display");
    return;
  }
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
  test::InitXThreads();
  test::TestWindow owner(640, 360);
  CMovie engine;
  if (!owner.ok() || !engine.InitializeGraph(Movie("h264-aac-16x9.mp4"), owner.id())) {
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
    if (engine.SetPositions(&target, media::AM_SEEKING_AbsolutePositioning,
                                               nullptr,
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

// The resident memory of this process with one 640x360 movie open, shown and played for a
// second (counters: resident bytes in total, and what the movie added).
void MemoryOfOneMovie(benchmark::State& state) {
  test::InitXThreads();
  test::TestWindow owner(640, 360);
  if (!owner.ok()) {
    state.SkipWithError("no X display");
    return;
  }
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
