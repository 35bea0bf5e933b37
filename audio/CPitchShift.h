#pragma once

// Phase-vocoder pitch shifter for one channel of audio: changes the pitch by a factor and
// keeps the duration. Frames of `frame_size` samples, windowed with a Hann window, advance by
// hop = frame_size / oversampling samples; every bin's true frequency is estimated from its
// phase advance since the previous frame, moved to the scaled frequency, and the frames are
// synthesised again and overlap-added.
//
// Ownership and placement: one flat object (about 400 KB) holding every buffer, aligned to
// 16 bytes for the vector transforms. Allocate it on the heap (`new` honours the alignment);
// nothing is allocated while streaming.
//
// Threads: one streaming thread at a time per object; no locks. Objects share only the
// read-only transform tables, which the constructor makes sure exist.
//
// Level and latency: the output lags the input by frame_size samples; both transforms scale by
// 1/64, so a steady bin-centred sinusoid at factor 1 comes out at 3/8192 of its amplitude (the
// caller scales the result back up).

#include <cstdint>

#include "audio/FFT.h"

namespace quorvex {

class alignas(16) CPitchShift {
 public:
  // Zeroes the state and picks the vector transforms when the processor has SSE, the
  // portable ones otherwise.
  CPitchShift();
  // Uses the given transform pair, e.g. to compare the implementations.
  CPitchShift(ffft_function forward, frfft_function inverse);
  CPitchShift(const CPitchShift&) = delete;
  CPitchShift& operator=(const CPitchShift&) = delete;

  // Restarts the stream as after construction (the next hop outputs are exactly 0). The
  // window table and the transform choice stay.
  void Clear();

  // Consumes `sample_count` samples of `input` and writes as many to `output` (both in -1..1
  // by convention; the same array is allowed, each sample is read before it is overwritten).
  // A frame is processed after every hop input samples counted from the last Clear, so the
  // way the stream is split into calls does not change the output. Until the first frame has
  // been processed the output is exactly 0.
  //
  // frame_size must be 4096 (the transform length); 1 <= oversampling <= frame_size;
  // sample_rate (Hz) and pitch_factor must be finite and > 0. Calls with other values write
  // silence and leave the state unchanged.
  void smbPitchShift(float pitch_factor, int32_t sample_count, int32_t frame_size,
                     int32_t oversampling, float sample_rate, const float* input, float* output);

  // The phase-unwrapping step: `d_over_pi` truncated toward zero, an odd result moved one
  // further away from zero, so that d - pi * q lies within -pi .. pi. Non-finite values give 0.
  static int32_t EvenHalfTurns(double d_over_pi) {
    // |d| stays far below 2^31 half turns for usable arguments; anything else is not a phase.
    if (!(d_over_pi > -1e9 && d_over_pi < 1e9)) {
      return 0;
    }
    const auto q = static_cast<int32_t>(d_over_pi);
    return q + (q & 1) * (q > 0 ? 1 : -1);
  }

 private:
  void ResetState();
  void ProcessFrame(int32_t frame_size, int32_t oversampling, double pitch_factor,
                    double sample_rate);
  void Analyse(int32_t frame_size, int32_t oversampling, double sample_rate);
  void Shift(int32_t frame_size, double pitch_factor);
  void Synthesise(int32_t frame_size, int32_t oversampling, double sample_rate);
  void OverlapAdd(int32_t frame_size, int32_t oversampling);

  // All members: the owning streaming thread only.
  float in_fifo_[8192];
  float out_fifo_[8192];
  alignas(16) float frame_[8192];
  vcpx_t spectrum_[1024];
  vcpx_t work_[1024];
  float prev_phase_[4097];
  float phase_sum_[4097];
  float overlap_[16384];
  float analysis_freq_[8192];
  float analysis_mag_[8192];
  float synthesis_freq_[8192];
  float synthesis_mag_[8192];
  int32_t fifo_pos_;  // 0: not started; the next call sets it to frame_size - hop
  float window_table_[8192];
  ffft_function forward_fft_;
  frfft_function inverse_fft_;
};

}  // namespace quorvex
