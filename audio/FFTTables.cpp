#include "audio/FFTTables.h"

#include <cmath>

namespace quorvex {
namespace fft_detail {
namespace {

constexpr double kTwoPi = 6.283185307179586;

uint32_t Reverse12(uint32_t i) {
  uint32_t r = 0;
  for (int bit = 0; bit < 12; ++bit) {
    r = (r << 1) | ((i >> bit) & 1u);
  }
  return r;
}

void SetEntry(vcpx_t* table, int32_t j, float re, float im) {
  table[j / 4].re[j % 4] = re;
  table[j / 4].im[j % 4] = im;
}

// Entries are filled span by span (S = 1, 2, 4 ...): a step of 4096 / (2S) through the
// angles 2*pi*k/4096 gives the S twiddles of that span.
void BuildTwiddles(FftTables& t) {
  int32_t j = 1;
  for (int32_t step = kFftLength / 2; step > 0; step /= 2) {
    for (int32_t k = 0; k < kFftLength / 2; k += step) {
      const double angle = kTwoPi * k / kFftLength;
      const float c = static_cast<float>(std::cos(angle));
      const float s = static_cast<float>(std::sin(angle));
      SetEntry(t.wx, j, c, s);
      SetEntry(t.rx, j, c, -s);
      ++j;
    }
  }
}

FftTables Build() {
  FftTables t{};
  for (uint32_t i = 0; i < static_cast<uint32_t>(kFftLength); ++i) {
    t.reversed[i] = Reverse12(i);
  }
  BuildTwiddles(t);
  return t;
}

}  // namespace

const FftTables& Tables() {
  // A function-local static: built exactly once even when several threads race here.
  static const FftTables tables = Build();
  return tables;
}

}  // namespace fft_detail

void ffft_init() {
  fft_detail::Tables();
}

}  // namespace quorvex
