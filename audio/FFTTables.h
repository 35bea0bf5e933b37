#pragma once

// Tables shared by both transform implementations; internal to the transforms.

#include <cstdint>

#include "audio/FFT.h"

namespace quorvex::fft_detail {

struct FftTables {
  // reversed[i]: i with its 12 bits in reverse order.
  uint32_t reversed[kFftLength];
  // Entry S + e (span S = 1, 2, 4 ... 2048, 0 <= e < S) is e^(+2*pi*i*e/(2S)); entry 0 unused.
  vcpx_t wx[kFftBlocks];
  // The same with the negative exponent.
  vcpx_t rx[kFftBlocks];
};

// Built on first use (thread-safe), read-only afterwards.
const FftTables& Tables();

inline constexpr double kGatherScale = 0.015625;  // 1/64 in each direction

}  // namespace quorvex::fft_detail
