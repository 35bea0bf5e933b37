#pragma once

// The fixed-length (4096-point) Fourier transform of the pitch shifter, in a portable
// double-precision implementation (FFT_C) and a four-lane SSE one (FFT_SSE, x86 only).
//
// Scaling and signs: both directions scale by 1/64, so a forward transform followed by an
// inverse one gives back the input (1/64 * 1/64 * 4096 = 1). The forward transform uses the
// positive exponent: bin k = (1/64) * sum_n x[n] * e^(+2*pi*i*n*k/4096); the inverse the
// negative one.
//
// Alignment: every array handed to a transform (real or complex) must start on a 16-byte
// boundary; vcpx_t carries that alignment itself, float arrays must be placed by the caller.
// Input and output of one call must not overlap.
//
// Threads: the tables are built once per process (ffft_init, or the first transform) and are
// read-only afterwards, so transforms may run on several threads at once, each with its own
// arrays.

#include <cstdint>

#if defined(__SSE__)
#define QUORVEX_HAVE_FFT_SSE 1
#else
#define QUORVEX_HAVE_FFT_SSE 0
#endif

namespace quorvex {

// Four complex single-precision values: the four real parts, then the four imaginary parts.
// Complex value k of an array lies in block k / 4, lane k % 4.
struct alignas(16) vcpx_t {
  float re[4];
  float im[4];
};
static_assert(sizeof(vcpx_t) == 32);

inline constexpr int32_t kFftLength = 4096;
inline constexpr int32_t kFftBlocks = kFftLength / 4;

// Forward transform: 4096 real samples in, 4096 complex bins (1024 blocks) out.
using ffft_function = void (*)(const float* input, vcpx_t* output);
// Inverse transform: 1024 blocks in (unchanged), the real parts of the 4096 results out;
// `work` (1024 blocks) is overwritten.
using frfft_function = void (*)(const vcpx_t* input, float* output, vcpx_t* work);

// Builds the shared tables (bit-reversal order and twiddle factors). Idempotent and
// thread-safe; call it once early so that no streaming thread pays for the construction.
void ffft_init();

namespace FFT_C {
// Every product and sum in double precision, every stored value rounded to single.
void ffft(const float* input, vcpx_t* output);
void frfft(const vcpx_t* input, float* output, vcpx_t* work);
}  // namespace FFT_C

#if QUORVEX_HAVE_FFT_SSE
namespace FFT_SSE {
// Single precision, four lanes per instruction. Requires a processor with SSE.
void ffft(const float* input, vcpx_t* output);
void frfft(const vcpx_t* input, float* output, vcpx_t* work);
}  // namespace FFT_SSE
#endif

}  // namespace quorvex
