#pragma once

// Measurements of test tones, independent of the code under test: a direct single-bin DFT
// (Goertzel) scan and windowed levels.

#include <cstdint>
#include <vector>

namespace quorvex::test {

// The frequency in Hz, between `low_hz` and `high_hz`, of the strongest component of
// `samples` (Hann-windowed), located to about 0.1 Hz.
double DominantFrequency(const std::vector<float>& samples, double sample_rate, double low_hz,
                         double high_hz);

// Root-mean-square level of each run of `window` samples.
std::vector<double> WindowLevels(const std::vector<float>& samples, int32_t window);

// Channel `channel` of interleaved 16-bit samples, scaled to -1 .. 1.
std::vector<float> Channel(const std::vector<int16_t>& interleaved, int32_t channels,
                           int32_t channel);

}  // namespace quorvex::test
