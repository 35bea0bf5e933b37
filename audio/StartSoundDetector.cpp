#include "audio/StartSoundDetector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quorvex::audio {

namespace {

constexpr double kHighPassHz = 300.0;  // below it: wind, handling noise, traffic rumble
constexpr int kShortFrames = 10;       // the 10 ms window, in 1 ms frames
constexpr int kHistoryFrames = 2000;   // what an onset must stand out of
constexpr int kGuardFrames = 30;       // the latest history is left out: a slower attack's own rise
constexpr int kMinHistoryFrames = 100;  // too little sound before it to judge an onset
constexpr double kRiseRatio = 15.85;    // 12 dB
constexpr double kFloorEnergy = 1e-6;   // -60 dBFS mean square
constexpr double kLocateBeforeSeconds = 0.060;
constexpr double kLocateAfterSeconds = 0.040;
constexpr double kPeakFromSeconds = 0.010;  // the burst's peak is sought from the window's start
constexpr double kRecentSeconds = 0.200;
constexpr double kPeakFraction = 0.1;
constexpr double kNoiseFactor = 2.0;

}  // namespace

StartSoundDetector::StartSoundDetector(int32_t sample_rate)
    : usable_(SupportsRate(sample_rate)),
      rate_(usable_ ? sample_rate : kMinRate),
      frame_samples_(std::max<int32_t>(rate_ / 1000, 1)),
      envelope_samples_(std::max<int32_t>(rate_ / 2000, 1)) {
  // Second-order Butterworth high-pass (bilinear transform).
  const double w0 = 2 * std::numbers::pi * std::min(kHighPassHz, 0.45 * rate_) / rate_;
  const double alpha = std::sin(w0) / std::numbers::sqrt2;
  const double c = std::cos(w0);
  const double a0 = 1 + alpha;
  b0_ = (1 + c) / 2 / a0;
  b1_ = -(1 + c) / a0;
  b2_ = b0_;
  a1_ = -2 * c / a0;
  a2_ = (1 - alpha) / a0;
}

std::optional<int64_t> StartSoundDetector::Feed(std::span<const float> samples) {
  if (!usable_)
    return std::nullopt;
  for (float x : samples) {
    if (onset_)
      break;
    Push(x);
  }
  return onset_;
}

std::optional<int64_t> StartSoundDetector::FeedAt(std::span<const float> samples,
                                                  int64_t first_ns) {
  if (!usable_)
    return std::nullopt;
  if (!onset_) {
    marks_.emplace_back(fed_, first_ns);
    // The onset is located at most 200 ms back: older marks are never asked for.
    while (marks_.size() > 1 && marks_[1].first + 2 * int64_t(rate_) < fed_)
      marks_.pop_front();
  }
  const std::optional<int64_t> index = Feed(samples);
  return index ? TimeOf(*index) : std::nullopt;
}

std::optional<int64_t> StartSoundDetector::TimeOf(int64_t index) const {
  auto mark = std::upper_bound(marks_.begin(), marks_.end(), index,
                               [](int64_t i, const auto& m) { return i < m.first; });
  if (mark == marks_.begin())
    return std::nullopt;
  --mark;
  return mark->second + int64_t(std::llround(double(index - mark->first) * 1e9 / rate_));
}

void StartSoundDetector::Push(float x) {
  const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
  x2_ = x1_;
  x1_ = x;
  y2_ = y1_;
  y1_ = y;
  recent_.push_back(float(y));
  if (recent_.size() > size_t(kRecentSeconds * rate_)) {
    recent_.pop_front();
    ++recent_first_;
  }
  ++fed_;
  frame_energy_ += y * y;
  if (++frame_fill_ == frame_samples_)
    EndFrame();
  if (candidate_end_ && fed_ >= *candidate_end_ + int64_t(kLocateAfterSeconds * rate_))
    onset_ = Locate();
}

void StartSoundDetector::EndFrame() {
  frames_.push_back(frame_energy_ / frame_samples_);
  frame_energy_ = 0;
  frame_fill_ = 0;
  if (frames_.size() > size_t(kShortFrames))
    frames_.pop_front();
  if (frames_.size() < size_t(kShortFrames))
    return;
  double short_energy = 0;
  for (double e : frames_)
    short_energy += e;
  short_energy /= kShortFrames;
  if (!candidate_end_ && IsCandidate(short_energy)) {
    candidate_end_ = fed_;
    candidate_history_.assign(history_.begin(), history_.end() - kGuardFrames);
  }
  history_.push_back(short_energy);
  if (history_.size() > size_t(kHistoryFrames + kGuardFrames))
    history_.pop_front();
  Admit();
}

void StartSoundDetector::Admit() {
  // The window that has just left the guard enters the running maximum; one that is now older
  // than the history leaves it.
  const int64_t index = windows_++;
  if (history_.size() > size_t(kGuardFrames)) {
    const double value = history_[history_.size() - 1 - kGuardFrames];
    while (!maximum_.empty() && maximum_.back().second <= value)
      maximum_.pop_back();
    maximum_.emplace_back(index - kGuardFrames, value);
  }
  const int64_t oldest = index + 1 - kGuardFrames - kHistoryFrames;
  while (!maximum_.empty() && maximum_.front().first < oldest)
    maximum_.pop_front();
}

bool StartSoundDetector::IsCandidate(double short_energy) const {
  if (history_.size() < size_t(kMinHistoryFrames + kGuardFrames))
    return false;
  if (short_energy < kFloorEnergy)
    return false;
  const double reference = maximum_.empty() ? 0.0 : maximum_.front().second;
  return short_energy >= reference * kRiseRatio;
}

double StartSoundDetector::NoiseRms() const {
  // The median window of the history: the level of the background, its own peaks ignored.
  std::vector<double> sorted = candidate_history_;
  if (sorted.empty())
    return 0;
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  return std::sqrt(sorted[sorted.size() / 2]);
}

int64_t StartSoundDetector::Locate() const {
  const int64_t end = *candidate_end_;
  const int64_t begin = std::max(recent_first_, end - int64_t(kLocateBeforeSeconds * rate_));
  const int64_t stop = fed_;
  // Centred 0.5 ms means of |x| over [begin, stop), through prefix sums.
  const size_t n = size_t(stop - begin);
  std::vector<double> prefix(n + 1, 0.0);
  for (size_t i = 0; i < n; ++i)
    prefix[i + 1] = prefix[i] + std::fabs(recent_[size_t(begin - recent_first_) + i]);
  const int64_t half = envelope_samples_ / 2;
  std::vector<double> envelope(n);
  for (size_t i = 0; i < n; ++i) {
    const size_t lo = size_t(std::max<int64_t>(int64_t(i) - half, 0));
    const size_t hi = std::min(n, i + size_t(envelope_samples_ - half));
    envelope[i] = (prefix[hi] - prefix[lo]) / double(hi - lo);
  }
  const size_t peak_from =
      size_t(std::max<int64_t>(end - int64_t(kPeakFromSeconds * rate_) - begin, 0));
  const size_t peak =
      size_t(std::max_element(envelope.begin() + peak_from, envelope.end()) - envelope.begin());
  const double top = envelope[peak];
  const double threshold =
      std::min(std::max(kPeakFraction * top, kNoiseFactor * NoiseRms()), 0.5 * top);
  size_t i = peak;
  while (i > 0 && envelope[i - 1] >= threshold)
    --i;
  return begin + int64_t(i);
}

}  // namespace quorvex::audio
