// Frame steps as a coach makes them, through real movie servers, on footage as cameras and
// phones record it (bench/Footage.h), paused. Every figure is measured twice in one run: as
// shipped (picture cache and decoding on, by_seek:0), and with every step a flushing accurate
// seek (QUORVEX_STEPS_BY_SEEK=1 in the servers, by_seek:1). Read the counters median_ms, p90_ms
// and max_ms; the benchmark's own time is the mean. Memory and processor: ServerLoadBench.cpp.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/Footage.h"
#include "bench/Percentiles.h"
#include "bench/hosting/BenchMovie.h"

namespace {

using quorvex::bench::BenchMovie;
using quorvex::bench::MsSince;
using quorvex::bench::Percentile;
using quorvex::bench::ReportMs;
using Clock = std::chrono::steady_clock;

// The drawn size: two movies side by side on a 1080p screen.
constexpr int kWidth = 960, kHeight = 540;
// How long a coach looks at the picture after a seek before stepping from it.
constexpr auto kLookAfterSeek = std::chrono::milliseconds(300);

enum Footage { kCamera = 0, kPhone = 1 };
// How a step is asked for: the Left/Right keys (the movie's own pictures), or the control
// panel's buttons (frames of 29.97 fps, a seek relative to the position read back).
enum Way { kNative = 0, kPanel = 1 };

std::string MovieOf(int64_t footage) {
  return footage == kPhone ? quorvex::bench::PhoneFootage() : quorvex::bench::CameraFootage();
}

void Step(BenchMovie& movie, int64_t way, int frames) {
  if (way == kNative)
    movie.StepFrames(frames);
  else
    movie.PanelStep(frames / 29.97);
}

// Where the random accurate seeks go: the same spots in every benchmark of a run, at least
// 1 s from either end of the movie, so that ten steps either way stay inside it.
class Spots {
 public:
  explicit Spots(int64_t duration_units) : duration_(duration_units) {}
  int64_t Next() {
    std::uniform_int_distribution<int64_t> spot(quorvex::bench::Units(1.0),
                                                 duration_ - quorvex::bench::Units(1.0));
    return spot(random_);
  }

 private:
  int64_t duration_;
  std::mt19937_64 random_{20};
};

// One step of `frames` 0.3 s after an accurate seek to a random spot: the seek's back fill
// (as shipped) has had that long to run. zoom:4 steps the middle quarter of the picture, cut
// from the full decoded picture.
void BM_StepAfterSeek(benchmark::State& state) {
  const int frames = int(state.range(1));
  BenchMovie movie(MovieOf(state.range(0)), kWidth, kHeight, state.range(3) != 0);
  if (!movie.ok()) {
    state.SkipWithError("movie did not open (ffmpeg made no footage?)");
    return;
  }
  movie.Zoom(int(state.range(4)));
  Spots spots(movie.Duration());
  std::vector<double> samples;
  for (auto _ : state) {
    movie.SeekTo(spots.Next());
    std::this_thread::sleep_for(kLookAfterSeek);
    const auto t0 = Clock::now();
    Step(movie, state.range(2), frames);
    samples.push_back(MsSince(t0));
    state.SetIterationTime(samples.back() / 1000);
  }
  ReportMs(state, samples);
}
// ±1 and ±10 on the camera footage, ±1 on the phone's; zoomed 4x, the keys' ±1 as shipped.
void StepArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"phone", "frames", "panel", "by_seek", "zoom"});
  for (int footage : {kCamera, kPhone})
    for (int frames : {1, -1, 10, -10})
      for (int way : {kNative, kPanel})
        for (int by_seek : {0, 1})
          if (footage == kCamera || std::abs(frames) == 1)
            b->Args({footage, frames, way, by_seek, 1});
  for (int footage : {kCamera, kPhone})
    for (int frames : {1, -1})
      b->Args({footage, frames, kNative, 0, 4});
}
BENCHMARK(BM_StepAfterSeek)
    ->Apply(StepArgs)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Six steps back, one after the other, right after an accurate seek to a random spot: each
