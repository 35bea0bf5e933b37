// Cost of the channel between the two roles, against the floor of this machine: a bare
// blocking ping-pong between two processes over the same kind of socket.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "bench/BenchServer.h"
#include "hosting/CMovieClient.h"
#include "hosting/Channel.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reports the median and 99th percentile of per-call times (in microseconds) as counters:
// the mean alone hides the scheduler's wake-up outliers that a user feels as stutter.
void ReportPercentiles(benchmark::State& state, std::vector<double>& us) {
  if (us.empty())
    return;
  std::sort(us.begin(), us.end());
  state.counters["p50_us"] = us[us.size() / 2];
  state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

void BM_CommandRoundTrip(benchmark::State& state) {
  quorvex::CMovieClient client(quorvex::bench::ServerOptions());
  // A code outside the command range still goes through the server's window procedure and
  // back, without touching a movie.
  const quorvex::channel::CodeOnlyParam p{quorvex::channel::kLastCommand + 1};
  std::vector<double> us;
  us.reserve(100000);
  for (auto _ : state) {
    const auto t0 = Clock::now();
    if (!client.SendCommand(p.code, &p, sizeof p))
      state.SkipWithError("server lost");
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  ReportPercentiles(state, us);
}
BENCHMARK(BM_CommandRoundTrip)->Iterations(100000)->UseRealTime();

void BM_BareSocketPingPong(benchmark::State& state) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  const pid_t child = fork();
  if (child == 0) {
    close(sv[0]);
    char buf[32];
    while (read(sv[1], buf, sizeof buf) > 0) {
      if (write(sv[1], buf, 16) != 16)
        break;
    }
    _exit(0);
  }
  close(sv[1]);
  char frame[32] = {};
  char reply[16];
  std::vector<double> us;
  us.reserve(100000);
  for (auto _ : state) {
    const auto t0 = Clock::now();
    if (write(sv[0], frame, sizeof frame) != sizeof frame ||
        read(sv[0], reply, sizeof reply) <= 0) {
      state.SkipWithError("ping-pong failed");
      break;
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  close(sv[0]);
  waitpid(child, nullptr, 0);
  ReportPercentiles(state, us);
}
BENCHMARK(BM_BareSocketPingPong)->Iterations(100000)->UseRealTime();

void BM_ClientStartAndClose(benchmark::State& state) {
  std::vector<double> us;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    { quorvex::CMovieClient client(quorvex::bench::ServerOptions()); }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  ReportPercentiles(state, us);
}
BENCHMARK(BM_ClientStartAndClose)->Iterations(50)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
