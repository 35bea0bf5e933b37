// The start-signal detector on synthetic sound tracks: a gun, a beep and a whistle behind crowd
// noise, babble and wind.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "audio/StartSoundDetector.h"

namespace quorvex::audio {
namespace {

using Signal = std::vector<float>;

struct Synth {
  int rate;
  std::mt19937 rng{7};
  std::normal_distribution<double> normal{0.0, 1.0};

  // White noise at `rms` through a one-pole low-pass (`lowpass` 0 leaves it white).
  void AddNoise(Signal& s, double rms, double lowpass = 0.0) {
    double state = 0;
    for (float& x : s)
      x += float(rms * (state = lowpass * state + std::sqrt(1 - lowpass * lowpass) * normal(rng)));
  }
  // Voices: noise through a formant resonator at `rms`, in syllables of 3..6 per second.
  void AddVoices(Signal& s, int voices, double rms) {
    for (int v = 0; v < voices; ++v) {
      const double formant = 400.0 + 350.0 * v, syllables = 3.0 + 0.7 * v, phase = 1.3 * v;
      const double r = 0.98, c = 2 * r * std::cos(2 * std::numbers::pi * formant / rate);
      std::vector<double> voice(s.size());
      double y1 = 0, y2 = 0, power = 0;
      for (double& y : voice)
        y = normal(rng) + c * y1 - r * r * y2, y2 = y1, y1 = y, power += y * y;
      const double gain = rms / std::sqrt(power / double(voice.size()));
      for (size_t i = 0; i < s.size(); ++i)
        s[i] +=
            float(gain * std::pow(std::sin(std::numbers::pi * syllables * i / rate + phase), 2) *
                  voice[i]);
    }
  }
  // A shot: white noise starting at full `peak` and decaying by 1/e in 30 ms.
  void AddGun(Signal& s, double at, double peak) {
    for (size_t i = size_t(at * rate); i < size_t((at + 0.3) * rate); ++i)
      s[i] += float(peak * std::exp(-(double(i) / rate - at) / 0.03) * normal(rng) / 3);
  }
  // A tone of `hz` starting at `at`, reaching `peak` after `attack` seconds, lasting `length`.
  void AddTone(Signal& s, double at, double hz, double peak, double attack, double length) {
    for (double t = 0; t < length; t += 1.0 / rate)
      s[size_t((at + t) * rate)] +=
          float(peak * std::min(1.0, t / attack) * std::sin(2 * std::numbers::pi * hz * t));
  }
};

std::optional<double> Detect(const Signal& s, int rate) {
  StartSoundDetector detector(rate);
  // Blocks of an odd size: the detector must not depend on how the sound is cut.
  for (size_t at = 0; at < s.size(); at += 997) {
    if (auto onset = detector.Feed({s.data() + at, std::min<size_t>(997, s.size() - at)}))
      return double(*onset) / rate;
  }
  return std::nullopt;
}

// Starts are found within 2 ms; backgrounds without one, and a burst too soon after the first
// sample to tell from the background, yield nothing.
TEST(StartSoundDetector, FindsTheStartWithin2Ms) {
  const std::tuple<const char*, int, std::function<void(Synth&, Signal&)>, double> cases[] = {
      {"gun in near silence", 44100,
       [](Synth& g, Signal& s) { g.AddNoise(s, 1e-4), g.AddGun(s, 1.5, 0.9); }, 1.5},
      {"beep in crowd noise", 48000,
       [](Synth& g, Signal& s) {
         g.AddVoices(s, 4, 0.02), g.AddNoise(s, 0.02, 0.9), g.AddTone(s, 1.8, 1000, 0.6, 1e-9, 0.3);
       },
       1.8},
      {"whistle in strong wind", 48000,
       [](Synth& g, Signal& s) { g.AddNoise(s, .3, .999), g.AddTone(s, 2.7, 3200, .5, .003, .5); },
       2.7},
      {"babble only", 48000,
       [](Synth& g, Signal& s) { g.AddVoices(s, 6, 0.05), g.AddNoise(s, 0.02); }, -1},
      {"swelling crowd", 48000,
       [](Synth& g, Signal& s) {
         g.AddNoise(s, 0.05);
         for (size_t i = 0; i < s.size(); ++i)
           s[i] *= float(0.05 + double(i) / double(s.size()));
       },
       -1},
      {"burst in the first milliseconds", 48000,
       [](Synth& g, Signal& s) { g.AddNoise(s, 0.01), g.AddGun(s, 0.05, 0.9); }, -1}};
  for (const auto& [name, rate, make, onset] : cases) {
    Synth g{rate};
    Signal s(size_t(5 * rate));
    make(g, s);
    EXPECT_NEAR(Detect(s, rate).value_or(-1), onset, 0.002) << name;
  }
}

// Once found, the onset stays and later sound is not looked at; the count of samples goes on
// only while searching.
TEST(StartSoundDetector, KeepsTheFirstOnset) {
  Synth g{48000};
  Signal s(6 * 48000);
  g.AddNoise(s, 0.001), g.AddGun(s, 1.0, 0.5), g.AddGun(s, 4.0, 0.9);
  StartSoundDetector detector(48000);
  std::optional<int64_t> onset = detector.Feed(s);
  EXPECT_NEAR(double(onset.value_or(0)) / 48000, 1.0, 0.002);
  EXPECT_LT(detector.samples_fed(), int64_t(1.1 * 48000));
  EXPECT_EQ(detector.Feed(s), onset);
}

// Rates too low to window or too high to hold are refused: the detector finds nothing and
// touches nothing, whatever it is fed; the lowest and highest it takes still find a shot.
TEST(StartSoundDetector, RefusesRatesItCannotWindow) {
  for (const int rate : {1, 100, StartSoundDetector::kMinRate - 1, StartSoundDetector::kMaxRate + 1,
                         std::numeric_limits<int32_t>::max(), 0, -48000}) {
    Signal s(48000);
    Synth g{48000};
    g.AddNoise(s, 1e-4), g.AddGun(s, 0.6, 0.9);
    StartSoundDetector detector(rate);
    EXPECT_EQ(detector.Feed(s), std::nullopt) << rate;
    EXPECT_EQ(detector.FeedAt(s, 0), std::nullopt) << rate;
    EXPECT_EQ(detector.samples_fed(), 0) << rate;
  }
  for (const int rate : {StartSoundDetector::kMinRate, StartSoundDetector::kMaxRate}) {
    Synth g{rate};
    Signal s(size_t(2.5 * rate));
    g.AddNoise(s, 1e-4), g.AddGun(s, 1.5, 0.9);
    EXPECT_NEAR(Detect(s, rate).value_or(-1), 1.5, 0.005) << rate;  // coarser at 4 kHz
  }
}

// The onset's time comes from the times of the blocks fed: after a gap in the sound (a block
// starting 3 s after the one before ended) it lies 3 s later than the samples alone would say.
TEST(StartSoundDetector, FollowsTheBlockTimesAcrossGaps) {
  constexpr int kRate = 48000;
  Synth g{kRate};
  Signal s(size_t(4 * kRate));
  g.AddNoise(s, 1e-4), g.AddGun(s, 3.0, 0.9);
  StartSoundDetector detector(kRate);
  const int64_t start_ns = 7'000'000'000;  // the stream time of the first sample
  std::optional<int64_t> onset_ns;
  for (size_t at = 0; at < s.size() && !onset_ns; at += 4800) {
    const int64_t gap_ns = at >= size_t(2 * kRate) ? 3'000'000'000 : 0;
    onset_ns = detector.FeedAt({s.data() + at, 4800},
                               start_ns + gap_ns + int64_t(at) * 1'000'000'000 / kRate);
  }
  ASSERT_TRUE(onset_ns);
  EXPECT_NEAR(double(*onset_ns - start_ns) / 1e9, 6.0, 0.002);
  EXPECT_NEAR(double(*detector.TimeOf(kRate) - start_ns) / 1e9, 1.0, 1e-6);
}

}  // namespace
}  // namespace quorvex::audio
