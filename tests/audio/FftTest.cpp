// The 4096-point transforms against a direct double-precision DFT, for both implementations.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
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

// A test input, with bins worked out by hand: they anchor the scaling and the sign of the
// exponent, so that a reference and a transform that shared a mistake could not agree.
struct Signal {
  std::string name;
  std::function<double(int)> x;  // sample n
  std::vector<std::pair<int, Complex>> known_bins = {};
};

// Test names carry the parameters; keep gtest from dumping their bytes.
void PrintTo(const Implementation& impl, std::ostream* os) {
  *os << impl.name;
}
void PrintTo(const Signal& signal, std::ostream* os) {
  *os << signal.name;
}

std::function<double(int)> Cosine(double cycles, double phase) {
  return [=](int n) { return std::cos(2.0 * std::numbers::pi * cycles * n / kN + phase); };
}

std::function<double(int)> Impulse(int at, double value) {
  return [=](int n) { return n == at ? value : 0.0; };
}

Signal Noise() {
  std::mt19937 gen(17);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> x(kN);
  for (double& v : x) {
    v = dist(gen);
  }
  return {"Noise", [x](int n) { return x[n]; }};
}

std::vector<Signal> Signals() {
  const Complex i(0.0, 1.0);
  return {{"Constant", Cosine(0, 0), {{0, 64.0}, {1, 0.0}}},
          {"Impulse0",
           Impulse(0, 1.0),
           {{0, 1 / 64.0},
            {1, 1 / 64.0},
            {5, 1 / 64.0},
            {2047, 1 / 64.0},
            {2048, 1 / 64.0},
            {4095, 1 / 64.0}}},
          {"Impulse1234", Impulse(1234, -0.75)},
          {"Cosine5", Cosine(5, 0), {{5, 32.0}, {4091, 32.0}, {6, 0.0}}},
          {"Sine5", Cosine(5, -std::numbers::pi / 2), {{5, 32.0 * i}, {4091, -32.0 * i}}},
          {"OffCentre", Cosine(300.37, 0.4)},
          {"Nyquist", Cosine(2048, 0)},
          Noise()};
}

std::unique_ptr<RealFrame> ToFrame(const std::function<double(int)>& x) {
  auto frame = std::make_unique<RealFrame>();
  for (int n = 0; n < kN; ++n) {
    frame->v[n] = static_cast<float>(x(n));
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
  for (const auto& [k, value] : signal.known_bins) {
    EXPECT_LT(std::abs(out[k] - value), 1e-5) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(All, FftForward,
                         testing::Combine(testing::ValuesIn(Implementations()),
                                          testing::ValuesIn(Signals())),
                         [](const auto& info) {
                           return std::get<0>(info.param).name + "_" + std::get<1>(info.param).name;
                         });

class FftInverse : public testing::TestWithParam<Implementation> {};

// A random spectrum (not conjugate-symmetric) covers every input the shifter can synthesise;
// only the real half of each result is compared, its error measured against its own size.
TEST_P(FftInverse, MatchesReferenceDftAndKeepsInput) {
  const Implementation& impl = GetParam();
  ffft_init();
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> dist(-64.0, 64.0);
  auto spectrum = std::make_unique<Blocks>();
  for (int k = 0; k < kN; ++k) {
    Set(*spectrum, k, Complex(dist(gen), dist(gen)));
  }
  const auto before = std::make_unique<Blocks>(*spectrum);
  auto out = std::make_unique<RealFrame>();
  auto work = std::make_unique<Blocks>();
  impl.inverse(spectrum->b, out->v, work->b);
  const auto exact = ReferenceDft(Unpack(*spectrum), -1, 1.0 / 64);
  std::vector<Complex> expected(kN);
  for (int n = 0; n < kN; ++n) {
    expected[n] = exact[n].real();
  }
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

}  // namespace
}  // namespace quorvex::test
