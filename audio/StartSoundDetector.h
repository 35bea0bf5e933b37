#pragma once

// Finds the start signal of a race in a sound track: the first strong, sharp onset (a gun, a
// beep, a whistle, a horn) after the first sample it is given. Plain C++, no GStreamer: the
// caller decodes the sound to mono floats and feeds it block by block, in order.
//
// How: the sound is high-passed (wind and rumble carry no start), its energy is taken over 10 ms
// windows every millisecond and compared with the loudest 10 ms of the two seconds before. An
// onset is a window at least 12 dB louder than everything in that history (so crowd noise,
// babble and speech, which keep repeating their own peaks, do not count) and louder than -60
// dBFS. Its instant is then located to the sample: walking back from the burst's peak to where a
// 0.5 ms envelope falls below a tenth of the peak (or below twice the noise level, whichever is
// higher). On a clean signal the result lies within a fraction of a millisecond of the truth.
//
// Thread: one object on one thread; no shared state. Units: samples at the rate given, counted
// from the first sample fed.

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace quorvex::audio {

class StartSoundDetector {
 public:
  // The rates whose 0.5 ms envelope, 1 ms frames and 200 ms of recent sound the detector can
  // make sense of (and hold): 4 kHz to 768 kHz.
  static constexpr int32_t kMinRate = 4000;
  static constexpr int32_t kMaxRate = 768000;
  static bool SupportsRate(int32_t sample_rate) {
    return sample_rate >= kMinRate && sample_rate <= kMaxRate;
  }

  // `sample_rate` in Hz. A detector of a rate it does not support finds nothing.
  explicit StartSoundDetector(int32_t sample_rate);

  // Feeds the next samples (mono, full scale +-1). Returns the onset's sample index once it is
  // known (it may take up to 40 ms of sound after the onset); then the same on every later call
  // without looking at the samples.
  std::optional<int64_t> Feed(std::span<const float> samples);
  // Feed for samples whose first one plays at `first_ns` (stream time): returns the onset's
  // time, taken from the times of the blocks fed, so that a gap in the sound (a block that
  // starts later than the one before ended) moves what follows it.
  std::optional<int64_t> FeedAt(std::span<const float> samples, int64_t first_ns);
  // The time of sample `index`, from the times given to FeedAt (the last block that starts at or
  // before it); nullopt before the first.
  std::optional<int64_t> TimeOf(int64_t index) const;
  // The onset found so far, if any.
  std::optional<int64_t> onset() const { return onset_; }
  // Samples fed so far.
  int64_t samples_fed() const { return fed_; }
  int32_t sample_rate() const { return rate_; }

 private:
  void Push(float x);
  void EndFrame();
  void Admit();
  bool IsCandidate(double short_energy) const;
  int64_t Locate() const;
  double NoiseRms() const;

  bool usable_;
  int32_t rate_;
  int32_t frame_samples_;     // 1 ms
  int32_t envelope_samples_;  // 0.5 ms
  // Biquad high-pass state (direct form I).
  double b0_, b1_, b2_, a1_, a2_;
  double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
  int64_t fed_ = 0;
  double frame_energy_ = 0;  // sum of squares in the frame being filled
  int32_t frame_fill_ = 0;
  std::deque<double> frames_;   // the last 10 frames' mean squares
  std::deque<double> history_;  // 10 ms window energies, one per frame, oldest first
  // The running maximum of the history without its guard: (window index, energy), decreasing.
  std::deque<std::pair<int64_t, double>> maximum_;
  int64_t windows_ = 0;                    // windows completed
  std::deque<float> recent_;               // the last 200 ms of filtered samples
  int64_t recent_first_ = 0;               // sample index of recent_.front()
  std::optional<int64_t> candidate_end_;   // sample index at which the candidate window ended
  std::vector<double> candidate_history_;  // the history when the candidate fired
  std::optional<int64_t> onset_;
  // (first sample index, its time) of the blocks fed through FeedAt, the last 2 s of them.
  std::deque<std::pair<int64_t, int64_t>> marks_;
};

}  // namespace quorvex::audio
