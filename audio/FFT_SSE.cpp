// The vector transform: single precision, four lanes per instruction, aligned 16-byte loads
// and stores throughout (the caller's arrays, the blocks and the tables are all aligned).
//
// Memory traffic, not arithmetic, bounds this transform, so passes are fused where that
// leaves every operation and its operands unchanged: the two in-block spans run on the
// gathered values before they are first stored, and the block spans run two at a time on four
// blocks held in registers. The results are those of one pass per span.

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

// One block in registers.
struct Block {
  __m128 re;
  __m128 im;
};

Block Load(const vcpx_t& b) {
  return {_mm_load_ps(b.re), _mm_load_ps(b.im)};
}

void Store(vcpx_t& b, const Block& v) {
  _mm_store_ps(b.re, v.re);
  _mm_store_ps(b.im, v.im);
}

// Sign masks: a set bit 31 flips that lane. _mm_set_epi32 lists lanes 3, 2, 1, 0.
__m128 SignMask(bool l0, bool l1, bool l2, bool l3) {
  const int n = static_cast<int>(0x80000000u);
  return _mm_castsi128_ps(_mm_set_epi32(l3 ? n : 0, l2 ? n : 0, l1 ? n : 0, l0 ? n : 0));
}

// Span 2's pair (1, 3) takes the factor sigma*i, which swaps the real and imaginary parts of
// x3; the sign of the exponent only decides which lanes of the swapped parts are negated.
struct SmallSpanMasks {
  explicit SmallSpanMasks(bool positive)
      : span1(SignMask(false, true, false, true)),
        re(positive ? SignMask(false, true, true, false)      // r1 - i3, r1 + i3
                    : SignMask(false, false, true, true)),    // r1 + i3, r1 - i3
        im(positive ? SignMask(false, false, true, true)      // i1 + r3, i1 - r3
                    : SignMask(false, true, true, false)) {}  // i1 - r3, i1 + r3
  __m128 span1;
  __m128 re;
  __m128 im;
};

// Spans 1 and 2 inside one block, by shuffles and sign masks.
Block SmallSpans(Block v, const SmallSpanMasks& m) {
  // (x0 + x1, x0 - x1, x2 + x3, x2 - x3)
  v.re = _mm_add_ps(_mm_shuffle_ps(v.re, v.re, _MM_SHUFFLE(2, 2, 0, 0)),
                    _mm_xor_ps(_mm_shuffle_ps(v.re, v.re, _MM_SHUFFLE(3, 3, 1, 1)), m.span1));
  v.im = _mm_add_ps(_mm_shuffle_ps(v.im, v.im, _MM_SHUFFLE(2, 2, 0, 0)),
                    _mm_xor_ps(_mm_shuffle_ps(v.im, v.im, _MM_SHUFFLE(3, 3, 1, 1)), m.span1));
  const __m128 upper = _mm_shuffle_ps(v.re, v.im, _MM_SHUFFLE(3, 2, 3, 2));   // r2 r3 i2 i3
  const __m128 b_re = _mm_shuffle_ps(upper, upper, _MM_SHUFFLE(3, 0, 3, 0));  // r2 i3 r2 i3
  const __m128 b_im = _mm_shuffle_ps(upper, upper, _MM_SHUFFLE(1, 2, 1, 2));  // i2 r3 i2 r3
  const __m128 a_re = _mm_shuffle_ps(v.re, v.re, _MM_SHUFFLE(1, 0, 1, 0));    // r0 r1 r0 r1
  const __m128 a_im = _mm_shuffle_ps(v.im, v.im, _MM_SHUFFLE(1, 0, 1, 0));    // i0 i1 i0 i1
  return {_mm_add_ps(a_re, _mm_xor_ps(b_re, m.re)), _mm_add_ps(a_im, _mm_xor_ps(b_im, m.im))};
}

// One butterfly on whole blocks: lo, hi = lo + w*hi, lo - w*hi.
void Butterfly(Block& lo, Block& hi, const vcpx_t& twiddle) {
  const Block w = Load(twiddle);
  const __m128 t_re = _mm_sub_ps(_mm_mul_ps(w.re, hi.re), _mm_mul_ps(w.im, hi.im));
  const __m128 t_im = _mm_add_ps(_mm_mul_ps(w.re, hi.im), _mm_mul_ps(w.im, hi.re));
  hi = {_mm_sub_ps(lo.re, t_re), _mm_sub_ps(lo.im, t_im)};
  lo = {_mm_add_ps(lo.re, t_re), _mm_add_ps(lo.im, t_im)};
}

