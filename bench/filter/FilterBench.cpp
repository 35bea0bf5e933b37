// CPU cost of the pitch-shift filter per second of input audio (44.1 kHz stereo, in the
// 10 ms samples a decoder delivers), by stretch factor and pitch correction. At rate 1/n one
// second of input plays for n seconds, so the share of a core while playing is the cost per
// input second divided by n: reported as `core_pct_playing`.
#include <benchmark/benchmark.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/CPitchShiftFilter.h"
#include "audio/MediaSample.h"

namespace {

using quorvex::CPitchShiftFilter;
using namespace quorvex::audio;

constexpr int32_t kRate = 44100;
constexpr int32_t kChannels = 2;
constexpr int32_t kFramesPerSample = 441;

double ThreadCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

// One second of a two-tone signal, so the vocoder has real work in every frame.
std::vector<int16_t> OneSecond() {
  std::vector<int16_t> samples(size_t(kRate * kChannels));
  for (int32_t i = 0; i < kRate; ++i) {
    const double t = double(i) / kRate;
    const double v = 0.2 * std::sin(2 * M_PI * 440 * t) + 0.1 * std::sin(2 * M_PI * 1250 * t);
    samples[size_t(2 * i)] = samples[size_t(2 * i + 1)] = int16_t(v * 32767);
  }
  return samples;
}

void BM_FilterSecondOfAudio(benchmark::State& state) {
  const int32_t factor = int32_t(state.range(0));
  const bool pitch = state.range(1) != 0;
  auto filter = std::make_unique<CPitchShiftFilter>();
  GrantingAllocator output_allocator;
  filter->ConnectInput(PcmType(kChannels, kRate, 16));
  ALLOCATOR_PROPERTIES request;
  if (filter->DecideBufferSize(&output_allocator, &request) != 0) {
    state.SkipWithError("cannot size the filter");
    return;
  }
  filter->SetRate(1.0 / factor);
  filter->EnablePitchShift(pitch);
  std::vector<int16_t> second = OneSecond();
  std::vector<uint8_t> out(size_t(request.cbBuffer));
  const int32_t sample_bytes = kFramesPerSample * kChannels * 2;
  int64_t time = 0;
  int64_t produced = 0;

  const double cpu_start = ThreadCpuSeconds();
  for (auto _ : state) {
    for (int32_t frame = 0; frame < kRate; frame += kFramesPerSample) {
      MemorySample input(reinterpret_cast<uint8_t*>(second.data() + frame * kChannels),
                         sample_bytes, sample_bytes);
      const int64_t stop = time + 100'000;  // 10 ms in 100 ns units
      input.SetTime(&time, &stop);
      MemorySample output(out.data(), int32_t(out.size()));
      output.SetTime(&time, &stop);
      filter->Transform(&input, &output);
      produced += output.GetActualDataLength();
      time = stop;
    }
    benchmark::DoNotOptimize(out.data());
  }
  const double cpu_per_second = (ThreadCpuSeconds() - cpu_start) / double(state.iterations());
  state.counters["cpu_ms_per_input_s"] = cpu_per_second * 1e3;
  state.counters["core_pct_playing"] = cpu_per_second / factor * 100.0;
  state.counters["out_bytes"] = double(produced) / double(state.iterations());
}

BENCHMARK(BM_FilterSecondOfAudio)
    ->ArgNames({"factor", "pitch"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({16, 0})
    ->Args({2, 1})
    ->Args({4, 1})
    ->Args({16, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
