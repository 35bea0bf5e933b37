#include "audio/CPitchShift.h"

#include <cmath>
#include <cstring>

namespace quorvex {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kInverseTwoPi = 1.0 / kTwoPi;
constexpr int32_t kWindowEntries = 8192;

template <typename T, size_t N>
void Zero(T (&array)[N]) {
  std::memset(array, 0, sizeof(array));
}

float& Re(vcpx_t* a, int32_t k) {
  return a[k >> 2].re[k & 3];
}
float& Im(vcpx_t* a, int32_t k) {
  return a[k >> 2].im[k & 3];
}

bool UsableArguments(float pitch_factor, int32_t frame_size, int32_t oversampling,
                     float sample_rate) {
  return frame_size == kFftLength && oversampling >= 1 && oversampling <= frame_size &&
         std::isfinite(pitch_factor) && pitch_factor > 0 && std::isfinite(sample_rate) &&
         sample_rate > 0;
}

// Keeps an accumulated phase near zero. The float it is stored in would otherwise grow by up
// to half the frame length times pi/2 per frame and, after a few minutes of audio, hold the
// phase only to within a radian or more, which smears every shifted tone into noise. The
// cosine and sine of the result are those of the unwrapped sum. A sum that is not finite (from
// non-finite input, or from factors so large that only a meaningless phase is left) restarts
// at 0 so that the stream recovers once the input is clean again.
double WrapPhase(double phase) {
  const double turns = phase * kInverseTwoPi;  // any whole number of turns near it will do
  if (!(std::fabs(turns) < 1e15)) {
    return 0.0;
  }
  const auto whole = static_cast<double>(static_cast<int64_t>(turns + (turns < 0 ? -0.5 : 0.5)));
  return phase - kTwoPi * whole;
}

}  // namespace

CPitchShift::CPitchShift() : CPitchShift(FFT_C::ffft, FFT_C::frfft) {
#if QUORVEX_HAVE_FFT_SSE
  if (__builtin_cpu_supports("sse")) {
    forward_fft_ = FFT_SSE::ffft;
    inverse_fft_ = FFT_SSE::frfft;
  }
#endif
}

CPitchShift::CPitchShift(ffft_function forward, frfft_function inverse)
    : forward_fft_(forward), inverse_fft_(inverse) {
  ffft_init();
  ResetState();
  for (int32_t i = 0; i < kWindowEntries; ++i) {
    window_table_[i] = static_cast<float>(0.5 - 0.5 * std::cos(kTwoPi * i / kFftLength));
  }
}

void CPitchShift::Clear() {
  ResetState();
}

void CPitchShift::ResetState() {
  fifo_pos_ = 0;
  Zero(in_fifo_);
  Zero(out_fifo_);
  Zero(prev_phase_);
  Zero(phase_sum_);
  Zero(overlap_);
  Zero(analysis_freq_);
  Zero(analysis_mag_);
}

void CPitchShift::smbPitchShift(float pitch_factor, int32_t sample_count, int32_t frame_size,
                                int32_t oversampling, float sample_rate, const float* input,
                                float* output) {
  if (!UsableArguments(pitch_factor, frame_size, oversampling, sample_rate)) {
    for (int32_t i = 0; i < sample_count; ++i) {
      output[i] = 0.0f;
    }
    return;
  }
  const int32_t hop = frame_size / oversampling;
  const int32_t fill = frame_size - hop;
  // 0 after a Clear; below the fill only when a caller changed the oversampling mid-stream,
  // which would otherwise read before the start of the output FIFO.
  if (fifo_pos_ < fill) {
    fifo_pos_ = fill;
  }
  for (int32_t i = 0; i < sample_count; ++i) {
    in_fifo_[fifo_pos_] = input[i];
    output[i] = out_fifo_[fifo_pos_ - fill];
    ++fifo_pos_;
    if (fifo_pos_ >= frame_size) {
      fifo_pos_ = fill;
      ProcessFrame(frame_size, oversampling, pitch_factor, sample_rate);
    }
  }
}

