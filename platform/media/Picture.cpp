#include "platform/media/Picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quorvex::media {

Crop::Pixels Crop::InPixels(int32_t picture_width, int32_t picture_height) const {
  // An edge, rounded and held within 0..size; NaN (never from the channel) counts as 0.
  const auto edge = [](double fraction, int32_t size) {
    const double at = std::round(fraction * size);
    return at >= 0 ? int32_t(std::min<double>(at, size)) : 0;
  };
  Pixels p;
  p.x = std::min(edge(left, picture_width), std::max(picture_width - 1, 0));
  p.y = std::min(edge(top, picture_height), std::max(picture_height - 1, 0));
  p.width = std::max(edge(left + width, picture_width) - p.x, 1);
  p.height = std::max(edge(top + height, picture_height) - p.y, 1);
  return p;
}

void PictureCache::Insert(std::shared_ptr<const Picture> picture, int64_t near_ns) {
  if (!picture || !picture->PlausibleSpan())
    return;  // a picture without a span can never be found again
  std::lock_guard lock(mutex_);
  if ((width_ || height_) && (picture->width != width_ || picture->height != height_))
    return;
  if (picture->crop != crop_)
    return;
  if (picture->bytes() > limit_bytes_)
    return;
  // The same picture stamped by another pipeline or seek may differ by a nanosecond of
  // rounding: it replaces the one there, never stands beside it as a picture of its own.
  for (auto near = by_start_.lower_bound(picture->start_ns - Picture::kSameNs);
       near != by_start_.end() && near->first <= picture->start_ns + Picture::kSameNs;) {
    if (near->first == picture->start_ns) {
      ++near;
      continue;
    }
    bytes_ -= near->second->bytes();
    near = by_start_.erase(near);
  }
  auto [it, inserted] = by_start_.try_emplace(picture->start_ns, picture);
  if (!inserted) {
    bytes_ -= it->second->bytes();
    it->second = picture;
  }
  bytes_ += picture->bytes();
  EvictLocked(near_ns);
  peak_bytes_ = std::max(peak_bytes_, bytes_);
}

// Whatever lies farthest from where the user is goes first: both ends are kept in balance, so
// the pictures around the current one stay for steps either way.
void PictureCache::EvictLocked(int64_t near_ns) {
  while (bytes_ > limit_bytes_ && !by_start_.empty()) {
    auto first = by_start_.begin();
    auto last = std::prev(by_start_.end());
    const auto victim =
        std::llabs(first->first - near_ns) >= std::llabs(last->first - near_ns) ? first : last;
    bytes_ -= victim->second->bytes();
    by_start_.erase(victim);
  }
}

std::shared_ptr<const Picture> PictureCache::Find(int64_t time_ns) const {
  std::lock_guard lock(mutex_);
  auto it = by_start_.upper_bound(time_ns);
  if (it == by_start_.begin())
    return nullptr;
  --it;
  return it->second->Covers(time_ns) ? it->second : nullptr;
}

int64_t PictureCache::RunStart(int64_t time_ns) const {
  // Spans closed by the next picture's start meet exactly; those from the container's durations
  // may be a rounding off.
  constexpr int64_t kGapNs = 1000;
  std::lock_guard lock(mutex_);
  auto it = by_start_.upper_bound(time_ns);
  if (it == by_start_.begin() || !std::prev(it)->second->Covers(time_ns))
    return time_ns;
  --it;
  while (it != by_start_.begin()) {
    const Picture& before = *std::prev(it)->second;
    if (before.start_ns + before.duration_ns + kGapNs < it->first)
      break;
    --it;
  }
  return it->first;
}

void PictureCache::Reset(int32_t width, int32_t height, const Crop& crop) {
  std::lock_guard lock(mutex_);
  by_start_.clear();
  bytes_ = 0;
  width_ = width;
  height_ = height;
  crop_ = crop;
}

void PictureCache::set_limit_bytes(size_t limit) {
  std::lock_guard lock(mutex_);
  limit_bytes_ = limit;
  by_start_.clear();
  bytes_ = 0;
}

void PictureCache::SetLimitKeeping(size_t limit, int64_t near_ns) {
  std::lock_guard lock(mutex_);
  limit_bytes_ = limit;
  EvictLocked(near_ns);
}

size_t PictureCache::bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

size_t PictureCache::limit_bytes() const {
  std::lock_guard lock(mutex_);
  return limit_bytes_;
}

size_t PictureCache::count() const {
  std::lock_guard lock(mutex_);
  return by_start_.size();
}

size_t PictureCache::peak_bytes() const {
  std::lock_guard lock(mutex_);
  return peak_bytes_;
}

}  // namespace quorvex::media
