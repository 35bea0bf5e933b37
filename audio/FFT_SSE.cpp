// The vector transform: single precision, four lanes per instruction, aligned 16-byte loads
// and stores throughout (the caller's arrays, the blocks and the tables are all aligned).

#include "audio/FFT.h"

#if QUORVEX_HAVE_FFT_SSE

#include <xmmintrin.h>

#include "audio/FFTTables.h"

namespace quorvex::FFT_SSE {
namespace {

using fft_detail::kGatherScale;
using fft_detail::Tables;

constexpr int32_t kQuarter = kFftLength / 4;  // values per quarter of the array
constexpr int32_t kQuarterBlocks = kFftBlocks / 4;

// Sign masks: a set bit 31 flips that lane. _mm_set_epi32 lists lanes 3, 2, 1, 0.
__m128 SignMask(bool l0, bool l1, bool l2, bool l3) {
  const int n = static_cast<int>(0x80000000u);
  return _mm_castsi128_ps(_mm_set_epi32(l3 ? n : 0, l2 ? n : 0, l1 ? n : 0, l0 ? n : 0));
}

// Spans 1 and 2 inside every block by shuffles and sign masks. Span 2's pair (1, 3) takes the
// factor sigma*i, which swaps the real and imaginary parts of x3; the sign of the exponent only
// decides which lanes of the swapped parts are negated.
void SmallSpans(vcpx_t* x, bool positive) {
  const __m128 span1_signs = SignMask(false, true, false, true);
  const __m128 re_signs = positive ? SignMask(false, true, true, false)   // r1 - i3, r1 + i3
                                   : SignMask(false, false, true, true);  // r1 + i3, r1 - i3
  const __m128 im_signs = positive ? SignMask(false, false, true, true)   // i1 + r3, i1 - r3
                                   : SignMask(false, true, true, false);  // i1 - r3, i1 + r3
  for (int32_t b = 0; b < kFftBlocks; ++b) {
    __m128 re = _mm_load_ps(x[b].re);
    __m128 im = _mm_load_ps(x[b].im);
    // (x0 + x1, x0 - x1, x2 + x3, x2 - x3)
    re = _mm_add_ps(_mm_shuffle_ps(re, re, _MM_SHUFFLE(2, 2, 0, 0)),
                    _mm_xor_ps(_mm_shuffle_ps(re, re, _MM_SHUFFLE(3, 3, 1, 1)), span1_signs));
    im = _mm_add_ps(_mm_shuffle_ps(im, im, _MM_SHUFFLE(2, 2, 0, 0)),
                    _mm_xor_ps(_mm_shuffle_ps(im, im, _MM_SHUFFLE(3, 3, 1, 1)), span1_signs));
    const __m128 upper = _mm_shuffle_ps(re, im, _MM_SHUFFLE(3, 2, 3, 2));       // r2 r3 i2 i3
    const __m128 b_re = _mm_shuffle_ps(upper, upper, _MM_SHUFFLE(3, 0, 3, 0));  // r2 i3 r2 i3
    const __m128 b_im = _mm_shuffle_ps(upper, upper, _MM_SHUFFLE(1, 2, 1, 2));  // i2 r3 i2 r3
    const __m128 a_re = _mm_shuffle_ps(re, re, _MM_SHUFFLE(1, 0, 1, 0));        // r0 r1 r0 r1
    const __m128 a_im = _mm_shuffle_ps(im, im, _MM_SHUFFLE(1, 0, 1, 0));        // i0 i1 i0 i1
    _mm_store_ps(x[b].re, _mm_add_ps(a_re, _mm_xor_ps(b_re, re_signs)));
    _mm_store_ps(x[b].im, _mm_add_ps(a_im, _mm_xor_ps(b_im, im_signs)));
  }
}

// One butterfly on a whole block: lo, hi = lo + w*hi, lo - w*hi.
void Butterfly(vcpx_t& lo, vcpx_t& hi, const vcpx_t& w) {
  const __m128 w_re = _mm_load_ps(w.re), w_im = _mm_load_ps(w.im);
  const __m128 h_re = _mm_load_ps(hi.re), h_im = _mm_load_ps(hi.im);
  const __m128 t_re = _mm_sub_ps(_mm_mul_ps(w_re, h_re), _mm_mul_ps(w_im, h_im));
  const __m128 t_im = _mm_add_ps(_mm_mul_ps(w_re, h_im), _mm_mul_ps(w_im, h_re));
  const __m128 l_re = _mm_load_ps(lo.re), l_im = _mm_load_ps(lo.im);
  _mm_store_ps(hi.re, _mm_sub_ps(l_re, t_re));
  _mm_store_ps(hi.im, _mm_sub_ps(l_im, t_im));
  _mm_store_ps(lo.re, _mm_add_ps(l_re, t_re));
  _mm_store_ps(lo.im, _mm_add_ps(l_im, t_im));
}

// Radix-2 decimation in time, in place: bit-reversed order in, natural order out. From span 4
// on every step handles one whole block with the matching block of twiddles.
void ffft_mainloop(vcpx_t* x, const vcpx_t* table, bool positive) {
  SmallSpans(x, positive);
  for (int32_t span = 1; span < kFftBlocks; span *= 2) {  // span in blocks: 4 ... 2048 values
    for (int32_t group = 0; group < kFftBlocks; group += 2 * span) {
      for (int32_t e = 0; e < span; ++e) {
        Butterfly(x[group + e], x[group + span + e], table[span + e]);
      }
    }
  }
}

// The 16-value gather: for j < 256 the bit-reversed order maps the four blocks j, j + 256,
// j + 512, j + 768 onto four runs of four consecutive sources starting at reversed[j] / 4 plus
// 0, 1024, 2048, 3072 (the run's index picks the lane, position in the run picks the block), so
// one 4x4 transpose moves all sixteen. Runs are taken in the order 0, 2, 1, 3 and the rows
// stored to blocks j, j + 512, j + 256, j + 768: the two-bit reversals at both ends.
using Part = float (vcpx_t::*)[4];  // vcpx_t::re or vcpx_t::im

void TransposeStore(__m128 run0, __m128 run1, __m128 run2, __m128 run3, vcpx_t* out, int32_t j,
                    Part part) {
  const __m128 scale = _mm_set1_ps(static_cast<float>(kGatherScale));
  _MM_TRANSPOSE4_PS(run0, run2, run1, run3);
  _mm_store_ps(out[j].*part, _mm_mul_ps(run0, scale));
  _mm_store_ps(out[j + kQuarterBlocks].*part, _mm_mul_ps(run1, scale));
  _mm_store_ps(out[j + 2 * kQuarterBlocks].*part, _mm_mul_ps(run2, scale));
  _mm_store_ps(out[j + 3 * kQuarterBlocks].*part, _mm_mul_ps(run3, scale));
}

void ffft_sub(const float* input, vcpx_t* output, const uint32_t* reversed) {
  const __m128 zero = _mm_setzero_ps();
  for (int32_t j = 0; j < kQuarterBlocks; ++j) {
    const float* run = input + reversed[j] / 4;
    TransposeStore(_mm_load_ps(run), _mm_load_ps(run + kQuarter), _mm_load_ps(run + 2 * kQuarter),
                   _mm_load_ps(run + 3 * kQuarter), output, j, &vcpx_t::re);
    for (int32_t q = 0; q < 4; ++q) {
      _mm_store_ps(output[j + q * kQuarterBlocks].im, zero);
    }
  }
}

// The same gather on blocks: run r of the sources is block reversed[j] / 16 + 256 * r.
void frfft_sub(const vcpx_t* input, vcpx_t* work, const uint32_t* reversed, Part part) {
  for (int32_t j = 0; j < kQuarterBlocks; ++j) {
    const vcpx_t* run = input + reversed[j] / 16;
    TransposeStore(_mm_load_ps(run[0].*part), _mm_load_ps(run[kQuarterBlocks].*part),
                   _mm_load_ps(run[2 * kQuarterBlocks].*part),
                   _mm_load_ps(run[3 * kQuarterBlocks].*part), work, j, part);
  }
}

void frfft_xfer(const vcpx_t* work, float* output) {
  for (int32_t b = 0; b < kFftBlocks; ++b) {
    _mm_store_ps(output + 4 * b, _mm_load_ps(work[b].re));
  }
}

}  // namespace

void ffft(const float* input, vcpx_t* output) {
  const auto& t = Tables();
  ffft_sub(input, output, t.reversed);
  ffft_mainloop(output, t.wx, true);
}

void frfft(const vcpx_t* input, float* output, vcpx_t* work) {
  const auto& t = Tables();
  frfft_sub(input, work, t.reversed, &vcpx_t::re);
  frfft_sub(input, work, t.reversed, &vcpx_t::im);
  ffft_mainloop(work, t.rx, false);
  frfft_xfer(work, output);
}

}  // namespace quorvex::FFT_SSE

#endif  // QUORVEX_HAVE_FFT_SSE
