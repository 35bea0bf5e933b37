// Speed of the 4096-point transforms and of the pitch shifter. FFTW's single-precision
// transforms of the same length, planned with FFTW_MEASURE, run in the same program as the
// yardstick.

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "audio/CPitchShift.h"
#include "audio/FFT.h"

namespace quorvex {
namespace {

constexpr int kN = kFftLength;

struct alignas(16) RealFrame {
  float v[kN];
};
struct Blocks {
  vcpx_t b[kFftBlocks];
};

std::vector<float> Noise(size_t count) {
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
  std::vector<float> x(count);
  for (float& v : x) {
    v = dist(gen);
  }
  return x;
}

void ReportTransforms(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations());  // items/s = transforms per second
}

template <ffft_function Forward>
void BM_ffft(benchmark::State& state) {
  ffft_init();
  auto in = std::make_unique<RealFrame>();
  auto out = std::make_unique<Blocks>();
  const auto noise = Noise(kN);
  std::copy(noise.begin(), noise.end(), in->v);
  for (auto _ : state) {
    Forward(in->v, out->b);
    benchmark::DoNotOptimize(out->b);
    benchmark::ClobberMemory();
  }
  ReportTransforms(state);
}

template <ffft_function Forward, frfft_function Inverse>
void BM_frfft(benchmark::State& state) {
  ffft_init();
  auto in = std::make_unique<RealFrame>();
  auto spectrum = std::make_unique<Blocks>();
  auto work = std::make_unique<Blocks>();
  auto out = std::make_unique<RealFrame>();
  const auto noise = Noise(kN);
  std::copy(noise.begin(), noise.end(), in->v);
  Forward(in->v, spectrum->b);
  for (auto _ : state) {
    Inverse(spectrum->b, out->v, work->b);
    benchmark::DoNotOptimize(out->v);
    benchmark::ClobberMemory();
  }
  ReportTransforms(state);
}

BENCHMARK(BM_ffft<FFT_C::ffft>)->Name("ffft/FFT_C");
BENCHMARK(BM_frfft<FFT_C::ffft, FFT_C::frfft>)->Name("frfft/FFT_C");
#if QUORVEX_HAVE_FFT_SSE
BENCHMARK(BM_ffft<FFT_SSE::ffft>)->Name("ffft/FFT_SSE");
BENCHMARK(BM_frfft<FFT_SSE::ffft, FFT_SSE::frfft>)->Name("frfft/FFT_SSE");
#endif

// --- FFTW, planned once per benchmark with FFTW_MEASURE on its own aligned arrays. ---

struct FftwBuffers {
  float* real = fftwf_alloc_real(kN);
  fftwf_complex* in = fftwf_alloc_complex(kN);
  fftwf_complex* out = fftwf_alloc_complex(kN);
  ~FftwBuffers() {
    fftwf_free(real);
    fftwf_free(in);
    fftwf_free(out);
  }
  void Fill() {
    const auto noise = Noise(2 * kN);
    for (int i = 0; i < kN; ++i) {
      real[i] = noise[i];
      in[i][0] = noise[i];
      in[i][1] = noise[kN + i];
    }
  }
};

void RunPlan(benchmark::State& state, fftwf_plan plan, FftwBuffers& buffers) {
  buffers.Fill();  // planning with FFTW_MEASURE overwrites the arrays
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::DoNotOptimize(buffers.out);
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
  ReportTransforms(state);
}

void BM_FftwComplex(benchmark::State& state) {
  FftwBuffers buffers;
  RunPlan(state, fftwf_plan_dft_1d(kN, buffers.in, buffers.out, FFTW_FORWARD, FFTW_MEASURE),
          buffers);
}

void BM_FftwRealToComplex(benchmark::State& state) {
  FftwBuffers buffers;
  RunPlan(state, fftwf_plan_dft_r2c_1d(kN, buffers.real, buffers.out, FFTW_MEASURE), buffers);
}

BENCHMARK(BM_FftwComplex)->Name("fftw/complex");
BENCHMARK(BM_FftwRealToComplex)->Name("fftw/real_to_complex");

// --- The pitch shifter: one second of 44.1 kHz audio per iteration, in the filter's calls of
// 1024 samples (one hop, so one frame per call). ---

constexpr float kRate = 44100.0f;
constexpr size_t kSecond = 44100;
constexpr size_t kCall = 1024;

void ShiftOneSecond(benchmark::State& state, CPitchShift& shifter, float factor) {
  const auto input = Noise(kSecond);
  std::vector<float> output(kSecond);
  for (auto _ : state) {
    for (size_t done = 0; done < kSecond; done += kCall) {
      const auto n = static_cast<int32_t>(std::min(kCall, kSecond - done));
      shifter.smbPitchShift(factor, n, kN, 4, kRate, input.data() + done, output.data() + done);
    }
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  const double samples = static_cast<double>(state.iterations()) * kSecond;
  state.SetItemsProcessed(static_cast<int64_t>(samples));
  // Seconds of audio per second of CPU ("/s"), and CPU time per input sample ("s", with the
  // usual n/u prefixes).
  state.counters["realtime_x"] = benchmark::Counter(samples / kRate, benchmark::Counter::kIsRate);
  state.counters["per_sample"] =
      benchmark::Counter(samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PitchShift(benchmark::State& state) {
  auto shifter = std::make_unique<CPitchShift>();
  ShiftOneSecond(state, *shifter, static_cast<float>(state.range(0)));
}

void BM_PitchShiftPortable(benchmark::State& state) {
  auto shifter = std::make_unique<CPitchShift>(FFT_C::ffft, FFT_C::frfft);
  ShiftOneSecond(state, *shifter, static_cast<float>(state.range(0)));
}

BENCHMARK(BM_PitchShift)
    ->Name("smbPitchShift/default")
    ->Arg(2)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PitchShiftPortable)
    ->Name("smbPitchShift/FFT_C")
    ->Arg(2)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvex

BENCHMARK_MAIN();
