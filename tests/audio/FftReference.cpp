#include "tests/audio/FftReference.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quorvex::test {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

std::vector<double> HannWindowed(const std::vector<float>& y, size_t start, size_t length) {
  std::vector<double> x(length);
  for (size_t n = 0; n < length; ++n) {
    x[n] = (0.5 - 0.5 * std::cos(kTwoPi * n / length)) * y[start + n];
  }
  return x;
}

// |sum_n x[n] * e^(-2*pi*i*cycles*n/N)|, by the Goertzel recurrence.
double Magnitude(const std::vector<double>& x, double cycles) {
  const double c = 2.0 * std::cos(kTwoPi * cycles / kN);
  double s1 = 0.0, s2 = 0.0;
  for (const double v : x) {
    const double s0 = v + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2));
}

double Strongest(const std::vector<double>& x, double from, int steps, double step) {
  double best = from, best_size = -1.0;
  for (int i = 0; i <= steps; ++i) {
    const double size = Magnitude(x, from + i * step);
    if (size > best_size) {
      best = from + i * step;
      best_size = size;
    }
  }
  return best;
}

}  // namespace

Complex Get(const Blocks& blocks, int k) {
  return {blocks.b[k / 4].re[k % 4], blocks.b[k / 4].im[k % 4]};
}

void Set(Blocks& blocks, int k, Complex value) {
  blocks.b[k / 4].re[k % 4] = static_cast<float>(value.real());
  blocks.b[k / 4].im[k % 4] = static_cast<float>(value.imag());
}

std::vector<Complex> ReferenceDft(const std::vector<Complex>& x, int sign, double scale) {
  std::vector<double> cos_table(kN), sin_table(kN), re(kN), im(kN);
  for (int m = 0; m < kN; ++m) {
    cos_table[m] = std::cos(kTwoPi * m / kN);
    sin_table[m] = sign * std::sin(kTwoPi * m / kN);
    re[m] = x[m].real();
    im[m] = x[m].imag();
  }
  // Raw pointers: the O(N^2) loop must stay quick in unoptimised, instrumented builds.
  const double *c = cos_table.data(), *s = sin_table.data(), *xr = re.data(), *xi = im.data();
  std::vector<Complex> out(kN);
  for (int k = 0; k < kN; ++k) {
    double sum_re = 0.0, sum_im = 0.0;
    // m = n * k mod N, kept by addition.
    for (int n = 0, m = 0; n < kN; ++n, m = (m + k) & (kN - 1)) {
      sum_re += xr[n] * c[m] - xi[n] * s[m];
      sum_im += xr[n] * s[m] + xi[n] * c[m];
    }
    out[k] = Complex(scale * sum_re, scale * sum_im);
  }
  return out;
}

double RelativeError(const std::vector<Complex>& a, const std::vector<Complex>& b) {
  double error = 0.0, size = 0.0;
  for (size_t i = 0; i < b.size(); ++i) {
    error += std::norm(a[i] - b[i]);
    size += std::norm(b[i]);
  }
  return std::sqrt(error / size);
}

std::vector<float> Tone(double cycles, double amplitude, size_t count, double phase) {
  std::vector<float> y(count);
  for (size_t n = 0; n < count; ++n) {
    y[n] = static_cast<float>(amplitude * std::sin(kTwoPi * cycles * n / kN + phase));
  }
  return y;
}

double ToneAmplitude(const std::vector<float>& y, size_t start, size_t length, double cycles) {
  // The Hann window sums to length / 2; a sinusoid of amplitude A gives A / 2 of that.
  return 4.0 * Magnitude(HannWindowed(y, start, length), cycles) / length;
}

double DominantFrequency(const std::vector<float>& y, size_t start, size_t length) {
  const double coarse = Strongest(HannWindowed(y, start, kN), 1, kN / 2 - 2, 1.0);
  return Strongest(HannWindowed(y, start, length), coarse - 1.0, 200, 0.01);
}

double Rms(const std::vector<float>& y, size_t start, size_t length) {
  double sum = 0.0;
  for (size_t n = 0; n < length; ++n) {
    sum += static_cast<double>(y[start + n]) * y[start + n];
  }
  return std::sqrt(sum / length);
}

}  // namespace quorvex::test
