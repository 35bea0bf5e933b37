// The 4096-point transforms against a direct double-precision DFT, for both implementations,
// and the phase-vocoder pitch shifter judged by what it does to signals (level, lag, dominant
// frequency), with the spectral measurements of FftReference.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/CPitchShift.h"
#include "audio/FFT.h"
#include "tests/audio/FftReference.h"

namespace quorvex::test {
namespace {

// Relative error of a whole single-precision transform: rounding over 12 stages adds up like a
// random walk to about 1e-7 (measured); a wrong twiddle, sign, lane or order gives 1e-2 and
// more even if it touches only a few of the 4096 values.
constexpr double kTransformTolerance = 1e-6;

struct Implementation {
  std::string name;
  ffft_function forward;
  frfft_function inverse;
};

std::vector<Implementation> Implementations() {
  std::vector<Implementation> all = {{"C", FFT_C::ffft, FFT_C::frfft}};
#if QUORVEX_HAVE_FFT_SSE
  all.push_back({"SSE", FFT_SSE::ffft, FFT_SSE::frfft});
#endif
  return all;
}

// A test input, with bins worked out by hand: they anchor the scaling and the sign of the
// exponent, so that a reference and a transform that shared a mistake could not agree.
struct Signal {
  std::string name;
  std::function<double(int)> x;  // sample n
  std::vector<std::pair<int, Complex>> known_bins = {};
};

void PrintTo(const Implementation& impl, std::ostream* os) {
  *os << impl.name;
}
void PrintTo(const Signal& signal, std::ostream* os) {
  *os << signal.name;
}

std::function<double(int)> Cosine(double cycles, double phase) {
  return [=](int n) { return std::cos(2.0 * std::numbers::pi * cycles * n / kN + phase); };
}

Signal Noise() {
  std::mt19937 gen(17);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> x(kN);
  for (double& v : x)
    v = dist(gen);
  return {"Noise", [x](int n) { return x[n]; }};
}

std::vector<Signal> Signals() {
  const Complex i(0.0, 1.0);
  return {{"Constant", Cosine(0, 0), {{0, 64.0}, {1, 0.0}}},
          {"Impulse0", [](int n) { return n == 0 ? 1.0 : 0.0; }, {{5, 1 / 64.0}, {2048, 1 / 64.0}}},
          {"Impulse1234", [](int n) { return n == 1234 ? -0.75 : 0.0; }},
          {"Sine5", Cosine(5, -std::numbers::pi / 2), {{5, 32.0 * i}, {4091, -32.0 * i}}},
          {"OffCentre", Cosine(300.37, 0.4)},
          Noise()};
}

std::unique_ptr<RealFrame> ToFrame(const std::function<double(int)>& x) {
  auto frame = std::make_unique<RealFrame>();
  for (int n = 0; n < kN; ++n)
    frame->v[n] = static_cast<float>(x(n));
  return frame;
}

// The exact input of a transform: the float samples it is actually given, widened.
std::vector<Complex> Widen(const RealFrame& frame) {
  return std::vector<Complex>(frame.v, frame.v + kN);
}

std::vector<Complex> Unpack(const Blocks& blocks) {
  std::vector<Complex> out(kN);
  for (int k = 0; k < kN; ++k)
    out[k] = Get(blocks, k);
  return out;
}

std::unique_ptr<Blocks> Forward(const Implementation& impl, const RealFrame& in) {
  auto out = std::make_unique<Blocks>();
  impl.forward(in.v, out->b);
  return out;
}

class FftForward : public testing::TestWithParam<std::tuple<Implementation, Signal>> {};

TEST_P(FftForward, MatchesReferenceDft) {
  const auto& [impl, signal] = GetParam();
  ffft_init();
  const auto frame = ToFrame(signal.x);
  const auto out = Unpack(*Forward(impl, *frame));
  EXPECT_LT(RelativeError(out, ReferenceDft(Widen(*frame), +1, 1.0 / 64)), kTransformTolerance);
  for (const auto& [k, value] : signal.known_bins)
    EXPECT_LT(std::abs(out[k] - value), 1e-5) << k;
}

INSTANTIATE_TEST_SUITE_P(All, FftForward,
                         testing::Combine(testing::ValuesIn(Implementations()),
                                          testing::ValuesIn(Signals())),
                         [](const auto& info) {
                           return std::get<0>(info.param).name + "_" + std::get<1>(info.param).name;
                         });

class FftInverse : public testing::TestWithParam<Implementation> {};

// A random spectrum (not conjugate-symmetric) covers every input the shifter can synthesise;
// only the real half of each result is compared. The spectrum is left as it was.
TEST_P(FftInverse, MatchesReferenceDftAndKeepsInput) {
  ffft_init();
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> dist(-64.0, 64.0);
  auto spectrum = std::make_unique<Blocks>();
  for (int k = 0; k < kN; ++k)
    Set(*spectrum, k, Complex(dist(gen), dist(gen)));
  const auto before = std::make_unique<Blocks>(*spectrum);
  auto out = std::make_unique<RealFrame>();
  auto work = std::make_unique<Blocks>();
  GetParam().inverse(spectrum->b, out->v, work->b);
  std::vector<Complex> expected = ReferenceDft(Unpack(*spectrum), -1, 1.0 / 64);
  for (Complex& value : expected)
    value = value.real();
  EXPECT_LT(RelativeError(Widen(*out), expected), kTransformTolerance);
  EXPECT_EQ(std::memcmp(before.get(), spectrum.get(), sizeof(Blocks)), 0);
}

INSTANTIATE_TEST_SUITE_P(All, FftInverse, testing::ValuesIn(Implementations()),
                         [](const auto& info) { return info.param.name; });

// The tables are built on first use by whichever thread comes first; the others must see
// them complete. No ffft_init here.
TEST(FftFirstUse, ConcurrentTransformsAgree) {
  const auto frame = ToFrame(Noise().x);
  const auto impls = Implementations();
  std::vector<std::unique_ptr<Blocks>> results(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t)
    threads.emplace_back([&, t] { results[t] = Forward(impls[t % impls.size()], *frame); });
  for (auto& thread : threads)
    thread.join();
  const auto expected = ReferenceDft(Widen(*frame), +1, 1.0 / 64);
  for (const auto& result : results)
    EXPECT_LT(RelativeError(Unpack(*result), expected), kTransformTolerance);
}

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
  for (float& v : x)
    v += dist(gen);
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
  for (size_t n = start; n < a.size(); ++n)
    worst = std::max(worst, double(std::fabs(a[n] - b[n])));
  return worst;
}

// The output is silent until the first hop, also after a Clear in the middle of a stream,
// which leaves nothing of the earlier stream behind; how the stream is split into calls, and
// writing over the input, do not change the output.
TEST(PitchShift, ClearRestartsTheStreamAndCallSizesDoNotMatter) {
  auto shifter = std::make_unique<CPitchShift>();
  const auto input = Noisy(20000, 2, 77.3);
  Shift(4.0f, Noisy(7777, 3), {}, shifter.get());
  shifter->Clear();
  const auto expected = Shift(4.0f, input);
  const auto after_clear = Shift(4.0f, input, {}, shifter.get());
  EXPECT_TRUE(AllZero(after_clear, 0, kHop));
  EXPECT_FALSE(AllZero(after_clear, kHop, kHop));
  EXPECT_EQ(after_clear, expected);
  for (const std::vector<size_t>& chunks :
       std::vector<std::vector<size_t>>{{1, 999, 4000}, {0, 1, 0, 1023, 1025, 0}, {3}})
    EXPECT_EQ(Shift(4.0f, input, chunks), expected) << chunks.size();
  std::vector<float> buffer = input;
  shifter->Clear();
  for (size_t done = 0; done < buffer.size(); done += 700) {
    const auto n = int32_t(std::min<size_t>(700, buffer.size() - done));
    shifter->smbPitchShift(4.0f, n, kFrame, 4, kRate, buffer.data() + done, buffer.data() + done);
  }
  EXPECT_EQ(buffer, expected);
}

// Factor 1: after the settle, the output is the input delayed by one frame, at kUnityGain;
// with either transform pair.
TEST(PitchShift, UnityFactorDelaysByOneFrameAtFixedGain) {
  const auto input = Tone(100, 0.5, kLength);
  std::vector<std::unique_ptr<CPitchShift>> shifters;
  shifters.push_back(std::make_unique<CPitchShift>());
  shifters.push_back(std::make_unique<CPitchShift>(FFT_C::ffft, FFT_C::frfft));
  for (auto& shifter : shifters) {
    const auto out = Shift(1.0f, input, {}, shifter.get());
    std::vector<float> expected(kLength);
    for (size_t n = kFrame; n < kLength; ++n)
      expected[n] = float(kUnityGain * input[n - kFrame]);
    EXPECT_LT(LargestDifference(out, expected, kSettle), 1e-4 * kUnityGain * 0.5);
  }
}

// A bin-centred tone moves exactly. Off the centre, the phase advance over one hop fixes a
// synthesised frequency only modulo sample_rate / hop (4 bins): from factor 4 on, the
// strongest line may lie one such step beside the exact product.
TEST(PitchShift, DominantFrequencyMovesByTheFactor) {
  const double cases[][3] = {// factor, input frequency in bins of 4096, tolerance in bins
                             {2, 50, 0.02},    {4, 50, 0.02},     {16, 127, 0.02},
                             {2, 50.37, 0.05}, {2, 700.61, 0.05}, {8, 50.37, 4.05}};
  for (const auto& [factor, cycles, tolerance] : cases) {
    const auto out = Shift(float(factor), Tone(cycles, 0.5, kLength));
    EXPECT_NEAR(DominantFrequency(out, kSettle, kWindow), factor * cycles, tolerance) << factor;
  }
}

// Analysis bins whose target lies beyond half the frame (the Nyquist bin) are dropped: a tone
// above it vanishes and leaves a tone below it as it was.
TEST(PitchShift, BinsBeyondHalfAreDropped) {
  const auto low = Tone(300, 0.5, kLength), high = Tone(1500, 0.5, kLength);
  std::vector<float> both(kLength);
  for (size_t n = 0; n < kLength; ++n)
    both[n] = low[n] + high[n];
  const auto low_out = Shift(2.0f, low);
  const double level = Rms(low_out, kSettle, kWindow);
  EXPECT_GT(level, 0.25 * kUnityGain * 0.5);                          // not silent: measured 0.47
  EXPECT_LT(Rms(Shift(2.0f, high), kSettle, kWindow), 1e-5 * level);  // measured: 1e-7
  EXPECT_LT(LargestDifference(Shift(2.0f, both), low_out, kSettle), 1e-4 * level);
}

// The synthesis phases are kept within one turn: stored unwrapped in single precision, after
// ~70 s of audio they would hold a phase only to within a radian, turning a third of a pure
// tone's power into noise. Damaged input (NaN, infinities) is forgotten after two frames.
TEST(PitchShift, LongStreamsKeepTonesPureAndRecoverFromNonFiniteInput) {
  const size_t length = 1600 * kHop;
  auto input = Tone(1000, 0.5, length);
  for (size_t n = 3 * kHop; n < 3 * kHop + 100; ++n)
    input[n] = (n % 2) ? kNaN : kInf;
  const auto out = Shift(2.0f, input);
  for (size_t n = 3 * kHop + 100 + 2 * kFrame; n < length; ++n)
    ASSERT_TRUE(std::isfinite(out[n])) << n;
  EXPECT_GT(TonePurity(out, 20 * kHop, 2000), 0.999);
  EXPECT_GT(TonePurity(out, length - kWindow, 2000), 0.999);
}

TEST(PitchShift, EvenHalfTurnsMovesOddResultsAwayFromZero) {
  const std::pair<double, int32_t> cases[] = {
      {2.7, 2}, {3.2, 4},   {-1.5, -2},     {-0.4, 0},         {0.99, 0},
      {1.0, 2}, {-1.0, -2}, {1025.3, 1026}, {std::nan(""), 0}, {1e300, 0}};
  for (const auto& [d, q] : cases)
    EXPECT_EQ(CPitchShift::EvenHalfTurns(d), q) << d;
}

// Broadband input at the largest factor sends most bins far beyond half; unusable arguments
// give silence. Neither may touch the state: afterwards the stream goes on exactly.
TEST(PitchShift, LargeFactorsAndUnusableArgumentsLeaveTheStreamAsItWas) {
  struct Bad {
    const char* name;
    float factor;
    int32_t frame_size, oversampling;
    float rate;
  };
  const Bad cases[] = {{"frame too small", 2, 2048, 4, kRate},
                       {"frame too large", 2, 8192, 4, kRate},
                       {"oversampling zero", 2, kFrame, 0, kRate},
                       {"oversampling beyond frame", 2, kFrame, 8192, kRate},
                       {"rate zero", 2, kFrame, 4, 0},
                       {"rate NaN", 2, kFrame, 4, kNaN},
                       {"factor zero", 0, kFrame, 4, kRate},
                       {"factor negative", -2, kFrame, 4, kRate},
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
  auto shifter = std::make_unique<CPitchShift>();
  for (float v : Shift(16.0f, Noisy(20 * kHop, 6), {}, shifter.get()))
    ASSERT_TRUE(std::isfinite(v));
  shifter->Clear();
  EXPECT_EQ(Shift(2.0f, input, {}, shifter.get()), expected);
}

}  // namespace
}  // namespace quorvex::test
