#pragma once

// The figures of a benchmark that times one operation many times: a median says what a user
// usually waits, the 90th percentile and the maximum what a bad moment costs.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace quorvex::bench {

// The nearest-rank percentile `p` (0-100) of `samples`; 0 when there are none.
inline double Percentile(std::vector<double> samples, double p) {
  if (samples.empty())
    return 0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(p / 100 * double(samples.size()));
  const size_t index = size_t(std::clamp(rank, 1.0, double(samples.size()))) - 1;
  return samples[index];
}

// Counters <prefix>median_ms, <prefix>p90_ms and <prefix>max_ms of `samples_ms`.
inline void ReportMs(benchmark::State& state, const std::vector<double>& samples_ms,
                     const std::string& prefix = "") {
  state.counters[prefix + "median_ms"] = Percentile(samples_ms, 50);
  state.counters[prefix + "p90_ms"] = Percentile(samples_ms, 90);
  state.counters[prefix + "max_ms"] = Percentile(samples_ms, 100);
}

}  // namespace quorvex::bench
