// The picture path of a movie: from the probe before the queue to the window and the cache.

#include "platform/media/PicturePath.h"

#include <gst/gst.h>

#include <algorithm>
#include <chrono>

#include "platform/media/PictureMaker.h"
#include "platform/media/VideoWindow.h"

namespace quorvex::media {
namespace {

constexpr int64_t kSpanToleranceNs = 1'000'000;
constexpr int64_t kMaxSpanNs = Picture::kMaxSpanNs;
// A picture decodes within milliseconds; a decoder that gives none for this long waits for room
// in the queue, or is stuck.
constexpr auto kStallLimit = std::chrono::milliseconds(300);
// How often a wait for the decoder looks whether it waits for room.
constexpr auto kDecodeSlice = std::chrono::milliseconds(5);

}  // namespace

PicturePath::PicturePath(std::unique_ptr<VideoWindow> window, size_t cache_bytes)
    : window_(std::move(window)),
      maker_(std::make_unique<PictureMaker>()),
      cache_(cache_bytes) {}

PicturePath::~PicturePath() {
  // The pipeline is gone: no streaming thread is left.
  if (held_)
    gst_sample_unref(held_);
  ForgetDecodedLocked();
  if (decoded_caps_)
    gst_caps_unref(decoded_caps_);
  if (decoded_segment_)
    gst_segment_free(decoded_segment_);
}

// Streaming thread of the decoder. Buffers: every picture closes the span of the one before
// it (which is then kept, while paused); during a keeping seek the pictures up to the target
// are held back instead of queued. Events: caps and segment are remembered for the samples;
// a flush forgets what was held; at the end of the stream the picture held back is the last
// one, and it is let through.
int PicturePath::OnDecoded(GstPad* pad, GstPadProbeInfo* info) {
  if (injecting_)
    return GST_PAD_PROBE_OK;
  GstSample* let_through = nullptr;
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard lock(mutex_);
    if (!decoded_caps_ || !decoded_segment_)
      return GST_PAD_PROBE_OK;
    GstSample* sample = gst_sample_new(buffer, decoded_caps_, decoded_segment_, nullptr);
    int64_t start = 0, duration = 0;
    if (!PictureMaker::Times(sample, &start, &duration)) {
      gst_sample_unref(sample);
      return GST_PAD_PROBE_OK;
    }
    CloseSpanLocked(start);
    // A demuxer without an index may start between key frames: pictures before the first key
    // frame after a flush may lack their references, and are shown but not kept.
    key_seen_ = key_seen_ || !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    if (key_seen_)
      unclosed_ = gst_sample_ref(sample);
    decoded_until_ns_ = start;
    arrived_.notify_all();
    const bool held = HoldBackLocked(sample, start, &let_through);
    gst_sample_unref(sample);
    if (held)
      return GST_PAD_PROBE_DROP;
    if (!let_through)
      return GST_PAD_PROBE_OK;
  } else {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    std::lock_guard lock(mutex_);
    switch (GST_EVENT_TYPE(event)) {
      case GST_EVENT_CAPS: {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        gst_caps_replace(&decoded_caps_, caps);
        return GST_PAD_PROBE_OK;
      }
      case GST_EVENT_SEGMENT: {
        const GstSegment* segment = nullptr;
        gst_event_parse_segment(event, &segment);
        if (decoded_segment_)
          gst_segment_free(decoded_segment_);
        decoded_segment_ = gst_segment_copy(segment);
        return GST_PAD_PROBE_OK;
      }
      case GST_EVENT_FLUSH_STOP:
        // Pictures before the flush belong to the stream the seek ended: only now does its
        // target apply.
        ForgetDecodedLocked();
        key_seen_ = false;
        target_ns_ = next_target_ns_;
        next_target_ns_.reset();
        decoded_until_ns_ = -1;
        decoded_end_ = false;
        return GST_PAD_PROBE_OK;
      case GST_EVENT_EOS:
        CloseSpanLocked(-1);
        decoded_end_ = true;
        arrived_.notify_all();
        if (!covering_)
          return GST_PAD_PROBE_OK;
        let_through = covering_;
        covering_ = nullptr;
        target_ns_.reset();
        let_through_.reset();
        break;
      default:
        return GST_PAD_PROBE_OK;
    }
  }
  GstBuffer* buffer = gst_sample_get_buffer(let_through);
  {
    std::lock_guard lock(mutex_);
    let_through_running_ns_ = decoded_segment_
                                  ? gst_segment_to_running_time(decoded_segment_, GST_FORMAT_TIME,
                                                                GST_BUFFER_PTS(buffer))
                                  : 0;
  }
  // Into the queue ahead of the picture (or the end) that showed it covers the target; the
  // probe lets it pass untouched.
  injecting_ = true;
  gst_pad_chain(pad, gst_buffer_ref(buffer));
  injecting_ = false;
  gst_sample_unref(let_through);
  return GST_PAD_PROBE_OK;
}

