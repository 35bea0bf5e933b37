// The start-signal detector on synthetic sound tracks: a gun, a beep and a whistle behind crowd
// noise, babble, speech and wind are found within 2 ms; backgrounds without a start, however
// loud or changing, yield nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "audio/StartSoundDetector.h"

namespace quorvex::audio {
namespace {

using Signal = std::vector<float>;
constexpr double kPi = std::numbers::pi;

struct Synth {
  int rate;
  std::mt19937 rng{7};
  std::normal_distribution<double> normal{0.0, 1.0};

  Signal Silence(double seconds) { return Signal(size_t(seconds * rate), 0.0f); }
  // White noise at `rms` through a one-pole low-pass (`lowpass` 0 leaves it white).
  void AddNoise(Signal& s, double rms, double lowpass = 0.0) {
    double state = 0;
    const double gain = lowpass > 0 ? std::sqrt(1 - lowpass * lowpass) : 1.0;
    for (float& x : s) {
      state = lowpass * state + gain * normal(rng);
      x += float(rms * state);
    }
  }
  // Voices: noise through a formant resonator at `rms`, in syllables of 3..6 per second.
  void AddVoices(Signal& s, int voices, double rms) {
    for (int v = 0; v < voices; ++v) {
      const double formant = 400.0 + 350.0 * v, syllables = 3.0 + 0.7 * v, phase = 1.3 * v;
      const double r = 0.98, c = 2 * r * std::cos(2 * kPi * formant / rate);
      std::vector<double> voice(s.size());
      double y1 = 0, y2 = 0, power = 0;
      for (double& y : voice) {
        y = normal(rng) + c * y1 - r * r * y2;
        y2 = y1;
        y1 = y;
        power += y * y;
      }
      const double gain = rms / std::sqrt(power / double(voice.size()));
      for (size_t i = 0; i < s.size(); ++i) {
        const double e = std::pow(std::sin(kPi * syllables * double(i) / rate + phase), 2);
        s[i] += float(gain * e * voice[i]);
      }
    }
  }
  // A shot: white noise starting at full `peak` and decaying by 1/e in 30 ms.
  void AddGun(Signal& s, double at, double peak) {
    const size_t from = size_t(at * rate);
    for (size_t i = from; i < s.size() && i < from + size_t(0.3 * rate); ++i)
      s[i] += float(peak * std::exp(-double(i - from) / (0.03 * rate)) * normal(rng) / 3);
  }
  // A tone of `hz` starting at `at`, reaching `peak` after `attack` seconds, lasting `length`.
  void AddTone(Signal& s, double at, double hz, double peak, double attack, double length) {
    const size_t from = size_t(at * rate);
    for (size_t i = from; i < s.size() && i < from + size_t(length * rate); ++i) {
      const double t = double(i - from) / rate;
      const double ramp = attack > 0 ? std::min(1.0, t / attack) : 1.0;
      s[i] += float(peak * ramp * std::sin(2 * kPi * hz * t));
    }
  }
};

std::optional<double> Detect(const Signal& s, int rate) {
  StartSoundDetector detector(rate);
  // Blocks of an odd size: the detector must not depend on how the sound is cut.
  for (size_t at = 0; at < s.size(); at += 997) {
    const size_t n = std::min<size_t>(997, s.size() - at);
    if (auto onset = detector.Feed({s.data() + at, n}))
      return double(*onset) / rate;
  }
  return std::nullopt;
}

struct Case {
  std::string name;
  int rate;
  std::function<void(Synth&, Signal&)> make;
  std::optional<double> onset;  // seconds; none: no start in the sound
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

std::vector<Case> Cases() {
  return {
      {"GunInNearSilence", 44100,
       [](Synth& g, Signal& s) {
         g.AddNoise(s, 1e-4);
         g.AddGun(s, 1.5, 0.9);
       },
       1.5},
      {"GunAfterBabbleAndCrowd", 48000,
       [](Synth& g, Signal& s) {
         g.AddVoices(s, 6, 0.015);
         g.AddNoise(s, 0.01);
         g.AddGun(s, 2.25, 0.9);
       },
       2.25},
      {"BeepInCrowdNoise", 48000,
       [](Synth& g, Signal& s) {
         g.AddVoices(s, 4, 0.02);
         g.AddNoise(s, 0.02, 0.9);
         g.AddTone(s, 1.8, 1000, 0.6, 0, 0.3);
       },
       1.8},
      {"WhistleInStrongWind", 48000,
       [](Synth& g, Signal& s) {
         g.AddNoise(s, 0.3, 0.999);
         g.AddTone(s, 2.7, 3200, 0.5, 0.003, 0.5);
       },
       2.7},
      {"BeepInDigitalSilence", 32000,
       [](Synth& g, Signal& s) { g.AddTone(s, 0.5, 1000, 0.3, 0, 0.2); }, 0.5},
      {"BabbleOnly", 48000,
       [](Synth& g, Signal& s) {
         g.AddVoices(s, 6, 0.05);
         g.AddNoise(s, 0.02);
       },
       std::nullopt},
      {"SwellingCrowd", 48000,
       [](Synth& g, Signal& s) {
         g.AddNoise(s, 0.05);
         for (size_t i = 0; i < s.size(); ++i)
           s[i] *= float(0.05 + double(i) / double(s.size()));
       },
       std::nullopt},
      {"WindGustsOnly", 48000, [](Synth& g, Signal& s) { g.AddNoise(s, 0.5, 0.9995); },
       std::nullopt},
      {"FaintNoiseOnly", 48000, [](Synth& g, Signal& s) { g.AddNoise(s, 3e-4); }, std::nullopt},
      // Too soon after the first sample to tell from the background: not taken for a start.
      {"BurstInTheFirstMilliseconds", 48000,
       [](Synth& g, Signal& s) {
         g.AddNoise(s, 0.01);
         g.AddGun(s, 0.05, 0.9);
       },
       std::nullopt},
  };
}

class StartSoundDetectorTest : public testing::TestWithParam<Case> {};

TEST_P(StartSoundDetectorTest, FindsTheStartWithin2Ms) {
  const Case& c = GetParam();
  Synth g{c.rate};
  Signal s = g.Silence(5.0);
  c.make(g, s);
  const std::optional<double> found = Detect(s, c.rate);
  ASSERT_EQ(found.has_value(), c.onset.has_value()) << (found ? *found : -1.0);
  if (c.onset) {
    EXPECT_NEAR(*found, *c.onset, 0.002);
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, StartSoundDetectorTest, testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

// Once found, the onset stays and later sound is not looked at; the count of samples goes on
// only while searching.
TEST(StartSoundDetector, KeepsTheFirstOnset) {
  Synth g{48000};
  Signal s = g.Silence(6.0);
  g.AddNoise(s, 0.001);
  g.AddGun(s, 1.0, 0.5);
  g.AddGun(s, 4.0, 0.9);
  StartSoundDetector detector(48000);
  std::optional<int64_t> onset = detector.Feed(s);
  ASSERT_TRUE(onset.has_value());
  EXPECT_NEAR(double(*onset) / 48000, 1.0, 0.002);
  EXPECT_LT(detector.samples_fed(), int64_t(1.1 * 48000));
  EXPECT_EQ(detector.Feed(s), onset);
}

}  // namespace
}  // namespace quorvex::audio
