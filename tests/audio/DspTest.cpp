// The phase-vocoder pitch shifter judged by what it does to signals (level, lag, frequency),
// with both transform implementations where it matters.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <numeric>
#include <random>
#include <vector>

#include "audio/CPitchShift.h"
#include "audio/FFT.h"

namespace quorvex {
namespace {

constexpr int kN = kFftLength;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// The portable transforms (what a build without SSE runs) and the SSE ones. A wrong scale shows
// in the level at factor 1; a wrong twiddle, lane or order in a tone that does not stay pure or
// in the two implementations disagreeing; a forward transform whose sign disagrees with the
// phase analysis in the tone between bins.
struct Transforms {
  const char* name;
  ffft_function forward;
  frfft_function inverse;
};
const Transforms kTransforms[] = {{"C", FFT_C::ffft, FFT_C::frfft},
#if QUORVEX_HAVE_FFT_SSE
                                  {"SSE", FFT_SSE::ffft, FFT_SSE::frfft}
#endif
};

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
  std::vector<std::vector<float>> noises;  // one per implementation
  for (const Transforms& t : kTransforms) {
    SCOPED_TRACE(t.name);
    const auto shift = [&t](float factor, const std::vector<float>& input) {
      auto shifter = std::make_unique<CPitchShift>(t.forward, t.inverse);
      return Shift(factor, input, 0, shifter.get());
    };
    const auto input = Tone(100, kLength), out = shift(1.0f, input);
    for (size_t n = kSettle; n < kLength; ++n)
      ASSERT_NEAR(out[n], kUnityGain * input[n - kFrame], 1e-4 * kUnityGain * 0.5) << n;
    const double cases[][2] = {{2, 50}, {16, 127}, {2, 700.61}};  // factor, bins of 4096
    for (const auto& [factor, cycles] : cases) {
      EXPECT_GT(Purity(shift(float(factor), Tone(cycles, kLength)), kSettle, factor * cycles), 0.5)
          << factor << " " << cycles;
    }
    const double low = Rms(shift(2.0f, Tone(300, kLength)));
    EXPECT_GT(low, 0.25 * kUnityGain * 0.5);
    EXPECT_LT(Rms(shift(2.0f, Tone(1500, kLength))), 1e-5 * low);
    noises.push_back(shift(2.0f, Noisy(kLength, 5)));
  }
  // Both implementations give the same output but for rounding: what one gets wrong without
  // spoiling a tone, the other does not.
  double difference = 0.0;
  for (size_t n = kSettle; n < kLength; ++n)
    difference += std::pow(noises.back()[n] - noises.front()[n], 2);
  EXPECT_LT(std::sqrt(difference / kWindow), 1e-4 * Rms(noises.front()));
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
