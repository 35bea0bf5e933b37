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
constexpr int32_t kOversampling = 4;
constexpr size_t kHop = 1024;
// After four frames every output sample is made of four complete overlapping frames.
constexpr size_t kSettle = 16384;
// Level of a steady bin-centred sinusoid at factor 1: 1.5 (the squared window over four
// frames) * 2 / 8192.
constexpr double kUnityGain = 3.0 / 8192.0;

// Feeds `input` in calls of the sizes in `chunks`, repeated (one call when empty).
std::vector<float> Shift(CPitchShift& shifter, float factor, const std::vector<float>& input,
                         const std::vector<size_t>& chunks = {}) {
  std::vector<float> output(input.size(), -1.0f);
  size_t done = 0;
  for (size_t i = 0; done < input.size(); ++i) {
    const size_t size = chunks.empty() ? input.size() : chunks[i % chunks.size()];
    const size_t n = std::min(size, input.size() - done);
    shifter.smbPitchShift(factor, static_cast<int32_t>(n), kFrame, kOversampling, kRate,
                          input.data() + done, output.data() + done);
    done += n;
  }
  return output;
}

std::vector<float> Noise(size_t count, unsigned seed, float amplitude = 0.5f) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-amplitude, amplitude);
  std::vector<float> x(count);
  for (float& v : x) {
    v = dist(gen);
  }
  return x;
}

std::vector<float> Sum(std::vector<float> a, const std::vector<float>& b) {
  for (size_t i = 0; i < a.size(); ++i) {
    a[i] += b[i];
  }
  return a;
}

bool AllZero(const std::vector<float>& y, size_t start, size_t length) {
  for (size_t i = start; i < start + length; ++i) {
    if (y[i] != 0.0f) {
      return false;
    }
  }
  return true;
}

// --- Start-up: silence until the first frame. ---

TEST(PitchShift, FirstHopIsSilentAfterConstruction) {
  auto shifter = std::make_unique<CPitchShift>();
  const auto out = Shift(*shifter, 2.0f, Sum(Noise(3 * kHop, 1), Tone(100, 0.5, 3 * kHop)));
  EXPECT_TRUE(AllZero(out, 0, kHop));
  EXPECT_FALSE(AllZero(out, kHop, 2 * kHop));
}

TEST(PitchShift, ClearInTheMiddleRestartsTheStream) {
  auto shifter = std::make_unique<CPitchShift>();
  const auto input = Sum(Noise(20000, 2), Tone(100, 0.5, 20000));
  Shift(*shifter, 4.0f, Noise(7777, 3));
  shifter->Clear();
  const auto after_clear = Shift(*shifter, 4.0f, input);
  EXPECT_TRUE(AllZero(after_clear, 0, kHop));
  EXPECT_FALSE(AllZero(after_clear, kHop, kHop));
  // Nothing of the earlier stream survives: the output is that of a new shifter.
  auto fresh = std::make_unique<CPitchShift>();
  EXPECT_EQ(after_clear, Shift(*fresh, 4.0f, input));
}

// --- Call sizes do not matter. ---

class PitchShiftSplit : public testing::TestWithParam<std::vector<size_t>> {};

TEST_P(PitchShiftSplit, SameOutputAsOneCall) {
  const auto input = Sum(Noise(13000, 4), Tone(77.3, 0.3, 13000));
  auto whole = std::make_unique<CPitchShift>();
  const auto expected = Shift(*whole, 2.0f, input);
  auto split = std::make_unique<CPitchShift>();
  EXPECT_EQ(Shift(*split, 2.0f, input, GetParam()), expected);
}

INSTANTIATE_TEST_SUITE_P(Chunks, PitchShiftSplit,
                         testing::Values(std::vector<size_t>{1, 999, 4000},
                                         std::vector<size_t>{0, 1, 0, 1023, 1025, 0},
                                         std::vector<size_t>{4096}, std::vector<size_t>{3},
                                         std::vector<size_t>{5000, 7, 1024}));

TEST(PitchShift, InPlaceGivesTheSameOutput) {
  const auto input = Sum(Noise(9000, 5), Tone(40, 0.3, 9000));
  auto a = std::make_unique<CPitchShift>();
  const auto expected = Shift(*a, 8.0f, input, {700});
  auto b = std::make_unique<CPitchShift>();
  std::vector<float> buffer = input;
  for (size_t done = 0; done < buffer.size(); done += 700) {
    const auto n = static_cast<int32_t>(std::min<size_t>(700, buffer.size() - done));
    b->smbPitchShift(8.0f, n, kFrame, kOversampling, kRate, buffer.data() + done,
                     buffer.data() + done);
  }
  EXPECT_EQ(buffer, expected);
}

// --- What it does to a tone. ---

constexpr size_t kWindow = 8192;  // measuring window after the settle

// The share of the output's power in the sinusoid at `cycles`: 1 for a pure tone.
double TonePurity(const std::vector<float>& y, size_t start, double cycles) {
  return ToneAmplitude(y, start, kWindow, cycles) / (std::sqrt(2.0) * Rms(y, start, kWindow));
}