// During a keeping seek: holds back `sample` (true) while it starts at or before the target;
// the first picture after the target lets the last one held through (`let_through`).
bool PicturePath::HoldBackLocked(GstSample* sample, int64_t start_ns, GstSample** let_through) {
  if (!target_ns_)
    return false;
  if (start_ns <= *target_ns_) {
    if (covering_)
      gst_sample_unref(covering_);
    covering_ = gst_sample_ref(sample);
    return true;
  }
  target_ns_.reset();
  if (!covering_)
    return false;  // the first picture lies after the target: it is the one shown
  *let_through = covering_;
  covering_ = nullptr;
  int64_t held_start = 0, held_duration = 0;
  PictureMaker::Times(*let_through, &held_start, &held_duration);
  let_through_ = Shown{held_start, start_ns - held_start, PictureMaker::FramePeriod(*let_through)};
  return false;
}

// The picture that passed last ends where the next begins (`next_start_ns`; -1 at the end of
// the stream, where its own duration is all there is). While paused it is kept in the cache.
void PicturePath::CloseSpanLocked(int64_t next_start_ns) {
  GstSample* sample = unclosed_;
  unclosed_ = nullptr;
  if (!sample)
    return;
  int64_t start = 0, duration = 0;
  const bool timed = PictureMaker::Times(sample, &start, &duration);
  // The next picture is this one's neighbour unless the stream jumped between them (a seek
  // whose flush did not pass here, a gap in the recording): then its own duration holds.
  const int64_t reach = duration > 0 ? 3 * duration + kSpanToleranceNs : kMaxSpanNs;
  if (timed && next_start_ns > start && next_start_ns - start <= reach)
    duration = next_start_ns - start;
  // A picture that starts before the segment is one a demuxer without an index decoded on
  // its way in: its stamp and span are not to be trusted.
  const guint64 segment_start =
      decoded_segment_ ? gst_segment_to_stream_time(decoded_segment_, GST_FORMAT_TIME,
                                                    decoded_segment_->start)
                       : 0;
  const bool inside = segment_start == GST_CLOCK_TIME_NONE || start >= int64_t(segment_start);
  if (timed && inside && keeping_ && start >= keep_from_ns_ && area_width_ > 0) {
    if (auto picture = maker_->Make(sample, area_width_, area_height_, crop_)) {
      picture->start_ns = start;
      picture->duration_ns = duration;
      cache_.Insert(std::move(picture), keep_near_ns_);
    }
  }
  gst_sample_unref(sample);
}

void PicturePath::ForgetDecodedLocked() {
  if (unclosed_)
    gst_sample_unref(unclosed_);
  if (covering_)
    gst_sample_unref(covering_);
  unclosed_ = covering_ = nullptr;
}

void PicturePath::OnSample(GstSample* sample) {
  std::lock_guard lock(mutex_);
  if (held_)
    gst_sample_unref(held_);
  held_ = gst_sample_ref(sample);
  ++received_;
  if (!quiet_)
    PresentLocked(sample);
  arrived_.notify_all();
}

void PicturePath::OnEnd() {
  std::lock_guard lock(mutex_);
  end_of_pictures_ = true;
  arrived_.notify_all();
}

// A picture the probe kept is drawn from the cache, with the span the stream gave it; others
// are made here (and kept, while playing, with the container's duration).
void PicturePath::PresentLocked(GstSample* sample) {
  Shown times;
  if (!PictureMaker::Times(sample, &times.start_ns, &times.duration_ns))
    return;
  times.nominal_ns = PictureMaker::FramePeriod(sample);
  if (let_through_ && let_through_->start_ns == times.start_ns)
    times = *let_through_;
  if (auto cached = cache_.Find(times.start_ns); cached && cached->start_ns == times.start_ns) {
    shown_since_play_ = true;
    DrawLocked(*cached);
    return;
  }
  shown_ = times;
  shown_since_play_ = true;
  if (!window_ || area_width_ <= 0 || window_->owner() == 0)
    return;  // nowhere to draw yet: the picture is made when the area is known
  std::shared_ptr<Picture> picture = maker_->Make(sample, area_width_, area_height_, crop_);
  if (!picture)
    return;
  picture->start_ns = times.start_ns;
  picture->duration_ns = times.duration_ns;
  DrawLocked(*picture);
  cache_.Insert(std::move(picture), times.start_ns);
}

void PicturePath::DrawLocked(const Picture& picture) {
  shown_ = Shown{picture.start_ns, picture.duration_ns, picture.nominal_ns};
  if (window_)
    window_->Draw(picture);
}

// ---- The owner's thread ----

std::optional<PicturePath::Shown> PicturePath::shown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

