#include "tests/audio/FftReference.h"

#include <cmath>
#include <numbers>

namespace quorvex::test {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

std::vector<double> HannWindow(size_t length) {
  std::vector<double> w(length);
  for (size_t n = 0; n < length; ++n) {
    w[n] = 0.5 - 0.5 * std::cos(kTwoPi * n / length);
  }
  return w;
}

// Windowed correlation with a complex exponential at `cycles` bins of N.
Complex Probe(const std::vector<float>& y, size_t start, const std::vector<double>& window,
              double cycles) {
  const Complex step = std::polar(1.0, -kTwoPi * cycles / kN);
  Complex rotor = 1.0;
  Complex sum = 0.0;
  for (size_t n = 0; n < window.size(); ++n) {
    sum += window[n] * static_cast<double>(y[start + n]) * rotor;
    rotor *= step;
  }
  return sum;
}

// The whole bin (1 .. N/2 - 1) with the largest windowed DFT magnitude over N samples.
int CoarsePeak(const std::vector<float>& y, size_t start) {
  const std::vector<double> window = HannWindow(kN);
  std::vector<double> x(kN), cos_table(kN), sin_table(kN);
  for (int n = 0; n < kN; ++n) {
    x[n] = window[n] * y[start + n];
    cos_table[n] = std::cos(kTwoPi * n / kN);
    sin_table[n] = std::sin(kTwoPi * n / kN);
  }
  const double *c = cos_table.data(), *s = sin_table.data(), *xs = x.data();
  int best = 1;
  double best_size = -1.0;
  for (int k = 1; k < kN / 2; ++k) {
    double re = 0.0, im = 0.0;
    for (int n = 0, m = 0; n < kN; ++n, m = (m + k) & (kN - 1)) {
      re += xs[n] * c[m];
      im -= xs[n] * s[m];
    }
    if (re * re + im * im > best_size) {
      best = k;
      best_size = re * re + im * im;
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
  double error = 0.0;
  double size = 0.0;
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
  return 4.0 * std::abs(Probe(y, start, HannWindow(length), cycles)) / length;
}

double DominantFrequency(const std::vector<float>& y, size_t start, size_t length) {
  const double coarse = CoarsePeak(y, start);
  const std::vector<double> window = HannWindow(length);
  double best = coarse;
  double best_size = -1.0;
  for (int step = -100; step <= 100; ++step) {
    const double cycles = coarse + step * 0.01;
    const double size = std::abs(Probe(y, start, window, cycles));
    if (size > best_size) {
      best = cycles;
      best_size = size;
    }
  }
  return best;
}

double Rms(const std::vector<float>& y, size_t start, size_t length) {
  double sum = 0.0;
  for (size_t n = 0; n < length; ++n) {
    sum += static_cast<double>(y[start + n]) * y[start + n];
  }
  return std::sqrt(sum / length);
}

}  // namespace quorvex::test