void CPitchShift::ProcessFrame(int32_t frame_size, int32_t oversampling, double pitch_factor,
                               double sample_rate) {
  const int32_t hop = frame_size / oversampling;
  for (int32_t k = 0; k < frame_size; ++k) {
    frame_[k] = in_fifo_[k] * window_table_[k];
  }
  forward_fft_(frame_, spectrum_);
  Analyse(frame_size, oversampling, sample_rate);
  Shift(frame_size, pitch_factor);
  Synthesise(frame_size, oversampling, sample_rate);
  inverse_fft_(spectrum_, frame_, work_);
  OverlapAdd(frame_size, oversampling);
  std::memcpy(out_fifo_, overlap_, sizeof(float) * hop);
  std::memmove(overlap_, overlap_ + hop, sizeof(float) * frame_size);
  std::memmove(in_fifo_, in_fifo_ + hop, sizeof(float) * (frame_size - hop));
}

void CPitchShift::Analyse(int32_t frame_size, int32_t oversampling, double sample_rate) {
  const int32_t half = frame_size / 2;
  const double bin_width = sample_rate / frame_size;
  const double expected = kTwoPi * (frame_size / oversampling) / frame_size;
  for (int32_t k = 0; k <= half; ++k) {
    const double re = Re(spectrum_, k);
    const double im = Im(spectrum_, k);
    const double phase = std::atan2(im, re);
    double d = phase - prev_phase_[k];
    prev_phase_[k] = static_cast<float>(phase);
    d -= k * expected;
    d -= kPi * EvenHalfTurns(d / kPi);
    d = oversampling * d / kTwoPi;
    analysis_mag_[k] = static_cast<float>(2.0 * std::sqrt(re * re + im * im));
    analysis_freq_[k] = static_cast<float>(k * bin_width + d * bin_width);
  }
}

void CPitchShift::Shift(int32_t frame_size, double pitch_factor) {
  const int32_t half = frame_size / 2;
  std::memset(synthesis_mag_, 0, sizeof(float) * frame_size);
  std::memset(synthesis_freq_, 0, sizeof(float) * frame_size);
  for (int32_t k = 0; k <= half; ++k) {
    // Compared before the conversion, so that no factor can produce an index out of range.
    const double target = static_cast<double>(static_cast<float>(k)) * pitch_factor;
    if (target < half + 1.0) {
      const int32_t bin = static_cast<int32_t>(target);
      synthesis_mag_[bin] += analysis_mag_[k];
      synthesis_freq_[bin] = static_cast<float>(analysis_freq_[k] * pitch_factor);
    }
  }
}

void CPitchShift::Synthesise(int32_t frame_size, int32_t oversampling, double sample_rate) {
  const int32_t half = frame_size / 2;
  const double bin_width = sample_rate / frame_size;
  const double expected = kTwoPi * (frame_size / oversampling) / frame_size;
  for (int32_t k = 0; k <= half; ++k) {
    double d = (synthesis_freq_[k] - k * bin_width) / bin_width;
    d = kTwoPi * d / oversampling + k * expected;
    phase_sum_[k] = static_cast<float>(WrapPhase(phase_sum_[k] + d));
    const double magnitude = synthesis_mag_[k];
    if (magnitude == 0.0) {
      // Most bins at large factors, every other one at factor 2: skipping the cosine and sine
      // changes at most the sign of a zero, which the sums that follow cannot tell.
      Re(spectrum_, k) = 0.0f;
      Im(spectrum_, k) = 0.0f;
      continue;
    }
    const double phase = phase_sum_[k];
    Re(spectrum_, k) = static_cast<float>(magnitude * std::cos(phase));
    Im(spectrum_, k) = static_cast<float>(magnitude * std::sin(phase));
  }
  for (int32_t k = half + 1; k < frame_size; ++k) {
    Re(spectrum_, k) = 0.0f;
    Im(spectrum_, k) = 0.0f;
  }
}

void CPitchShift::OverlapAdd(int32_t frame_size, int32_t oversampling) {
  const double divisor = static_cast<double>((frame_size / 2) * oversampling);
  for (int32_t k = 0; k < frame_size; ++k) {
    overlap_[k] = static_cast<float>(overlap_[k] + 2.0 * window_table_[k] * frame_[k] / divisor);
  }
}

}  // namespace quorvex
