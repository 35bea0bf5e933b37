#pragma once

// Independent double-precision references for the audio tests: a direct DFT (no fast
// algorithm, no shared tables) and spectral measurements of signals by single-bin DFTs.

#include <complex>
#include <cstddef>
#include <vector>

#include "audio/FFT.h"

namespace quorvex::test {

using Complex = std::complex<double>;

inline constexpr int kN = kFftLength;

// The transforms' arrays, placed on 16-byte boundaries (heap-allocate them: they are large).
struct alignas(16) RealFrame {
  float v[kN];
};
struct Blocks {
  vcpx_t b[kFftBlocks];
};

Complex Get(const Blocks& blocks, int k);
void Set(Blocks& blocks, int k, Complex value);

// scale * sum_n x[n] * e^(sign * 2*pi*i*n*k/N) for k = 0 .. N-1, by the definition.
std::vector<Complex> ReferenceDft(const std::vector<Complex>& x, int sign, double scale);

// sqrt(sum |a - b|^2 / sum |b|^2): the error of `a` relative to the size of `b`.
double RelativeError(const std::vector<Complex>& a, const std::vector<Complex>& b);

// amplitude * sin(2*pi*cycles*n/N + phase): `cycles` is a frequency in bins of an N-point frame.
std::vector<float> Tone(double cycles, double amplitude, size_t count, double phase = 0.0);

// Amplitude of the component at `cycles` (bins of N) in samples [start, start + length) of y,
// under a Hann window, correct for a steady sinusoid away from other components.
double ToneAmplitude(const std::vector<float>& y, size_t start, size_t length, double cycles);

// The frequency (bins of N, resolution 0.01) of the strongest component in [start,
// start + length): the strongest whole bin of the first N samples, refined to 0.01 bins
// within one bin of it over the whole range. length >= N.
double DominantFrequency(const std::vector<float>& y, size_t start, size_t length);

// Root mean square of samples [start, start + length).
double Rms(const std::vector<float>& y, size_t start, size_t length);

}  // namespace quorvex::test