// Factor 1: after the settle, the output is the input delayed by one frame, at kUnityGain.
TEST(PitchShift, UnityFactorDelaysByOneFrameAtFixedGain) {
  constexpr double kAmplitude = 0.5;
  constexpr size_t kLength = kSettle + kWindow;
  const auto input = Tone(100, kAmplitude, kLength);
  auto shifter = std::make_unique<CPitchShift>();
  const auto out = Shift(*shifter, 1.0f, input);
  EXPECT_NEAR(DominantFrequency(out, kSettle, kWindow), 100.0, 0.02);
  EXPECT_NEAR(ToneAmplitude(out, kSettle, kWindow, 100) / kAmplitude, kUnityGain,
              kUnityGain * 1e-3);
  // Sample by sample (measured: within 1e-5 of the level, single-precision rounding).
  double worst = 0.0;
  for (size_t n = kSettle; n < kLength; ++n) {
    worst = std::max(worst, std::fabs(out[n] - kUnityGain * input[n - kFrame]));
  }
  EXPECT_LT(worst, 1e-4 * kUnityGain * kAmplitude);
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
  auto shifter = std::make_unique<CPitchShift>();
  const auto out =
      Shift(*shifter, static_cast<float>(factor), Tone(cycles, 0.5, kSettle + kWindow));
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
  auto shifter = std::make_unique<CPitchShift>();
  const auto out = Shift(*shifter, 0.5f, Tone(200, 0.5, kSettle + kWindow));
  EXPECT_GT(ToneAmplitude(out, kSettle, kWindow, 100), 0.75 * kUnityGain * 0.5);
  EXPECT_GT(TonePurity(out, kSettle, 100), 0.99);
}

// Analysis bins whose target lies beyond half the frame (the Nyquist bin) are dropped: a tone
// above it vanishes and leaves a tone below it as it was.
TEST(PitchShift, BinsBeyondHalfAreDropped) {
  constexpr size_t kLength = kSettle + kWindow;
  auto low = std::make_unique<CPitchShift>();
  const auto low_out = Shift(*low, 2.0f, Tone(300, 0.5, kLength));
  auto both = std::make_unique<CPitchShift>();
  const auto both_out = Shift(*both, 2.0f, Sum(Tone(300, 0.5, kLength), Tone(1500, 0.5, kLength)));
  auto high = std::make_unique<CPitchShift>();
  const auto high_out = Shift(*high, 2.0f, Tone(1500, 0.5, kLength));

  const double level = Rms(low_out, kSettle, kWindow);
  EXPECT_GT(level, 0.25 * kUnityGain * 0.5);                 // not silent: measured 0.47
  EXPECT_LT(Rms(high_out, kSettle, kWindow), 1e-5 * level);  // measured: 1e-7
  double worst = 0.0;
  for (size_t n = kSettle; n < kLength; ++n) {
    worst = std::max(worst, static_cast<double>(std::fabs(both_out[n] - low_out[n])));
  }
  EXPECT_LT(worst, 1e-4 * level);
}

// Broadband input at the largest factor sends most bins far beyond half. Nothing of that may
// land outside the synthesis arrays: afterwards the same object still shifts exactly.
TEST(PitchShift, LargeFactorsLeaveTheRestOfTheObjectIntact) {
  auto shifter = std::make_unique<CPitchShift>();
  for (float factor : {16.0f, 1000.0f, 1e30f}) {
    const auto noise_out = Shift(*shifter, factor, Noise(20 * kHop, 6, 1.0f));
    for (float v : noise_out) {
      ASSERT_TRUE(std::isfinite(v)) << factor;
    }
  }
  shifter->Clear();
  auto fresh = std::make_unique<CPitchShift>();
  const auto input = Tone(100, 0.5, kSettle + kWindow);
  EXPECT_EQ(Shift(*shifter, 1.0f, input), Shift(*fresh, 1.0f, input));
}

// The synthesis phases are kept within one turn. Stored unwrapped in single precision they
// grow by about 3000 radians per frame in the top bins; after ~37 s of audio they hold a phase
// only to within half a radian (purity 0.99 here), after ~70 s within a radian, which turns a
// third of a pure tone's power into noise. Wrapped, the tone stays pure however long it runs.
TEST(PitchShift, LongStreamsKeepTonesPure) {
  constexpr size_t kLength = 1600 * kHop;
  auto shifter = std::make_unique<CPitchShift>();
  const auto out = Shift(*shifter, 2.0f, Tone(1000, 0.5, kLength));
  EXPECT_GT(TonePurity(out, kSettle, 2000), 0.999);
  EXPECT_GT(TonePurity(out, kLength - kWindow, 2000), 0.999);
}

