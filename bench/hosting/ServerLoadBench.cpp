// What movie servers hold and use, on the camera footage (bench/Footage.h): resident memory of
// one and of eight servers once their caches are full, and the processor time of playing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/Footage.h"
#include "bench/hosting/BenchMovie.h"
#include "engine/CMovie.h"
#include "tests/support/XTestWindow.h"

namespace {

using quorvex::bench::BenchMovie;
using quorvex::bench::Units;
using Clock = std::chrono::steady_clock;

// What a coach does before the memory is read: seeks, waits, steps both ways with the keys and
// the panel, seeks elsewhere; the cache and the back fill have had every chance to fill.
void UseForAWhile(BenchMovie& movie) {
  const auto wait = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1500)); };
  movie.SeekTo(Units(5.0));
  wait();
  for (int i = 0; i < 6; ++i)
    movie.StepFrames(-1);
  for (int i = 0; i < 6; ++i)
    movie.StepFrames(+1);
  for (int i = 0; i < 3; ++i)
    movie.PanelStep(-10 / 29.97);
  movie.SeekTo(Units(2.0));
  wait();
  movie.SeekTo(Units(8.0));
  wait();
  for (int i = 0; i < 3; ++i)
    movie.StepFrames(-1);
}

// Resident memory of `movies` servers, each with the 1080p60 camera movie drawn at `width`
// (16:9), paused after UseForAWhile: resident_MiB and peak_MiB (VmRSS, VmHWM) summed over the
// servers, largest_MiB the largest server's resident set; pss_MiB what they take together
// (the libraries they share counted once), anon_MiB what they allocated themselves.
void BM_ServerMemory(benchmark::State& state) {
  const int count = int(state.range(0));
  const int width = int(state.range(1));
  for (auto _ : state) {
    std::vector<std::unique_ptr<BenchMovie>> movies;
    for (int i = 0; i < count; ++i) {
      movies.push_back(std::make_unique<BenchMovie>(quorvex::bench::CameraFootage(), width,
                                                    width * 9 / 16, false));
      if (!movies.back()->ok()) {
        state.SkipWithError("movie did not open (ffmpeg made no footage?)");
        return;
      }
    }
    for (auto& movie : movies)
      UseForAWhile(*movie);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    double resident = 0, peak = 0, largest = 0, proportional = 0, anonymous = 0;
    for (auto& movie : movies) {
      const BenchMovie::Memory memory = movie->ServerMemory();
      resident += memory.resident_mib;
      peak += memory.peak_mib;
      proportional += memory.proportional_mib;
      anonymous += memory.anonymous_mib;
      largest = std::max(largest, memory.resident_mib);
    }
    state.counters["resident_MiB"] = resident;
    state.counters["pss_MiB"] = proportional;
    state.counters["anon_MiB"] = anonymous;
    state.counters["peak_MiB"] = peak;
    state.counters["largest_MiB"] = largest;
  }
}
BENCHMARK(BM_ServerMemory)
    ->Args({1, 960})
    ->Args({1, 1920})
    ->Args({8, 480})
    ->ArgNames({"movies", "width"})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// One server playing the 1080p60 camera movie drawn at `width` (16:9) for 5 s at
// rate_x4 / 4: cpu_pct is its processor time over the wall time, in % of one core; behind_s
// how far the position fell behind the rate's clock (a server that cannot keep up stalls or
// drops pictures).
void BM_Playing(benchmark::State& state) {
  const double rate = double(state.range(0)) / 4;
  const int width = int(state.range(1));
  BenchMovie movie(quorvex::bench::CameraFootage(), width, width * 9 / 16, false);
  if (!movie.ok()) {
    state.SkipWithError("movie did not open (ffmpeg made no footage?)");
    return;
  }
  for (auto _ : state) {
    movie.SeekTo(Units(0.5));
    if (rate != 1)
      movie.client().SetRate(rate);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu0 = movie.ServerCpuSeconds();
    const int64_t at0 = movie.Position();
    const auto t0 = Clock::now();
    movie.client().Run();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double cpu = movie.ServerCpuSeconds() - cpu0;
    const double played = double(movie.Position() - at0) / quorvex::bench::kUnitsPerSecond;
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    movie.client().Pause();
    state.counters["cpu_pct"] = 100 * cpu / wall;
    state.counters["behind_s"] = wall * rate - played;
  }
}
BENCHMARK(BM_Playing)
    ->ArgsProduct({{4, 1}, {960, 1920}})
    ->ArgNames({"rate_x4", "width"})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Four 1080p60 movies playing at rate 1 for 9 s: the processor time of each server in % of a
// core, and how far the slowest fell behind the wall clock (late_s).
void BM_FourMoviesPlaying1080p60(benchmark::State& state) {
  std::vector<std::unique_ptr<BenchMovie>> movies;
  for (int i = 0; i < 4; ++i) {
    movies.push_back(
        std::make_unique<BenchMovie>(quorvex::bench::CameraFootage(), 480, 270, false));
    if (!movies.back()->ok()) {
      state.SkipWithError("movie did not open (ffmpeg made no footage?)");
      return;
    }
  }
  for (auto _ : state) {
    std::vector<double> cpu0;
    for (auto& m : movies) {
      m->SeekTo(0);
      cpu0.push_back(m->ServerCpuSeconds());
    }
    for (auto& m : movies)
      m->client().Run();
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(9));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    double cpu = 0, behind = 0;
    for (size_t i = 0; i < movies.size(); ++i) {
      const double played = double(movies[i]->Position()) / quorvex::bench::kUnitsPerSecond;
      behind = std::max(behind, wall - played);
      cpu += movies[i]->ServerCpuSeconds() - cpu0[i];
      movies[i]->client().Pause();
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
  const std::string path = quorvex::bench::CameraFootage();
  for (auto& w : windows) {
    movies.push_back(std::make_unique<quorvex::CMovie>());
    if (path.empty() ||
        !movies.back()->InitializeGraph(std::u16string(path.begin(), path.end()), w.id())) {
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
