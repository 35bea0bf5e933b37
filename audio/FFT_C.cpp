// The portable transform: one value per step, every product and sum in double precision,
// every stored value rounded to single.

#include "audio/FFT.h"
#include "audio/FFTTables.h"

namespace quorvex::FFT_C {
namespace {

using fft_detail::kGatherScale;
using fft_detail::Tables;

// One complex value of a block array, read into double precision.
struct Cpx {
  double re;
  double im;
};

Cpx Load(const vcpx_t* a, int32_t k) {
  return {a[k >> 2].re[k & 3], a[k >> 2].im[k & 3]};
}

void Store(vcpx_t* a, int32_t k, double re, double im) {
  a[k >> 2].re[k & 3] = static_cast<float>(re);
  a[k >> 2].im[k & 3] = static_cast<float>(im);
}

// Spans 1 and 2 stay inside one block. `sigma` is the sign of the exponent (+1 forward).
void SmallSpans(vcpx_t* x, double sigma) {
  for (int32_t b = 0; b < kFftBlocks; ++b) {
    const int32_t k = b * 4;
    for (int32_t lane = 0; lane < 4; lane += 2) {
      const Cpx p = Load(x, k + lane);
      const Cpx q = Load(x, k + lane + 1);
      Store(x, k + lane, p.re + q.re, p.im + q.im);
      Store(x, k + lane + 1, p.re - q.re, p.im - q.im);
    }
    const Cpx x0 = Load(x, k), x1 = Load(x, k + 1), x2 = Load(x, k + 2), x3 = Load(x, k + 3);
    Store(x, k, x0.re + x2.re, x0.im + x2.im);
    Store(x, k + 2, x0.re - x2.re, x0.im - x2.im);
    const Cpx t = {-sigma * x3.im, sigma * x3.re};  // x3 times sigma * i
    Store(x, k + 1, x1.re + t.re, x1.im + t.im);
    Store(x, k + 3, x1.re - t.re, x1.im - t.im);
  }
}

// Radix-2 decimation in time, in place: bit-reversed order in, natural order out.
void ffft_mainloop(vcpx_t* x, const vcpx_t* table, double sigma) {
  SmallSpans(x, sigma);
  for (int32_t span = 4; span < kFftLength; span *= 2) {
    for (int32_t group = 0; group < kFftLength; group += 2 * span) {
      for (int32_t e = 0; e < span; ++e) {
        const Cpx w = Load(table, span + e);
        const Cpx lo = Load(x, group + e);
        const Cpx hi = Load(x, group + span + e);
        const Cpx t = {w.re * hi.re - w.im * hi.im, w.re * hi.im + w.im * hi.re};
        Store(x, group + span + e, lo.re - t.re, lo.im - t.im);
        Store(x, group + e, lo.re + t.re, lo.im + t.im);
      }
    }
  }
}

}  // namespace

void ffft(const float* input, vcpx_t* output) {
  const auto& t = Tables();
  for (int32_t m = 0; m < kFftLength; ++m) {
    Store(output, m, input[t.reversed[m]] * kGatherScale, 0.0);
  }
  ffft_mainloop(output, t.wx, 1.0);
}

void frfft(const vcpx_t* input, float* output, vcpx_t* work) {
  const auto& t = Tables();
  for (int32_t m = 0; m < kFftLength; ++m) {
    const Cpx v = Load(input, static_cast<int32_t>(t.reversed[m]));
    Store(work, m, v.re * kGatherScale, v.im * kGatherScale);
  }
  ffft_mainloop(work, t.rx, -1.0);
  for (int32_t n = 0; n < kFftLength; ++n) {
    output[n] = work[n >> 2].re[n & 3];
  }
}

}  // namespace quorvex::FFT_C
