#pragma once

// Decoded pictures at the size they are drawn, and the cache of recent ones that lets a paused
// movie step backward (and forward again) without decoding.
//
// A Picture is immutable once made and shared between threads by shared_ptr. PictureCache is
// thread-safe: the streaming thread of a playing movie, the back-filling thread and the owner's
// thread all insert and look up. Free of GStreamer.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/media/Crop.h"

namespace quorvex::media {

struct Picture {
  int64_t start_ns = 0;     // stream time of the picture's first instant
  int64_t duration_ns = 0;  // 0 when the stream does not say
  int64_t nominal_ns = 0;   // one frame at the stream's fixed rate; 0 when it has none
  int32_t width = 0, height = 0;
  std::vector<uint8_t> pixels;  // I420 planes, laid out as PictureLayout (PictureMaker.h) says
  std::string colorimetry;      // of those planes, as decoded (GStreamer's name for it)
  Crop crop;                    // the part of the decoded picture it shows

  // True when the picture is the one shown at `time_ns`: its own span holds the time.
  bool Covers(int64_t time_ns) const {
    return duration_ns > 0 && start_ns <= time_ns && time_ns < start_ns + duration_ns;
  }
  size_t bytes() const { return pixels.size() + sizeof(Picture); }
  // Starts closer than this are the same picture (stamps rounded differently).
  static constexpr int64_t kSameNs = 1000;
  // The longest a picture of a variable rate is taken to last (5 pictures a second).
  static constexpr int64_t kMaxSpanNs = 200'000'000;
  // A span that a step may trust: a few frames of a fixed rate (pictures dropped), or what a
  // slow variable rate gives. Stamps of streams without an index can claim far more.
  bool PlausibleSpan() const {
    const int64_t most = nominal_ns > 0 ? 3 * nominal_ns + 1'000'000 : kMaxSpanNs;
    return duration_ns > 0 && duration_ns <= most;
  }
};

class PictureCache {
 public:
  explicit PictureCache(size_t limit_bytes) : limit_bytes_(limit_bytes) {}

  // Keeps `picture` (replacing one with the same start), then drops the pictures farthest in
  // time from `near_ns` until the bound holds again. A picture larger than the bound, or one
  // whose span is not plausible, is not kept. Pictures of another size or crop than the
  // cache's current ones are refused.
  void Insert(std::shared_ptr<const Picture> picture, int64_t near_ns);
  // The picture that covers `time_ns`, or null.
  std::shared_ptr<const Picture> Find(int64_t time_ns) const;
  // The start of the earliest picture of the unbroken run of pictures (each ending where the
  // next starts) that covers `time_ns`; `time_ns` itself when none covers it.
  int64_t RunStart(int64_t time_ns) const;
  // Forgets every picture; later pictures must be `width` x `height` (0 x 0: any size) and
  // show `crop`: a fill still running for the old ones cannot put its pictures back.
  void Reset(int32_t width, int32_t height, const Crop& crop = {});
  void set_limit_bytes(size_t limit);
  // A new bound that keeps what fits: the pictures farthest from `near_ns` go first.
  void SetLimitKeeping(size_t limit, int64_t near_ns);

  size_t bytes() const;
  size_t limit_bytes() const;
  size_t count() const;
  // Largest number of bytes held at any moment since construction (read by tests and benches).
  size_t peak_bytes() const;

 private:
  void EvictLocked(int64_t near_ns);

  mutable std::mutex mutex_;
  std::map<int64_t, std::shared_ptr<const Picture>> by_start_;  // guarded by mutex_
  size_t bytes_ = 0;                                            // guarded by mutex_
  size_t peak_bytes_ = 0;                                       // guarded by mutex_
  size_t limit_bytes_;                                          // guarded by mutex_
  int32_t width_ = 0, height_ = 0;                              // guarded by mutex_
  Crop crop_;                                                   // guarded by mutex_
};

}  // namespace quorvex::media
