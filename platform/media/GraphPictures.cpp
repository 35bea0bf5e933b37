// Graph: the picture path, from the probe before the queue to the window and the cache.

#include <gst/gst.h>

#include <algorithm>

#include "platform/media/BackFiller.h"
#include "platform/media/Graph.h"
#include "platform/media/GraphBranches.h"
#include "platform/media/PictureMaker.h"
#include "platform/media/VideoWindow.h"

namespace quorvex::media {
namespace {

constexpr int64_t kSpanToleranceNs = 1'000'000;
constexpr int64_t kMaxSpanNs = Picture::kMaxSpanNs;

}  // namespace

// Streaming thread of the decoder. Buffers: every picture closes the span of the one before
// it (which is then kept, while paused); during a keeping seek the pictures up to the target
// are held back instead of queued. Events: caps and segment are remembered for the samples;
// a flush forgets what was held; at the end of the stream the picture held back is the last
// one, and it is let through.
int Graph::OnDecodedPicture(GstPad* pad, GstPadProbeInfo* info) {
  if (injecting_)
    return GST_PAD_PROBE_OK;
  GstSample* let_through = nullptr;
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard lock(picture_mutex_);
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
    picture_arrived_.notify_all();
    const bool held = HoldBackLocked(sample, start, &let_through);
    gst_sample_unref(sample);
    if (held)
      return GST_PAD_PROBE_DROP;
    if (!let_through)
      return GST_PAD_PROBE_OK;
  } else {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    std::lock_guard lock(picture_mutex_);
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
        picture_arrived_.notify_all();
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
    std::lock_guard lock(picture_mutex_);
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
bool Graph::HoldBackLocked(GstSample* sample, int64_t start_ns, GstSample** let_through) {
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

// Drops the sound that ends before a keeping seek's target: the pictures before it are not
// shown either.
int Graph::OnDecodedSound(GstPad* pad, GstPadProbeInfo* info) {
  const int64_t target = sound_target_ns_;
  if (target < 0 || !(info->type & GST_PAD_PROBE_TYPE_BUFFER))
    return GST_PAD_PROBE_OK;
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
  if (!GST_BUFFER_PTS_IS_VALID(buffer) || !GST_BUFFER_DURATION_IS_VALID(buffer))
    return GST_PAD_PROBE_OK;
  GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
  if (!event)
    return GST_PAD_PROBE_OK;
  const GstSegment* segment = nullptr;
  gst_event_parse_segment(event, &segment);
  const guint64 end = gst_segment_to_stream_time(
      segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer));
  gst_event_unref(event);
  return end != GST_CLOCK_TIME_NONE && int64_t(end) <= target ? GST_PAD_PROBE_DROP
                                                              : GST_PAD_PROBE_OK;
}

// The picture that passed last ends where the next begins (`next_start_ns`; -1 at the end of
// the stream, where its own duration is all there is). While paused it is kept in the cache.
void Graph::CloseSpanLocked(int64_t next_start_ns) {
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
    if (std::shared_ptr<Picture> picture = maker_->Make(sample, area_width_, area_height_, crop_)) {
      picture->start_ns = start;
      picture->duration_ns = duration;
      cache_.Insert(std::move(picture), keep_near_ns_);
    }
  }
  gst_sample_unref(sample);
}

void Graph::ForgetDecodedLocked() {
  if (unclosed_)
    gst_sample_unref(unclosed_);
  if (covering_)
    gst_sample_unref(covering_);
  unclosed_ = covering_ = nullptr;
}

void Graph::OnPicture(GstSample* sample) {
  std::lock_guard lock(picture_mutex_);
  if (held_)
    gst_sample_unref(held_);
  held_ = gst_sample_ref(sample);
  ++pictures_;
  if (!quiet_)
    PresentLocked(sample);
  picture_arrived_.notify_all();
}

void Graph::OnEndOfPictures() {
  std::lock_guard lock(picture_mutex_);
  end_of_pictures_ = true;
  picture_arrived_.notify_all();
}

// A picture the probe kept is drawn from the cache, with the span the stream gave it; others
// are made here (and kept, while playing, with the container's duration).
void Graph::PresentLocked(GstSample* sample) {
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
  if (!video_window_ || area_width_ <= 0 || video_window_->owner() == 0)
    return;  // nowhere to draw yet: the picture is made when the area is known
  std::shared_ptr<Picture> picture = maker_->Make(sample, area_width_, area_height_, crop_);
  if (!picture)
    return;
  picture->start_ns = times.start_ns;
  picture->duration_ns = times.duration_ns;
  DrawLocked(*picture);
  cache_.Insert(std::move(picture), times.start_ns);
}

void Graph::DrawLocked(const Picture& picture) {
  shown_ = Shown{picture.start_ns, picture.duration_ns, picture.nominal_ns};
  if (video_window_)
    video_window_->Draw(picture);
}

// A paused movie's move to `position_ns` without decoding: false when the cache lacks it.
bool Graph::ShowCached(int64_t position_ns) {
  if (!has_video())
    return false;
  auto picture = cache_.Find(position_ns);
  if (!picture)
    return false;
  std::lock_guard lock(picture_mutex_);
  DrawLocked(*picture);
  in_sync_ = false;  // the sink still holds another picture: a Play seeks first
  return true;
}

std::optional<Graph::Shown> Graph::shown() const {
  std::lock_guard lock(picture_mutex_);
  return shown_;
}

uint64_t Graph::pictures_dropped() const {
  GstElement* sink = Branch(&Branches::video_sink);
  if (!sink)
    return 0;
  GstStructure* stats = nullptr;
  g_object_get(sink, "stats", &stats, nullptr);
  guint64 dropped = 0;
  if (stats) {
    gst_structure_get_uint64(stats, "dropped", &dropped);
    gst_structure_free(stats);
  }
  return dropped;
}

uint64_t Graph::pictures_received() const {
  std::lock_guard lock(picture_mutex_);
  return pictures_;
}

bool Graph::WaitForCacheFill(int timeout_ms) {
  return !filler_ || filler_->WaitIdle(timeout_ms);
}

// Starts decoding the pictures before the paused position into the cache, back to where the
// pictures already kept begin: the last 2 s, or as many as fit.
void Graph::FillCacheBefore() {
  if (state_ != State::kPaused || steps_by_seek_ || !video_window_ || !has_video() || Indexless())
    return;
  Shown now;
  int32_t width = 0, height = 0;
  Crop crop;
  {
    std::lock_guard lock(picture_mutex_);
    if (!shown_ || shown_->duration_ns <= 0 || shown_->start_ns <= first_picture_ns_ ||
        area_width_ <= 0)
      return;
    now = *shown_;
    width = area_width_;
    height = area_height_;
    crop = crop_;
  }
  const auto picture_bytes = int64_t(width) * height * 4 + int64_t(sizeof(Picture));
  const int64_t fit = int64_t(cache_.limit_bytes()) / picture_bytes;
  const int64_t span = std::min(kFillSpanNs, fit * 2 / 3 * now.duration_ns);
  const int64_t from = std::max<int64_t>(now.start_ns - span, first_picture_ns_);
  const int64_t to = cache_.RunStart(now.start_ns);
  if (span <= 0 || to <= from)
    return;
  if (!filler_) {
    filler_ = std::make_unique<BackFiller>(
        path_, &cache_, video_window_->bgrx() ? GST_VIDEO_FORMAT_BGRx : GST_VIDEO_FORMAT_RGBx);
  }
  filler_->Start(from, to, width, height, crop);
}

void Graph::ShareCache(size_t bytes) {
  if (!steps_by_seek_)
    cache_.SetLimitKeeping(std::min(bytes, kDefaultCacheBytes), position_ns_);
}

void Graph::ForgetPictures() {
  if (filler_)
    filler_->Cancel();
  std::lock_guard lock(picture_mutex_);
  cache_.Reset(area_width_, area_height_, crop_);
}

}  // namespace quorvex::media