std::optional<int64_t> PicturePath::ShownSincePlay() const {
  std::lock_guard lock(mutex_);
  return shown_since_play_ && shown_ ? std::optional<int64_t>(shown_->start_ns) : std::nullopt;
}

GstSample* PicturePath::Held() const {
  std::lock_guard lock(mutex_);
  return held_ ? gst_sample_ref(held_) : nullptr;
}

uint64_t PicturePath::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

void PicturePath::Reset() {
  std::lock_guard lock(mutex_);
  if (held_)
    gst_sample_unref(held_);
  held_ = nullptr;
  shown_.reset();
  end_of_pictures_ = false;
}

void PicturePath::SeekBegins() {
  std::lock_guard lock(mutex_);
  end_of_pictures_ = false;
  shown_since_play_ = false;
  next_target_ns_.reset();
  quiet_ = false;
}

void PicturePath::ArmTarget(int64_t target_ns, int64_t keep_from_ns, bool keep) {
  std::lock_guard lock(mutex_);
  next_target_ns_ = target_ns;
  keep_from_ns_ = keep_from_ns;
  keep_near_ns_ = target_ns;
  keeping_ = keep;
  let_through_.reset();
}

std::optional<uint64_t> PicturePath::TargetReached() {
  std::lock_guard lock(mutex_);
  target_ns_.reset();
  return let_through_ ? std::optional<uint64_t>(let_through_running_ns_) : std::nullopt;
}

void PicturePath::KeepAround(int64_t position_ns, bool keep) {
  std::lock_guard lock(mutex_);
  keeping_ = keep;
  keep_from_ns_ = keep_near_ns_ = position_ns;
}

void PicturePath::PlayBegins() {
  std::lock_guard lock(mutex_);
  shown_since_play_ = false;
  keeping_ = false;  // the sink draws and keeps what it plays
}

void PicturePath::Quiet() {
  std::lock_guard lock(mutex_);
  quiet_ = true;
}

bool PicturePath::ShowCached(int64_t position_ns) {
  auto picture = cache_.Find(position_ns);
  if (!picture)
    return false;
  std::lock_guard lock(mutex_);
  DrawLocked(*picture);
  return true;
}

bool PicturePath::EndedBefore(int64_t probe, bool ahead) const {
  std::lock_guard lock(mutex_);
  return end_of_pictures_ || (ahead && decoded_end_ && decoded_until_ns_ <= probe);
}

bool PicturePath::WaitDecodedPast(int64_t probe, int64_t from_ns, int64_t reach_ns,
                                  const std::function<void()>& make_room) {
  std::unique_lock lock(mutex_);
  if (probe - std::max(decoded_until_ns_, from_ns) > reach_ns)
    return false;
  keep_near_ns_ = probe;  // what the cache drops first is what lies farthest from the step
  int64_t seen = decoded_until_ns_;
  auto last_progress = std::chrono::steady_clock::now();
  while (decoded_until_ns_ <= probe && !decoded_end_) {
    if (arrived_.wait_for(lock, kDecodeSlice,
                          [&] { return decoded_until_ns_ != seen || decoded_end_; })) {
      seen = decoded_until_ns_;
      last_progress = std::chrono::steady_clock::now();
      continue;
    }
    if (std::chrono::steady_clock::now() - last_progress > kStallLimit)
      return false;  // the decoder itself is stuck
    lock.unlock();
    make_room();
    lock.lock();
  }
  return true;
}

bool PicturePath::SetArea(int32_t width, int32_t height) {
  std::lock_guard lock(mutex_);
  if (width == area_width_ && height == area_height_)
    return false;
  area_width_ = width;
  area_height_ = height;
  cache_.Reset(width, height, crop_);  // drawn at the old size
  return true;
}

bool PicturePath::SetCrop(const Crop& crop) {
  std::lock_guard lock(mutex_);
  if (crop == crop_)
    return false;
  crop_ = crop;
  cache_.Reset(area_width_, area_height_, crop_);  // cut for the old part
  return true;
}

Crop PicturePath::crop() const {
  std::lock_guard lock(mutex_);
  return crop_;
}

bool PicturePath::Area(int32_t* width, int32_t* height) const {
  std::lock_guard lock(mutex_);
  *width = area_width_;
  *height = area_height_;
  return area_width_ > 0;
}

bool PicturePath::RedrawHeld() {
  std::lock_guard lock(mutex_);
  int64_t start = 0, duration = 0;
  if (!held_ || !PictureMaker::Times(held_, &start, &duration) ||
      (shown_ && shown_->start_ns != start))
    return false;
  PresentLocked(held_);
  return true;
}

void PicturePath::ForgetCached() {
  std::lock_guard lock(mutex_);
  cache_.Reset(area_width_, area_height_, crop_);
}

}  // namespace quorvex::media