TEST(PitchShift, RecoversFromNonFiniteInput) {
  constexpr size_t kLength = 40 * kHop;
  auto input = Tone(100, 0.5, kLength);
  for (size_t n = 3 * kHop; n < 3 * kHop + 100; ++n) {
    input[n] =
        (n % 2) ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
  }
  auto shifter = std::make_unique<CPitchShift>();
  const auto out = Shift(*shifter, 2.0f, input);
  // The damaged samples leave the input FIFO after one frame, the overlap after another.
  const size_t clean = 3 * kHop + 100 + 2 * kFrame;
  for (size_t n = clean; n < kLength; ++n) {
    ASSERT_TRUE(std::isfinite(out[n])) << n;
  }
  EXPECT_NEAR(DominantFrequency(out, kLength - kWindow, kWindow), 200.0, 0.02);
  EXPECT_GT(TonePurity(out, kLength - kWindow, 200), 0.999);
}

#if QUORVEX_HAVE_FFT_SSE
// The transform pair only changes single-precision rounding; the output follows suit.
TEST(PitchShift, PortableAndVectorTransformsGiveTheSameSound) {
  const auto input = Sum(Noise(kSettle + kWindow, 7), Tone(100, 0.5, kSettle + kWindow));
  auto portable = std::make_unique<CPitchShift>(FFT_C::ffft, FFT_C::frfft);
  auto vector = std::make_unique<CPitchShift>(FFT_SSE::ffft, FFT_SSE::frfft);
  const auto a = Shift(*portable, 4.0f, input);
  const auto b = Shift(*vector, 4.0f, input);
  std::vector<Complex> ca(a.begin(), a.end()), cb(b.begin(), b.end());
  EXPECT_LT(RelativeError(ca, cb), 1e-4);
}
#endif

// --- The phase-unwrapping step and the argument checks. ---

TEST(PitchShift, EvenHalfTurnsMovesOddResultsAwayFromZero) {
  const std::vector<std::pair<double, int32_t>> cases = {
      {2.7, 2},  {3.2, 4},   {-1.5, -2},     {-0.4, 0},
      {0.0, 0},  {0.99, 0},  {1.0, 2},       {-1.0, -2},
      {4.0, 4},  {-3.9, -4}, {1025.3, 1026}, {std::numeric_limits<double>::quiet_NaN(), 0},
      {1e300, 0}};
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
    const int32_t n = 1500;
    shifter->smbPitchShift(2.0f, n, kFrame, oversampling, kRate, input.data() + done,
                           output.data() + done);
    done += n;
  }
  for (size_t i = 0; i < done; ++i) {
    ASSERT_TRUE(std::isfinite(output[i]) && std::fabs(output[i]) < 1.0f) << i;
  }
}

struct BadArguments {
  std::string name;
  float pitch_factor;
  int32_t frame_size;
  int32_t oversampling;
  float sample_rate;
};

void PrintTo(const BadArguments& a, std::ostream* os) {
  *os << a.name;
}

class PitchShiftArguments : public testing::TestWithParam<BadArguments> {};

// Unusable arguments give silence and leave the stream where it was.
TEST_P(PitchShiftArguments, GiveSilenceAndKeepTheState) {
  const BadArguments& bad = GetParam();
  const auto input = Sum(Noise(6 * kHop, 8), Tone(60, 0.5, 6 * kHop));
  auto reference = std::make_unique<CPitchShift>();
  const auto expected = Shift(*reference, 2.0f, input);

  auto shifter = std::make_unique<CPitchShift>();
  auto first = Shift(*shifter, 2.0f, std::vector<float>(input.begin(), input.begin() + 3000));
  std::vector<float> junk = Noise(5000, 9);
  shifter->smbPitchShift(bad.pitch_factor, 5000, bad.frame_size, bad.oversampling, bad.sample_rate,
                         junk.data(), junk.data());
  EXPECT_TRUE(AllZero(junk, 0, junk.size()));
  const auto rest = Shift(*shifter, 2.0f, std::vector<float>(input.begin() + 3000, input.end()));
  first.insert(first.end(), rest.begin(), rest.end());
  EXPECT_EQ(first, expected);
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(Unusable, PitchShiftArguments,
                         testing::Values(BadArguments{"FrameTooSmall", 2, 2048, 4, kRate},
                                         BadArguments{"FrameTooLarge", 2, 8192, 4, kRate},
                                         BadArguments{"FrameZero", 2, 0, 4, kRate},
                                         BadArguments{"OversamplingZero", 2, kFrame, 0, kRate},
                                         BadArguments{"OversamplingNegative", 2, kFrame, -4, kRate},
                                         BadArguments{"OversamplingBeyondFrame", 2, kFrame, 8192,
                                                      kRate},
                                         BadArguments{"RateZero", 2, kFrame, 4, 0},
                                         BadArguments{"RateNegative", 2, kFrame, 4, -kRate},
                                         BadArguments{"RateNaN", 2, kFrame, 4, kNaN},
                                         BadArguments{"FactorZero", 0, kFrame, 4, kRate},
                                         BadArguments{"FactorNegative", -2, kFrame, 4, kRate},
                                         BadArguments{"FactorNaN", kNaN, kFrame, 4, kRate},
                                         BadArguments{"FactorInfinite", kInf, kFrame, 4, kRate}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvex::test
