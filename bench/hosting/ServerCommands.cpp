// What hosting a movie in another process costs the user-interface thread: the 100 ms timer's
// position and duration queries, starting a server, opening a movie in it, and closing it.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchServer.h"
#include "hosting/CMovieClient.h"
#include "tests/support/XTestWindow.h"

namespace {

using Clock = std::chrono::steady_clock;

std::u16string Movie() {
  const std::string p = std::string(QUORVEX_BENCH_MOVIES) + "/h264-aac-16x9.mp4";
  return std::u16string(p.begin(), p.end());
}

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

struct OpenMovie {
  OpenMovie() : window(320, 180), client(quorvex::bench::ServerOptions()) {
    ok = client.InitializeGraph(Movie().c_str(), window.id());
    client.Pause();
  }
  quorvex::test::XTestWindow window;
  quorvex::CMovieClient client;
  bool ok = false;
};

// The timer pair for every open movie, as one tick of every movie window's timer does it.
// cpu_per_tick_16_pct: this process's CPU for 16 movies at 10 ticks a second, in % of a core.
void BM_TimerPair(benchmark::State& state) {
  std::vector<std::unique_ptr<OpenMovie>> movies;
  for (int i = 0; i < state.range(0); ++i) {
    movies.push_back(std::make_unique<OpenMovie>());
    if (!movies.back()->ok)
      state.SkipWithError("movie did not open");
  }
  int64_t pairs = 0;
  const double cpu0 = CpuSeconds();
  for (auto _ : state) {
    for (auto& m : movies) {
      int64_t pos = 0, dur = 0;
      m->client.GetCurrentPosition(&pos);
      m->client.GetDuration(&dur);
      ++pairs;
    }
  }
  const double cpu_per_pair = (CpuSeconds() - cpu0) / double(pairs);
  state.counters["pairs_per_s"] = benchmark::Counter(double(pairs), benchmark::Counter::kIsRate);
  state.counters["ui_cpu_pct_16_movies_10Hz"] = cpu_per_pair * 16 * 10 * 100;
}
BENCHMARK(BM_TimerPair)->Arg(1)->Arg(8)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_StartOpenClose(benchmark::State& state) {
  double start_ms = 0, open_ms = 0, close_ms = 0;
  for (auto _ : state) {
    quorvex::test::XTestWindow window(320, 180);
    const auto t0 = Clock::now();
    auto client = std::make_unique<quorvex::CMovieClient>(quorvex::bench::ServerOptions());
    const auto t1 = Clock::now();
    if (!client->InitializeGraph(Movie().c_str(), window.id()))
      state.SkipWithError("open failed");
    client->Pause();
    int64_t pos = 0;
    client->GetCurrentPosition(&pos);  // the pause has taken effect once the server answers
    const auto t2 = Clock::now();
    client.reset();
    const auto t3 = Clock::now();
    using ms = std::chrono::duration<double, std::milli>;
    start_ms += ms(t1 - t0).count();
    open_ms += ms(t2 - t1).count();
    close_ms += ms(t3 - t2).count();
  }
  const double n = double(state.iterations());
  state.counters["start_ms"] = start_ms / n;
  state.counters["initialize_ms"] = open_ms / n;
  state.counters["close_ms"] = close_ms / n;
}
BENCHMARK(BM_StartOpenClose)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
