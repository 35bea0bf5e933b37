// The 4096-point transforms against a direct double-precision DFT, for both implementations.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/FFT.h"
#include "tests/audio/FftReference.h"

namespace quorvex::test {
namespace {

// Tolerance for a whole transform, as an error relative to the size of the exact result
// (RelativeError). Single precision rounds each stored value to within u = 2^-24 (6e-8); the
// radix-2 transform stores every value once per stage, 12 stages, and each butterfly adds the
// rounding of its float twiddle (also within u) and of a complex product (a few u). The worst
// case grows linearly with the stages, 12 * ~4u = 3e-6, but the errors of independent
// roundings add up like a random walk: sqrt(12) * ~4u = 8e-7 (measured: 1e-7 to 1.3e-7). A
// wrong twiddle, sign, lane or order gives errors of 1e-2 and more even if it touches only a
// few of the 4096 values.
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

// Impulse: value `b` at sample `a`. Cosine: cos(2*pi*a*n/N + b), `a` in bins (0: a
// constant). Noise: uniform in -1 .. 1, seed `a`.
struct Signal {
  enum Kind { kImpulse, kCosine, kNoise };
  std::string name;
  Kind kind;
  double a;
  double b;
};

// Test names carry the parameters; keep gtest from dumping their bytes.
void PrintTo(const Implementation& impl, std::ostream* os) {
  *os << impl.name;
}
void PrintTo(const Signal& signal, std::ostream* os) {
  *os << signal.name;
}

std::vector<double> Make(const Signal& s) {
  std::vector<double> x(kN, 0.0);
  std::mt19937 gen(static_cast<unsigned>(s.a));
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  for (int n = 0; n < kN; ++n) {
    switch (s.kind) {
      case Signal::kImpulse:
        x[n] = n == static_cast<int>(s.a) ? s.b : 0.0;
        break;
      case Signal::kCosine:
        x[n] = std::cos(2.0 * std::numbers::pi * s.a * n / kN + s.b);
        break;
      case Signal::kNoise:
        x[n] = dist(gen);
        break;
    }
  }
  return x;
}

const Signal kConstant{"Constant", Signal::kCosine, 0.0, 0.0};
const Signal kImpulse0{"Impulse0", Signal::kImpulse, 0.0, 1.0};
const Signal kCosine5{"Cosine5", Signal::kCosine, 5.0, 0.0};
const Signal kSine5{"Sine5", Signal::kCosine, 5.0, -std::numbers::pi / 2};
const Signal kNoise{"Noise", Signal::kNoise, 17.0, 0.0};

std::vector<Signal> Signals() {
  return {kConstant,
          kImpulse0,
          {"Impulse1234", Signal::kImpulse, 1234.0, -0.75},
          kCosine5,
          kSine5,
          {"OffCentre", Signal::kCosine, 300.37, 0.4},
          {"Nyquist", Signal::kCosine, 2048.0, 0.0},
          kNoise};
}

std::unique_ptr<RealFrame> ToFrame(const std::vector<double>& x) {
  auto frame = std::make_unique<RealFrame>();
  for (int n = 0; n < kN; ++n) {
    frame->v[n] = static_cast<float>(x[n]);
  }
  return frame;
}

// The exact input of a transform: the float samples it is actually given, widened.
std::vector<Complex> Widen(const RealFrame& frame) {
  return std::vector<Complex>(frame.v, frame.v + kN);
}

std::vector<Complex> Unpack(const Blocks& blocks) {
  std::vector<Complex> out(kN);
  for (int k = 0; k < kN; ++k) {
    out[k] = Get(blocks, k);
  }
  return out;
}

std::unique_ptr<Blocks> RandomSpectrum(unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> dist(-64.0, 64.0);
  auto spectrum = std::make_unique<Blocks>();
  for (int k = 0; k < kN; ++k) {
    Set(*spectrum, k, Complex(dist(gen), dist(gen)));
  }
  return spectrum;
}

std::unique_ptr<Blocks> Forward(const Implementation& impl, const RealFrame& in) {
  auto out = std::make_unique<Blocks>();
  impl.forward(in.v, out->b);
  return out;
}

std::unique_ptr<RealFrame> Inverse(const Implementation& impl, const Blocks& in) {
  auto out = std::make_unique<RealFrame>();
  auto work = std::make_unique<Blocks>();
  impl.inverse(in.b, out->v, work->b);
  return out;
}

// --- Forward transform against the reference, every implementation times every signal. ---

class FftForward : public testing::TestWithParam<std::tuple<Implementation, Signal>> {};

TEST_P(FftForward, MatchesReferenceDft) {
  const auto& [impl, signal] = GetParam();
  ffft_init();
  const auto frame = ToFrame(Make(signal));
  const auto expected = ReferenceDft(Widen(*frame), +1, 1.0 / 64);
  EXPECT_LT(RelativeError(Unpack(*Forward(impl, *frame)), expected), kTransformTolerance);
}

INSTANTIATE_TEST_SUITE_P(All, FftForward,
                         testing::Combine(testing::ValuesIn(Implementations()),
                                          testing::ValuesIn(Signals())),
                         [](const auto& info) {
                           return std::get<0>(info.param).name + "_" + std::get<1>(info.param).name;
                         });

// --- Properties of one implementation. ---

class FftTest : public testing::TestWithParam<Implementation> {
 protected:
  void SetUp() override { ffft_init(); }
  const Implementation& impl() const { return GetParam(); }
};

// Anchors the scaling and the sign of the exponent with values worked out by hand, so that a
// reference and a transform that shared a mistake could not agree.
TEST_P(FftTest, KnownBins) {
  constexpr double kTol = 1e-5;
  const auto constant = Forward(impl(), *ToFrame(Make(kConstant)));
  EXPECT_NEAR(Get(*constant, 0).real(), 64.0, kTol);
  EXPECT_NEAR(std::abs(Get(*constant, 1)), 0.0, kTol);

  const auto impulse = Forward(impl(), *ToFrame(Make(kImpulse0)));
  for (int k : {0, 1, 5, 2047, 2048, 4095}) {
    EXPECT_NEAR(Get(*impulse, k).real(), 0.015625, kTol) << k;
    EXPECT_NEAR(Get(*impulse, k).imag(), 0.0, kTol) << k;
  }

  const auto cosine = Forward(impl(), *ToFrame(Make(kCosine5)));
  EXPECT_NEAR(Get(*cosine, 5).real(), 32.0, kTol);
  EXPECT_NEAR(Get(*cosine, 4091).real(), 32.0, kTol);
  EXPECT_NEAR(std::abs(Get(*cosine, 6)), 0.0, kTol);

  const auto sine = Forward(impl(), *ToFrame(Make(kSine5)));
  EXPECT_NEAR(Get(*sine, 5).imag(), 32.0, kTol);
  EXPECT_NEAR(Get(*sine, 4091).imag(), -32.0, kTol);
  EXPECT_NEAR(Get(*sine, 5).real(), 0.0, kTol);
}

TEST_P(FftTest, InverseMatchesReferenceDftAndKeepsInput) {
  const auto spectrum = RandomSpectrum(5);
  const Blocks before = *spectrum;
  const auto out = Inverse(impl(), *spectrum);
  const auto exact = ReferenceDft(Unpack(*spectrum), -1, 1.0 / 64);
  std::vector<Complex> expected(kN), actual(kN);
  for (int n = 0; n < kN; ++n) {
    expected[n] = exact[n].real();
    actual[n] = out->v[n];
  }
  // Only the real half of each result is compared; its error is measured against its own size.
  EXPECT_LT(RelativeError(actual, expected), kTransformTolerance);
  EXPECT_EQ(std::memcmp(&before, spectrum.get(), sizeof(Blocks)), 0);
}

TEST_P(FftTest, RoundTripReproducesInput) {
  const auto frame = ToFrame(Make(kNoise));
  const auto spectrum = Forward(impl(), *frame);
  const auto back = Inverse(impl(), *spectrum);
  EXPECT_LT(RelativeError(Widen(*back), Widen(*frame)), 2 * kTransformTolerance);

  // One-sided: bins 1 .. 2047 doubled, 0 and 2048 kept, the upper half cleared (the form the
  // pitch shifter synthesises).
  for (int k = 0; k < kN; ++k) {
    const double factor = (k == 0 || k == kN / 2) ? 1.0 : (k < kN / 2 ? 2.0 : 0.0);
    Set(*spectrum, k, factor * Get(*spectrum, k));
  }
  EXPECT_LT(RelativeError(Widen(*Inverse(impl(), *spectrum)), Widen(*frame)),
            2 * kTransformTolerance);
}

TEST_P(FftTest, RealInputGivesConjugateSymmetry) {
  const auto frame = ToFrame(Make(kNoise));
  const auto spectrum = Unpack(*Forward(impl(), *frame));
  std::vector<Complex> mirrored(kN);
  for (int k = 0; k < kN; ++k) {
    mirrored[k] = std::conj(spectrum[(kN - k) % kN]);
  }
  EXPECT_LT(RelativeError(mirrored, spectrum), 2 * kTransformTolerance);
  // Sizes of typical bins are near sqrt(4096 / 3) / 64 = 0.56; a float rounding of that is 3e-8.
  EXPECT_NEAR(spectrum[0].imag(), 0.0, 1e-5);
  EXPECT_NEAR(spectrum[kN / 2].imag(), 0.0, 1e-5);
}

// The tables are built on first use by whichever thread comes first; the others must see
// them complete. No ffft_init here.
TEST(FftFirstUse, ConcurrentTransformsAgree) {
  const auto frame = ToFrame(Make(kNoise));
  const auto impls = Implementations();
  std::vector<std::unique_ptr<Blocks>> results(8);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] { results[t] = Forward(impls[t % impls.size()], *frame); });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  const auto expected = ReferenceDft(Widen(*frame), +1, 1.0 / 64);
  for (const auto& result : results) {
    EXPECT_LT(RelativeError(Unpack(*result), expected), kTransformTolerance);
  }
}

INSTANTIATE_TEST_SUITE_P(All, FftTest, testing::ValuesIn(Implementations()),
                         [](const auto& info) { return info.param.name; });

#if QUORVEX_HAVE_FFT_SSE
// Both implementations compute the same sums in a different precision: FFT_C rounds only what
// it stores, FFT_SSE every operation. Each is within kTransformTolerance of the exact result,
// so they differ from each other by at most twice that.
TEST(FftImplementations, PortableAndVectorAgree) {
  ffft_init();
  const auto frame = ToFrame(Make(kNoise));
  const Implementation c{"C", FFT_C::ffft, FFT_C::frfft};
  const Implementation sse{"SSE", FFT_SSE::ffft, FFT_SSE::frfft};
  const auto c_spectrum = Unpack(*Forward(c, *frame));
  EXPECT_LT(RelativeError(Unpack(*Forward(sse, *frame)), c_spectrum), 2 * kTransformTolerance);

  const auto spectrum = RandomSpectrum(9);
  const auto c_out = Widen(*Inverse(c, *spectrum));
  EXPECT_LT(RelativeError(Widen(*Inverse(sse, *spectrum)), c_out), 2 * kTransformTolerance);
}
#endif

}  // namespace
}  // namespace quorvex::test
