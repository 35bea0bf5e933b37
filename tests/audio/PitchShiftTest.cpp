// The phase-vocoder pitch shifter, judged by what it does to signals (level, lag, dominant
// frequency), with the spectral measurements of FftReference.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/CPitchShift.h"
#include "tests/audio/FftReference.h"

namespace quorvex::test {
namespace {

constexpr float kRate = 44100.0f;
constexpr int32_t kFrame = 4096;
constexpr size_t kHop = 1024;  // at the oversampling of 4
// After four frames every output sample is made of four complete overlapping frames.
constexpr size_t kSettle = 16384;
constexpr size_t kWindow = 8192;  // measuring window after the settle
constexpr size_t kLength = kSettle + kWindow;
// Level of a steady bin-centred sinusoid at factor 1: 1.5 (the squared window over four
// frames) * 2 / 8192.
constexpr double kUnityGain = 3.0 / 8192.0;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A fresh shifter fed `input` in calls of the sizes in `chunks`, repeated (one call when
// empty), continuing `shifter` when given.
std::vector<float> Shift(float factor, const std::vector<float>& input,
                         const std::vector<size_t>& chunks = {}, CPitchShift* shifter = nullptr) {
  auto fresh = std::make_unique<CPitchShift>();
  CPitchShift& s = shifter ? *shifter : *fresh;
  std::vector<float> output(input.size(), -1.0f);
  for (size_t i = 0, done = 0; done < input.size(); ++i) {
    const size_t n =
        std::min(chunks.empty() ? input.size() : chunks[i % chunks.size()], input.size() - done);
    s.smbPitchShift(factor, int32_t(n), kFrame, 4, kRate, input.data() + done,
                    output.data() + done);
    done += n;
  }
  return output;
}

// Uniform noise plus a tone at `cycles` bins, both at 0.5.
std::vector<float> Noisy(size_t count, unsigned seed, double cycles = 100) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
  std::vector<float> x = Tone(cycles, 0.5, count);
  for (float& v : x) {
    v += dist(gen);
  }
  return x;
}

bool AllZero(const std::vector<float>& y, size_t start, size_t length) {
  return std::all_of(y.begin() + start, y.begin() + start + length, [](float v) { return v == 0; });
}

// The share of the output's power in the sinusoid at `cycles`: 1 for a pure tone.
double TonePurity(const std::vector<float>& y, size_t start, double cycles) {
  return ToneAmplitude(y, start, kWindow, cycles) / (std::sqrt(2.0) * Rms(y, start, kWindow));
}

double LargestDifference(const std::vector<float>& a, const std::vector<float>& b, size_t start) {
  double worst = 0.0;
  for (size_t n = start; n < a.size(); ++n) {
    worst = std::max(worst, double(std::fabs(a[n] - b[n])));
  }
  return worst;
}

// The output is silent until the first frame, also after a Clear in the middle of a stream,
// which leaves nothing of the earlier stream behind.
TEST(PitchShift, ClearInTheMiddleRestartsTheStream) {
  auto shifter = std::make_unique<CPitchShift>();
  const auto input = Noisy(20000, 2);
  Shift(4.0f, Noisy(7777, 3), {}, shifter.get());
  shifter->Clear();
  const auto after_clear = Shift(4.0f, input, {}, shifter.get());
  EXPECT_TRUE(AllZero(after_clear, 0, kHop));
  EXPECT_FALSE(AllZero(after_clear, kHop, kHop));
  EXPECT_EQ(after_clear, Shift(4.0f, input));
}

// How a stream is split into calls, and writing over the input, do not change the output.
TEST(PitchShift, CallSizesAndInPlaceDoNotChangeTheOutput) {
  const auto input = Noisy(13000, 4, 77.3);
  const auto expected = Shift(2.0f, input);
  for (const std::vector<size_t>& chunks : std::vector<std::vector<size_t>>{
           {1, 999, 4000}, {0, 1, 0, 1023, 1025, 0}, {4096}, {3}, {5000, 7, 1024}}) {
    EXPECT_EQ(Shift(2.0f, input, chunks), expected) << chunks.size() << " " << chunks[0];
  }
  auto shifter = std::make_unique<CPitchShift>();
  std::vector<float> buffer = input;
  for (size_t done = 0; done < buffer.size(); done += 700) {
    const auto n = int32_t(std::min<size_t>(700, buffer.size() - done));
    shifter->smbPitchShift(2.0f, n, kFrame, 4, kRate, buffer.data() + done, buffer.data() + done);
  }
  EXPECT_EQ(buffer, expected);
}

// Factor 1: after the settle, the output is the input delayed by one frame, at kUnityGain;
// with either transform pair (measured: within 1e-5 of the level, single-precision rounding).
TEST(PitchShift, UnityFactorDelaysByOneFrameAtFixedGain) {
  const auto input = Tone(100, 0.5, kLength);
  std::vector<std::unique_ptr<CPitchShift>> shifters;
  shifters.push_back(std::make_unique<CPitchShift>());
  shifters.push_back(std::make_unique<CPitchShift>(FFT_C::ffft, FFT_C::frfft));
  for (auto& shifter : shifters) {
    const auto out = Shift(1.0f, input, {}, shifter.get());
    EXPECT_NEAR(DominantFrequency(out, kSettle, kWindow), 100.0, 0.02);
    EXPECT_NEAR(ToneAmplitude(out, kSettle, kWindow, 100) / 0.5, kUnityGain, kUnityGain * 1e-3);
    std::vector<float> expected(kLength);
    for (size_t n = kFrame; n < kLength; ++n) {
      expected[n] = float(kUnityGain * input[n - kFrame]);
    }
    EXPECT_LT(LargestDifference(out, expected, kSettle), 1e-4 * kUnityGain * 0.5);
  }
}

struct ToneCase {
  double factor;
  double cycles;     // input frequency in bins of 4096
  double tolerance;  // of the dominant output frequency, in bins
};

void PrintTo(const ToneCase& c, std::ostream* os) {
  *os << c.factor << " x " << c.cycles;
}

class PitchShiftTone : public testing::TestWithParam<ToneCase> {};

TEST_P(PitchShiftTone, DominantFrequencyMovesByTheFactor) {
  const auto [factor, cycles, tolerance] = GetParam();
  const auto out = Shift(float(factor), Tone(cycles, 0.5, kLength));
  EXPECT_NEAR(DominantFrequency(out, kSettle, kWindow), factor * cycles, tolerance);
}

// A bin-centred tone moves exactly. Off the centre, each analysis bin around the tone lands
// `factor` bins from the next, and the phase advance over one hop fixes a synthesised
// frequency only modulo sample_rate / hop (4 bins): from factor 4 on, the output's strongest
// line may lie one such step beside the exact product (measured: 4 bins at 8 and 16).
INSTANTIATE_TEST_SUITE_P(Factors, PitchShiftTone,
                         testing::Values(ToneCase{2, 50, 0.02}, ToneCase{4, 50, 0.02},
                                         ToneCase{8, 50, 0.02}, ToneCase{16, 50, 0.02},
                                         ToneCase{16, 127, 0.02}, ToneCase{0.5, 200, 0.02},
                                         ToneCase{2, 50.37, 0.05}, ToneCase{2, 700.61, 0.05},
                                         ToneCase{4, 50.37, 4.05}, ToneCase{8, 50.37, 4.05},
                                         ToneCase{16, 50.37, 4.05}, ToneCase{16, 120.8, 4.05}));

// Factor 0.5 sends bins 2j and 2j + 1 to bin j: the magnitudes add up, so a bin-centred tone
// keeps most of its level instead of losing the half that lands on odd bins.
TEST(PitchShift, LowerFactorMergesNeighbouringBins) {
  const auto out = Shift(0.5f, Tone(200, 0.5, kLength));
  EXPECT_GT(ToneAmplitude(out, kSettle, kWindow, 100), 0.75 * kUnityGain * 0.5);
  EXPECT_GT(TonePurity(out, kSettle, 100), 0.99);
}

// Analysis bins whose target lies beyond half the frame (the Nyquist bin) are dropped: a tone
// above it vanishes and leaves a tone below it as it was.
TEST(PitchShift, BinsBeyondHalfAreDropped) {
  const auto low = Tone(300, 0.5, kLength), high = Tone(1500, 0.5, kLength);
  std::vector<float> both(kLength);
  for (size_t n = 0; n < kLength; ++n) {
    both[n] = low[n] + high[n];
  }
  const auto low_out = Shift(2.0f, low);
  const double level = Rms(low_out, kSettle, kWindow);
  EXPECT_GT(level, 0.25 * kUnityGain * 0.5);                          // not silent: measured 0.47
  EXPECT_LT(Rms(Shift(2.0f, high), kSettle, kWindow), 1e-5 * level);  // measured: 1e-7
  EXPECT_LT(LargestDifference(Shift(2.0f, both), low_out, kSettle), 1e-4 * level);
}

// Broadband input at the largest factors sends most bins far beyond half. Nothing of that may
// land outside the synthesis arrays: afterwards the same object still shifts exactly.
TEST(PitchShift, LargeFactorsLeaveTheRestOfTheObjectIntact) {
  auto shifter = std::make_unique<CPitchShift>();
  for (float factor : {16.0f, 1000.0f, 1e30f}) {
    for (float v : Shift(factor, Noisy(20 * kHop, 6), {}, shifter.get())) {
      ASSERT_TRUE(std::isfinite(v)) << factor;
    }
  }
  shifter->Clear();
  const auto input = Tone(100, 0.5, kLength);
  EXPECT_EQ(Shift(1.0f, input, {}, shifter.get()), Shift(1.0f, input));
}

// The synthesis phases are kept within one turn. Stored unwrapped in single precision they
// grow by about 3000 radians per frame in the top bins; after ~37 s of audio they hold a phase
// only to within half a radian (purity 0.99 here), after ~70 s within a radian, which turns a
// third of a pure tone's power into noise. Wrapped, the tone stays pure however long it runs.
TEST(PitchShift, LongStreamsKeepTonesPure) {
  const size_t length = 1600 * kHop;
  const auto out = Shift(2.0f, Tone(1000, 0.5, length));
  EXPECT_GT(TonePurity(out, kSettle, 2000), 0.999);
  EXPECT_GT(TonePurity(out, length - kWindow, 2000), 0.999);
}

TEST(PitchShift, RecoversFromNonFiniteInput) {
  const size_t length = 40 * kHop;
  auto input = Tone(100, 0.5, length);
  for (size_t n = 3 * kHop; n < 3 * kHop + 100; ++n) {
    input[n] = (n % 2) ? kNaN : kInf;
  }
  const auto out = Shift(2.0f, input);
  // The damaged samples leave the input FIFO after one frame, the overlap after another.
  for (size_t n = 3 * kHop + 100 + 2 * kFrame; n < length; ++n) {
    ASSERT_TRUE(std::isfinite(out[n])) << n;
  }
  EXPECT_NEAR(DominantFrequency(out, length - kWindow, kWindow), 200.0, 0.02);
  EXPECT_GT(TonePurity(out, length - kWindow, 200), 0.999);
}

TEST(PitchShift, EvenHalfTurnsMovesOddResultsAwayFromZero) {
  const std::pair<double, int32_t> cases[] = {
      {2.7, 2},   {3.2, 4}, {-1.5, -2}, {-0.4, 0},      {0.0, 0},          {0.99, 0}, {1.0, 2},
      {-1.0, -2}, {4.0, 4}, {-3.9, -4}, {1025.3, 1026}, {std::nan(""), 0}, {1e300, 0}};
  for (const auto& [d, q] : cases) {
    EXPECT_EQ(CPitchShift::EvenHalfTurns(d), q) << d;
  }
}

// The oversampling belongs to the stream; a caller that changes it anyway must not make the
// shifter index outside its FIFOs (the sanitizers check the array bounds).
TEST(PitchShift, ChangingTheHopMidStreamStaysInBounds) {
  auto shifter = std::make_unique<CPitchShift>();
  const auto input = Tone(100, 0.5, 3 * kFrame);
  std::vector<float> output(input.size());
  size_t done = 0;
  for (int32_t oversampling : {1, 4, 2, 8, 1, 4}) {
    shifter->smbPitchShift(2.0f, 1500, kFrame, oversampling, kRate, input.data() + done,
                           output.data() + done);
    done += 1500;
  }
  for (size_t i = 0; i < done; ++i) {
    ASSERT_TRUE(std::isfinite(output[i]) && std::fabs(output[i]) < 1.0f) << i;
  }
}

// Unusable arguments give silence and leave the stream where it was.
TEST(PitchShift, UnusableArgumentsGiveSilenceAndKeepTheState) {
  struct Bad {
    const char* name;
    float factor;
    int32_t frame_size, oversampling;
    float rate;
  };
  const Bad cases[] = {{"frame too small", 2, 2048, 4, kRate},
                       {"frame too large", 2, 8192, 4, kRate},
                       {"frame zero", 2, 0, 4, kRate},
                       {"oversampling zero", 2, kFrame, 0, kRate},
                       {"oversampling negative", 2, kFrame, -4, kRate},
                       {"oversampling beyond frame", 2, kFrame, 8192, kRate},
                       {"rate zero", 2, kFrame, 4, 0},
                       {"rate negative", 2, kFrame, 4, -kRate},
                       {"rate NaN", 2, kFrame, 4, kNaN},
                       {"factor zero", 0, kFrame, 4, kRate},
                       {"factor negative", -2, kFrame, 4, kRate},
                       {"factor NaN", kNaN, kFrame, 4, kRate},
                       {"factor infinite", kInf, kFrame, 4, kRate}};
  const auto input = Noisy(6 * kHop, 8, 60);
  const auto expected = Shift(2.0f, input);
  for (const Bad& bad : cases) {
    auto shifter = std::make_unique<CPitchShift>();
    auto out =
        Shift(2.0f, std::vector<float>(input.begin(), input.begin() + 3000), {}, shifter.get());
    std::vector<float> junk = Noisy(5000, 9);
    shifter->smbPitchShift(bad.factor, 5000, bad.frame_size, bad.oversampling, bad.rate,
                           junk.data(), junk.data());
    EXPECT_TRUE(AllZero(junk, 0, junk.size())) << bad.name;
    const auto rest =
        Shift(2.0f, std::vector<float>(input.begin() + 3000, input.end()), {}, shifter.get());
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_EQ(out, expected) << bad.name;
  }
}

}  // namespace
}  // namespace quorvex::test
