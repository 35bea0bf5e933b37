// The 4096-point transforms against a direct double-precision DFT, for both implementations,
// and the phase-vocoder pitch shifter judged by what it does to signals (level, lag, frequency).

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <numbers>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "audio/CPitchShift.h"
#include "audio/FFT.h"

namespace quorvex {
namespace {

using Complex = std::complex<double>;
constexpr int kN = kFftLength;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
struct alignas(16) RealFrame {
  float v[kN];
};
struct Blocks {
  vcpx_t b[kFftBlocks];
  std::vector<Complex> Bins() const {
    std::vector<Complex> out;
    for (const vcpx_t& block : b)
      for (int j = 0; j < 4; ++j)
        out.emplace_back(block.re[j], block.im[j]);
    return out;
  }
};

// (1/64) * sum_n x[n] * e^(sign * 2*pi*i*n*k/N), by the definition.
std::vector<Complex> Dft(const std::vector<Complex>& x, int sign) {
  std::vector<Complex> w(kN), out(kN);
  for (int m = 0; m < kN; ++m)
    w[m] = std::polar(1.0 / 64, sign * kTwoPi * m / kN);
  for (int k = 0; k < kN; ++k)
    for (int n = 0, m = 0; n < kN; ++n, m = (m + k) & (kN - 1))
      out[k] += x[n] * w[m];
  return out;
}

// The error of `a` relative to the size of `b`. Single-precision rounding over 12 stages gives
// about 1e-7; a wrong twiddle, sign, lane or order gives 1e-2 and more.
void ExpectClose(const std::vector<Complex>& a, const std::vector<Complex>& b, const char* what) {
  double error = 0.0, size = 0.0;
  for (int k = 0; k < kN; ++k)
    error += std::norm(a[k] - b[k]), size += std::norm(b[k]);
  EXPECT_LT(std::sqrt(error / size), 1e-6) << what;
}

struct Impl {
  const char* name;
  ffft_function forward;
  frfft_function inverse;
};
const Impl kImpls[] = {{"C", FFT_C::ffft, FFT_C::frfft},
#if QUORVEX_HAVE_FFT_SSE
                       {"SSE", FFT_SSE::ffft, FFT_SSE::frfft}
#endif
};

// Forward on noise against the DFT, first from several threads at once without ffft_init (the
// tables are built on first use by whichever thread comes first; the others must see them
// complete); a sine's bins by hand (they anchor scale and sign, which a shared mistake could
// hide); inverse on a random spectrum, which it leaves as it was.
TEST(Fft, BothImplementationsMatchTheDirectDft) {
  std::minstd_rand gen(17);
  auto noise = std::make_unique<RealFrame>(), sine = std::make_unique<RealFrame>();
  for (int n = 0; n < kN; ++n) {
    noise->v[n] = 2.0f * float(gen()) / float(gen.max()) - 1.0f;
    sine->v[n] = float(std::sin(kTwoPi * 5 * n / kN));
  }
  std::vector<std::unique_ptr<Blocks>> results(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    results[t] = std::make_unique<Blocks>();
    threads.emplace_back(
        [&, t] { kImpls[t % std::size(kImpls)].forward(noise->v, results[t]->b); });
  }
  for (size_t t = 0; t < results.size(); ++t)
    threads[t].join();
  const auto expected = Dft({noise->v, noise->v + kN}, +1);
  for (size_t t = 0; t < results.size(); ++t)
    ExpectClose(results[t]->Bins(), expected, kImpls[t % std::size(kImpls)].name);
  auto spectrum = std::make_unique<Blocks>();  // not conjugate-symmetric
  for (int k = 0; k < kN; ++k)
    spectrum->b[k / 4].re[k % 4] = 64 * noise->v[k], spectrum->b[k / 4].im[k % 4] = noise->v[k / 2];
  const auto before = std::make_unique<Blocks>(*spectrum);
  auto inverse = Dft(spectrum->Bins(), -1);
  for (Complex& value : inverse)
    value = value.real();
  for (const Impl& impl : kImpls) {
    auto out = std::make_unique<Blocks>();
    impl.forward(sine->v, out->b);
    const auto bins = out->Bins();
    EXPECT_LT(std::abs(bins[5] - Complex(0, 32)) + std::abs(bins[kN - 5] - Complex(0, -32)), 1e-5)
        << impl.name;
    auto real = std::make_unique<RealFrame>();
    impl.inverse(spectrum->b, real->v, out->b);
    ExpectClose({real->v, real->v + kN}, inverse, impl.name);
    EXPECT_EQ(std::memcmp(before.get(), spectrum.get(), sizeof(Blocks)), 0) << impl.name;
  }
}

constexpr int32_t kFrame = 4096;
constexpr size_t kHop = 1024, kSettle = 16384, kWindow = 8192, kLength = kSettle + kWindow;
// Level of a steady sinusoid at factor 1: 1.5 (the squared window over four frames) * 2 / 8192.
constexpr double kUnityGain = 3.0 / 8192.0;

std::vector<float> Tone(double cycles, size_t count) {
  std::vector<float> y(count);
  for (size_t n = 0; n < count; ++n)
    y[n] = float(0.5 * std::sin(kTwoPi * cycles * n / kN));
  return y;
}

std::vector<float> Noisy(size_t count, unsigned seed) {
  std::minstd_rand gen(seed);
  std::vector<float> x = Tone(77.3, count);
  for (float& v : x)
    v += float(gen()) / float(gen.max()) - 0.5f;
  return x;
}

// Feeds `input` to `s` or a fresh shifter: at once into another buffer, or (chunk > 0) in
// calls of `chunk` samples writing over the input.
std::vector<float> Shift(float factor, const std::vector<float>& input, size_t chunk = 0,
                         CPitchShift* s = nullptr) {
  auto fresh = std::make_unique<CPitchShift>();
  s = s ? s : fresh.get();
  std::vector<float> out = chunk ? input : std::vector<float>(input.size(), -1.0f);
  for (size_t done = 0, n; done < input.size(); done += n) {
    n = std::min(chunk ? chunk : input.size(), input.size() - done);
    s->smbPitchShift(factor, int32_t(n), kFrame, 4, 44100.0f, chunk ? &out[done] : &input[done],
                     &out[done]);
  }
  return out;
}

// The share of the power of kWindow samples from `start` in the sinusoid at `cycles` (bins of
// 4096), by a Goertzel filter under a Hann window: 1 for a pure tone.
double Purity(const std::vector<float>& y, size_t start, double cycles) {
  const double c = 2.0 * std::cos(kTwoPi * cycles / kN);
  double s1 = 0.0, s2 = 0.0, power = 0.0;
  for (size_t n = 0; n < kWindow; ++n) {
    const double s0 = (0.5 - 0.5 * std::cos(kTwoPi * n / kWindow)) * y[start + n] + c * s1 - s2;
    s2 = s1, s1 = s0, power += double(y[start + n]) * y[start + n];
  }
  const double amplitude =
      4.0 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2)) / kWindow;
  return amplitude / std::sqrt(2.0 * power / kWindow);
}