// step's time is a sample (step<i>_median_ms: the i-th step's), the benchmark's time the six.
void BM_SixBackAfterSeek(benchmark::State& state) {
  BenchMovie movie(MovieOf(state.range(0)), kWidth, kHeight, state.range(2) != 0);
  if (!movie.ok()) {
    state.SkipWithError("movie did not open (ffmpeg made no footage?)");
    return;
  }
  movie.Zoom(int(state.range(3)));
  Spots spots(movie.Duration());
  std::vector<double> samples;
  std::vector<double> nth[6];
  for (auto _ : state) {
    movie.SeekTo(spots.Next());
    double six = 0;
    for (auto& times : nth) {
      const auto t0 = Clock::now();
      Step(movie, state.range(1), -1);
      times.push_back(MsSince(t0));
      samples.push_back(times.back());
      six += times.back();
    }
    state.SetIterationTime(six / 1000);
  }
  ReportMs(state, samples);
  for (int i = 0; i < 6; ++i)
    state.counters["step" + std::to_string(i + 1) + "_median_ms"] = Percentile(nth[i], 50);
}
BENCHMARK(BM_SixBackAfterSeek)
    ->ArgsProduct({{kCamera, kPhone}, {kNative, kPanel}, {0, 1}, {1}})
    ->Args({kCamera, kNative, 0, 4})
    ->Args({kPhone, kNative, 0, 4})
    ->ArgNames({"phone", "panel", "by_seek", "zoom"})
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The accurate seek alone, to random spots 0.3 s apart: what a step that misses is measured
// against (as shipped, each seek also stops the back fill the one before started).
void BM_AccurateSeek(benchmark::State& state) {
  BenchMovie movie(MovieOf(state.range(0)), kWidth, kHeight, state.range(1) != 0);
  if (!movie.ok()) {
    state.SkipWithError("movie did not open (ffmpeg made no footage?)");
    return;
  }
  Spots spots(movie.Duration());
  std::vector<double> samples;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    movie.SeekTo(spots.Next());
    samples.push_back(MsSince(t0));
    state.SetIterationTime(samples.back() / 1000);
    std::this_thread::sleep_for(kLookAfterSeek);
  }
  ReportMs(state, samples);
}
BENCHMARK(BM_AccurateSeek)
    ->ArgsProduct({{kCamera, kPhone}, {0, 1}})
    ->ArgNames({"phone", "by_seek"})
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The first step back right after pausing a playing movie: the cache holds what was shown.
void BM_FirstStepAfterPause(benchmark::State& state) {
  BenchMovie movie(quorvex::bench::CameraFootage(), kWidth, kHeight, state.range(0) != 0);
  if (!movie.ok()) {
    state.SkipWithError("movie did not open (ffmpeg made no footage?)");
    return;
  }
  std::vector<double> samples;
  for (auto _ : state) {
    movie.SeekTo(quorvex::bench::Units(6.0));
    movie.client().Run();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    movie.client().Pause();
    const auto t0 = Clock::now();
    movie.StepFrames(-1);
    samples.push_back(MsSince(t0));
    state.SetIterationTime(samples.back() / 1000);
  }
  ReportMs(state, samples);
}
BENCHMARK(BM_FirstStepAfterPause)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("by_seek")
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// One click on "+0.03" or "-0.03" with sixteen 720p movies: every movie is stepped in turn and
// has drawn its new picture when its reply arrives.
void BM_SixteenMoviesOneStep(benchmark::State& state) {
  std::vector<std::unique_ptr<BenchMovie>> movies;
  for (int i = 0; i < 16; ++i) {
    movies.push_back(std::make_unique<BenchMovie>(quorvex::bench::Footage720p(), 400, 225,
                                                  state.range(0) != 0));
    if (!movies.back()->ok()) {
      state.SkipWithError("movie did not open");
      return;
    }
    movies.back()->SeekTo(quorvex::bench::Units(3.0 + 0.1 * i));
  }
  std::this_thread::sleep_for(std::chrono::seconds(3));
  std::vector<double> samples;
  int direction = 1;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    for (auto& m : movies)
      m->PanelStep(direction / 29.97);
    samples.push_back(MsSince(t0));
    state.SetIterationTime(samples.back() / 1000);
    direction = -direction;
  }
  ReportMs(state, samples);
}
BENCHMARK(BM_SixteenMoviesOneStep)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("by_seek")
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
