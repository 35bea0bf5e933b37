#include "tests/audio/ToneAnalysis.h"

#include <cmath>
#include <numbers>

namespace quorvex::test {

namespace {

double PowerAt(const std::vector<float>& windowed, double sample_rate, double hz) {
  const double w = 2.0 * std::numbers::pi * hz / sample_rate;
  const double coefficient = 2.0 * std::cos(w);
  double s1 = 0.0;
  double s2 = 0.0;
  for (const float x : windowed) {
    const double s0 = x + coefficient * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

double Strongest(const std::vector<float>& windowed, double sample_rate, double low_hz,
                 double high_hz, double step_hz) {
  double best_hz = low_hz;
  double best_power = -1.0;
  for (double hz = low_hz; hz <= high_hz; hz += step_hz) {
    const double power = PowerAt(windowed, sample_rate, hz);
    if (power > best_power) {
      best_power = power;
      best_hz = hz;
    }
  }
  return best_hz;
}

}  // namespace

double DominantFrequency(const std::vector<float>& samples, double sample_rate, double low_hz,
                         double high_hz) {
  std::vector<float> windowed(samples.size());
  const double n = double(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    windowed[i] = float(samples[i] * (0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / n)));
  }
  const double coarse = Strongest(windowed, sample_rate, low_hz, high_hz, 2.0);
  return Strongest(windowed, sample_rate, coarse - 2.0, coarse + 2.0, 0.1);
}

std::vector<double> WindowLevels(const std::vector<float>& samples, int32_t window) {
  std::vector<double> levels;
  for (size_t start = 0; start + size_t(window) <= samples.size(); start += size_t(window)) {
    double sum = 0.0;
    for (size_t i = start; i < start + size_t(window); ++i) {
      sum += double(samples[i]) * samples[i];
    }
    levels.push_back(std::sqrt(sum / window));
  }
  return levels;
}

std::vector<float> Channel(const std::vector<int16_t>& interleaved, int32_t channels,
                           int32_t channel) {
  std::vector<float> out;
  out.reserve(interleaved.size() / size_t(channels));
  for (size_t i = size_t(channel); i < interleaved.size(); i += size_t(channels)) {
    out.push_back(interleaved[i] / 32768.0f);
  }
  return out;
}

}  // namespace quorvex::test