double Rms(const std::vector<float>& y) {
  return std::sqrt(std::inner_product(&y[kSettle], &y[kLength], &y[kSettle], 0.0) / kWindow);
}

// Silent until the first hop, also after a Clear mid-stream, which leaves nothing of the
// earlier stream; call sizes and writing over the input do not change the output.
TEST(PitchShift, ClearRestartsTheStreamAndCallSizesDoNotMatter) {
  auto shifter = std::make_unique<CPitchShift>();
  const auto input = Noisy(20000, 2), expected = Shift(4.0f, input);
  Shift(4.0f, Noisy(7777, 3), 0, shifter.get());
  shifter->Clear();
  const auto after_clear = Shift(4.0f, input, 0, shifter.get());
  EXPECT_TRUE(std::all_of(&after_clear[0], &after_clear[kHop], [](float v) { return v == 0; }));
  EXPECT_NE(after_clear[kHop + 100], 0.0f);
  EXPECT_EQ(after_clear, expected);
  EXPECT_EQ(Shift(4.0f, input, 999), expected);
}

// Factor 1 gives the input delayed by one frame at kUnityGain. A tone moves by the factor
// (most of the power lands there: measured 0.76 and more, 0 for a wrong line); a tone whose target
// lies beyond half the frame vanishes.
TEST(PitchShift, TonesMoveByTheFactorAndBinsBeyondHalfAreDropped) {
  const auto input = Tone(100, kLength), out = Shift(1.0f, input);
  for (size_t n = kSettle; n < kLength; ++n)
    ASSERT_NEAR(out[n], kUnityGain * input[n - kFrame], 1e-4 * kUnityGain * 0.5) << n;
  const double cases[][2] = {{2, 50}, {16, 127}, {2, 700.61}};  // factor, bins of 4096
  for (const auto& [factor, cycles] : cases) {
    EXPECT_GT(Purity(Shift(float(factor), Tone(cycles, kLength)), kSettle, factor * cycles), 0.5)
        << factor << " " << cycles;
  }
  const double low = Rms(Shift(2.0f, Tone(300, kLength)));
  EXPECT_GT(low, 0.25 * kUnityGain * 0.5);
  EXPECT_LT(Rms(Shift(2.0f, Tone(1500, kLength))), 1e-5 * low);
}