// Spans of s and 2s blocks in one pass: in every group of 4s blocks, blocks e, s + e, 2s + e
// and 3s + e meet first in pairs (e, s + e), (2s + e, 3s + e) and then (e, 2s + e),
// (s + e, 3s + e), each pair with its own twiddle. With `real_out`, the real parts of the
// results are also copied there (the inverse transform's output), saving a pass.
void TwoSpans(vcpx_t* x, const vcpx_t* table, int32_t s, float* real_out) {
  for (int32_t group = 0; group < kFftBlocks; group += 4 * s) {
    for (int32_t e = 0; e < s; ++e) {
      const int32_t i = group + e;
      Block a = Load(x[i]), b = Load(x[i + s]), c = Load(x[i + 2 * s]), d = Load(x[i + 3 * s]);
      Butterfly(a, b, table[s + e]);
      Butterfly(c, d, table[s + e]);
      Butterfly(a, c, table[2 * s + e]);
      Butterfly(b, d, table[3 * s + e]);
      Store(x[i], a);
      Store(x[i + s], b);
      Store(x[i + 2 * s], c);
      Store(x[i + 3 * s], d);
      if (real_out != nullptr) {
        _mm_store_ps(real_out + 4 * i, a.re);
        _mm_store_ps(real_out + 4 * (i + s), b.re);
        _mm_store_ps(real_out + 4 * (i + 2 * s), c.re);
        _mm_store_ps(real_out + 4 * (i + 3 * s), d.re);
      }
    }
  }
}

// Radix-2 decimation in time from span 4 on (spans 1 and 2 ran in the gather): values in
// bit-reversed order in, natural order out; the real parts also to `real_out` if given.
void ffft_mainloop(vcpx_t* x, const vcpx_t* table, float* real_out) {
  constexpr int32_t kLastPass = kFftBlocks / 4;
  for (int32_t s = 1; s < kLastPass; s *= 4) {  // spans in blocks: (1, 2), (4, 8) ... (64, 128)
    TwoSpans(x, table, s, nullptr);
  }
  TwoSpans(x, table, kLastPass, real_out);  // (256, 512)
}

// The 16-value gather: for j < 256 the bit-reversed order maps the four blocks j, j + 256,
// j + 512, j + 768 onto four runs of four consecutive sources starting at reversed[j] / 4 plus
// 0, 1024, 2048, 3072 (the run's index picks the lane, position in the run picks the block), so
// one 4x4 transpose moves all sixteen. Runs are taken in the order 0, 2, 1, 3 and the rows go
// to blocks j, j + 512, j + 256, j + 768: the two-bit reversals at both ends.
struct Quad {
  __m128 row[4];  // destined for blocks j, j + 256, j + 512, j + 768
};

Quad Transpose(__m128 run0, __m128 run1, __m128 run2, __m128 run3) {
  const __m128 scale = _mm_set1_ps(static_cast<float>(kGatherScale));
  _MM_TRANSPOSE4_PS(run0, run2, run1, run3);
  return {{_mm_mul_ps(run0, scale), _mm_mul_ps(run1, scale), _mm_mul_ps(run2, scale),
           _mm_mul_ps(run3, scale)}};
}

void StoreGathered(vcpx_t* out, int32_t j, const Quad& re, const Quad& im,
                   const SmallSpanMasks& masks) {
  for (int32_t q = 0; q < 4; ++q) {
    Store(out[j + q * kQuarterBlocks], SmallSpans({re.row[q], im.row[q]}, masks));
  }
}

void ffft_sub(const float* input, vcpx_t* output, const uint32_t* reversed) {
  const SmallSpanMasks masks(true);
  const __m128 zero = _mm_setzero_ps();
  const Quad im = {{zero, zero, zero, zero}};
  for (int32_t j = 0; j < kQuarterBlocks; ++j) {
    const float* run = input + reversed[j] / 4;
    const Quad re = Transpose(_mm_load_ps(run), _mm_load_ps(run + kQuarter),
                              _mm_load_ps(run + 2 * kQuarter), _mm_load_ps(run + 3 * kQuarter));
    StoreGathered(output, j, re, im, masks);
  }
}

// The same gather on blocks: run r of the sources is block reversed[j] / 16 + 256 * r.
void frfft_sub(const vcpx_t* input, vcpx_t* work, const uint32_t* reversed) {
  const SmallSpanMasks masks(false);
  for (int32_t j = 0; j < kQuarterBlocks; ++j) {
    const vcpx_t* run = input + reversed[j] / 16;
    const Quad re =
        Transpose(_mm_load_ps(run[0].re), _mm_load_ps(run[kQuarterBlocks].re),
                  _mm_load_ps(run[2 * kQuarterBlocks].re), _mm_load_ps(run[3 * kQuarterBlocks].re));
    const Quad im =
        Transpose(_mm_load_ps(run[0].im), _mm_load_ps(run[kQuarterBlocks].im),
                  _mm_load_ps(run[2 * kQuarterBlocks].im), _mm_load_ps(run[3 * kQuarterBlocks].im));
    StoreGathered(work, j, re, im, masks);
  }
}

}  // namespace

void ffft(const float* input, vcpx_t* output) {
  const auto& t = Tables();
  ffft_sub(input, output, t.reversed);
  ffft_mainloop(output, t.wx, nullptr);
}

void frfft(const vcpx_t* input, float* output, vcpx_t* work) {
  const auto& t = Tables();
  frfft_sub(input, work, t.reversed);
  ffft_mainloop(work, t.rx, output);  // copies out the four real parts of a block at a time
}

}  // namespace quorvex::FFT_SSE

#endif  // QUORVEX_HAVE_FFT_SSE