// The synthesis phases are kept within one turn (in single precision after ~70 s they would
// hold a phase only to a radian); non-finite input is forgotten after two frames.
TEST(PitchShift, LongStreamsKeepTonesPureAndRecoverFromNonFiniteInput) {
  const size_t length = 1600 * kHop;
  auto input = Tone(1000, length);
  for (size_t n = 3 * kHop; n < 3 * kHop + 100; ++n)
    input[n] = (n % 2) ? std::nanf("") : INFINITY;
  const auto out = Shift(2.0f, input);
  for (size_t n = 3 * kHop + 100 + 2 * kFrame; n < length; ++n)
    ASSERT_TRUE(std::isfinite(out[n])) << n;
  for (const size_t start : {20 * kHop, length - kWindow})
    EXPECT_GT(Purity(out, start, 2000), 0.999);
}

TEST(PitchShift, EvenHalfTurnsMovesOddResultsAwayFromZero) {
  const std::pair<double, int32_t> cases[] = {{2.7, 2}, {3.2, 4},          {-1.5, -2},
                                              {1.0, 2}, {std::nan(""), 0}, {1e300, 0}};
  for (const auto& [d, q] : cases)
    EXPECT_EQ(CPitchShift::EvenHalfTurns(d), q) << d;
}

// Unusable arguments give silence and leave the stream as it was, as does the largest factor
// on broadband input (most bins far beyond half).
TEST(PitchShift, LargeFactorsAndUnusableArgumentsLeaveTheStreamAsItWas) {
  const std::tuple<float, int32_t, int32_t, float> cases[] = {
      {2, 2048, 4, 44100}, {2, kFrame, 0, 44100}, {2, kFrame, 4, 0}, {-2, kFrame, 4, 44100}};
  const auto input = Noisy(6 * kHop, 8), expected = Shift(2.0f, input);
  for (const auto& [factor, frame_size, oversampling, rate] : cases) {
    auto shifter = std::make_unique<CPitchShift>();
    auto out = Shift(2.0f, {input.begin(), input.begin() + 3000}, 0, shifter.get());
    std::vector<float> junk = Noisy(5000, 9);
    shifter->smbPitchShift(factor, 5000, frame_size, oversampling, rate, junk.data(), junk.data());
    EXPECT_TRUE(std::all_of(junk.begin(), junk.end(), [](float v) { return v == 0; })) << rate;
    const auto rest = Shift(2.0f, {input.begin() + 3000, input.end()}, 0, shifter.get());
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_EQ(out, expected) << factor << " " << frame_size << " " << oversampling;
  }
  for (float v : Shift(16.0f, Noisy(20 * kHop, 6)))
    ASSERT_TRUE(std::isfinite(v));
}

}  // namespace
}  // namespace quorvex
