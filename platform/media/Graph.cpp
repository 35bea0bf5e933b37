// Graph: state control, seeking, stepping and the picture path.

#include "platform/media/Graph.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string_view>

#include "platform/media/BackFiller.h"
#include "platform/media/Deadline.h"
#include "platform/media/GraphBranches.h"
#include "platform/media/GstRef.h"
#include "platform/media/IndexlessSeek.h"
#include "platform/media/PictureMaker.h"
#include "platform/media/VideoWindow.h"

namespace quorvex::media {
namespace {

constexpr GstClockTime kPauseLimitNs = 2 * GST_SECOND;
// Steps up to this far ahead decode on from the picture held: the queue has decoded most of
// them already, where a seek decodes again from the key frame before.
constexpr int64_t kDecodeOnReachNs = GST_SECOND;
// A picture the queue decoded ahead arrives at once; one it must decode takes milliseconds.
constexpr auto kPictureLimit = std::chrono::seconds(2);
// What the cache is filled with before a paused position, at most.
constexpr int64_t kFillSpanNs = 2 * GST_SECOND;
// Larger than any screen: a bigger area is refused rather than allocated. A side may be long,
// the whole at most that of an 8K screen (133 MB a picture).
constexpr int32_t kMaxAreaPixels = 16384;
constexpr int64_t kMaxAreaTotal = int64_t(7680) * 4320;

}  // namespace

Graph::Graph() : branches_(std::make_unique<Branches>()) {
  gst_init_check(nullptr, nullptr, nullptr);
  PreferHardwareDecoders();
  pipeline_ = gst_pipeline_new("graph");
  if (g_object_is_floating(pipeline_))  // not floating in every GStreamer version
    gst_object_ref_sink(pipeline_);
  GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
  gst_bus_set_sync_handler(bus.get(), &Callbacks::OnBus, this, nullptr);
  video_window_ = VideoWindow::Open();
  const char* by_seek = std::getenv("QUORVEX_STEPS_BY_SEEK");
  steps_by_seek_ = by_seek && std::string_view(by_seek) == "1";
  if (steps_by_seek_)
    cache_.set_limit_bytes(0);
  maker_ = std::make_unique<PictureMaker>(video_window_ && !video_window_->bgrx()
                                              ? GST_VIDEO_FORMAT_RGBx
                                              : GST_VIDEO_FORMAT_BGRx);
}

Graph::~Graph() {
  filler_.reset();  // its worker inserts into cache_
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
  gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
  gst_object_unref(pipeline_);
  if (held_)
    gst_sample_unref(held_);
  // video_window_ goes after the pipeline: nothing draws into it any more.
}

void Graph::UseClock(GstClock* clock) {
  gst_pipeline_use_clock(GST_PIPELINE(pipeline_), clock);
}

bool Graph::has_video() const {
  std::lock_guard lock(branches_->mutex);
  return branches_->video_sink != nullptr;
}

bool Graph::has_audio() const {
  std::lock_guard lock(branches_->mutex);
  return branches_->has_audio;
}

bool Graph::audio_through_filter() const {
  std::lock_guard lock(branches_->mutex);
  return branches_->through_filter;
}

// ---- State ----

bool Graph::Play() {
  if (!opened_)
    return false;
  if (filler_)
    filler_->Cancel();  // the processor is the playing movie's now
  DecodeAhead();
  const bool shown = in_sync_ || ShowKeptPosition();
  {
    std::lock_guard lock(picture_mutex_);
    shown_since_play_ = false;
  }
  playing_ = true;
  return gst_element_set_state(pipeline_, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE && shown;
}

bool Graph::Pause() {
  if (!opened_)
    return false;
  const bool was_playing = playing_;
  playing_ = false;
  bool ok = gst_element_set_state(pipeline_, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
  if (stopped_ && !in_sync_) {
    ok = ShowKeptPosition() && ok;
  } else if (was_playing) {
    // The sink holds the next picture when it pauses: that is the one on screen.
    gst_element_get_state(pipeline_, nullptr, nullptr, CommandDeadline::WithinNs(kPauseLimitNs));
    // The query may wait for the pipeline, whose streaming thread needs picture_mutex_: it is
    // asked without holding it.
    const std::optional<int64_t> on_screen = ShownStart();
    position_ns_ = on_screen ? *on_screen : std::max<int64_t>(QueryPosition(), 0);
  }
  stopped_ = false;
  FillCacheBefore();
  return ok;
}

bool Graph::Stop() {
  if (!opened_)
    return false;
  if (filler_)
    filler_->Cancel();
  const bool was_playing = playing_;
  playing_ = false;
  // READY or NULL would lose the position; the data queued is dropped by the seek that the
  // next Pause or Play makes.
  const GstStateChangeReturn change = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  if (change == GST_STATE_CHANGE_ASYNC)  // a sink waits for data to hold: it comes at once
    gst_element_get_state(pipeline_, nullptr, nullptr, CommandDeadline::WithinNs(kPauseLimitNs));
  if (was_playing && !stopped_) {
    if (const std::optional<int64_t> on_screen = ShownStart())
      position_ns_ = *on_screen;
    else if (const int64_t at = QueryPosition(); at >= 0)
      position_ns_ = at;
  }
  stopped_ = true;
  in_sync_ = false;
  return change != GST_STATE_CHANGE_FAILURE;
}

std::optional<int64_t> Graph::ShownStart() const {
  if (!has_video())
    return std::nullopt;
  std::lock_guard lock(picture_mutex_);
  return shown_ ? std::optional<int64_t>(shown_->start_ns) : std::nullopt;
}

bool Graph::ShowKeptPosition() {
  stopped_ = false;
  return SeekPipeline(position_ns_, false);
}

// ---- Seeking and stepping ----

int64_t Graph::QueryPosition() const {
  gint64 ns = -1;
  if (!gst_element_query_position(pipeline_, GST_FORMAT_TIME, &ns) || ns < 0) {
    // In the middle of a state change the sinks know no position yet: let it complete.
    gst_element_get_state(pipeline_, nullptr, nullptr, CommandDeadline::WithinNs(kPauseLimitNs));
    if (!gst_element_query_position(pipeline_, GST_FORMAT_TIME, &ns) || ns < 0)
      return -1;
  }
  return ns;
}

std::optional<int64_t> Graph::Duration() const {
  gint64 ns = 0;
  if (!opened_ || !gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &ns) || ns < 0)
    return std::nullopt;
  return ns;
}

std::optional<int64_t> Graph::Position() const {
  if (!opened_)
    return std::nullopt;
  if (!playing_)
    return position_ns_;
  if (!has_video()) {
    const int64_t at = QueryPosition();
    return at < 0 ? std::nullopt : std::optional<int64_t>(at);
  }
  // The picture on screen, not a sink that runs ahead of it.
  std::lock_guard lock(picture_mutex_);
  return shown_since_play_ && shown_ ? shown_->start_ns : position_ns_;
}

bool Graph::Seek(int64_t position_ns, std::optional<int64_t> stop_ns, bool key_frame) {
  if (!opened_)
    return false;
  position_ns = std::max<int64_t>(position_ns, 0);
  DecodeAhead();
  const bool same_stop = stop_ns == stop_ns_;
  stop_ns_ = stop_ns;
  if (stopped_) {
    position_ns_ = position_ns;  // shown by the next Pause or Play
    in_sync_ = false;
    return true;
  }
  if (!playing_ && !key_frame && same_stop && !steps_by_seek_ && ShowNearby(position_ns)) {
    position_ns_ = position_ns;
    FillCacheBefore();
    return true;
  }
  if (filler_)
    filler_->Cancel();  // the processor is the seek's now
  const bool ok = SeekPipeline(position_ns, key_frame);
  position_ns_ = position_ns;
  if (key_frame) {
    std::lock_guard lock(picture_mutex_);
    if (shown_)
      position_ns_ = shown_->start_ns;
  }
  if (!playing_)
    FillCacheBefore();
  return ok;
}

bool Graph::SeekPipeline(int64_t position_ns, bool key_frame) {
  const auto precision = key_frame
                             ? GstSeekFlags(GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_BEFORE)
                             : GST_SEEK_FLAG_ACCURATE;
  {
    std::lock_guard lock(picture_mutex_);
    end_of_pictures_ = false;
    shown_since_play_ = false;
  }
  const GstClockTime stop = stop_ns_ ? GstClockTime(*stop_ns_) : GST_CLOCK_TIME_NONE;
  if (!key_frame && SeekIndexless(position_ns, stop))
    return in_sync_ = true;
  uint64_t async_done = 0, errors = 0;
  {
    std::lock_guard lock(bus_mutex_);
    async_done = async_done_count_;
    errors = error_count_;
  }
  in_sync_ = gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME,
                              GstSeekFlags(GST_SEEK_FLAG_FLUSH | precision), GST_SEEK_TYPE_SET,
                              GstClockTime(position_ns), GST_SEEK_TYPE_SET, stop) &&
             WaitForPreroll(async_done, errors);
  return in_sync_;
}

// An accurate seek in a movie without an index that lets the demuxer start near the target
// (IndexlessSeek). True when it showed the target's picture; otherwise the caller seeks again
// the ordinary way.
bool Graph::SeekIndexless(int64_t position_ns, uint64_t stop) {
  if (!indexless_looked_) {
    indexless_looked_ = true;
    if (has_video())
      indexless_ = IndexlessSeek::For(pipeline_);
  }
  if (!indexless_)
    return false;
  uint64_t async_done = 0, errors = 0;
  {
    std::lock_guard lock(bus_mutex_);
    async_done = async_done_count_;
    errors = error_count_;
  }
  if (!indexless_->Send(pipeline_, position_ns, stop))
    return false;
  const bool prerolled = WaitForPreroll(async_done, errors);
  indexless_->Disarm();
  std::lock_guard lock(picture_mutex_);
  return prerolled && shown_ && shown_->duration_ns > 0 && shown_->start_ns <= position_ns &&
         position_ns < shown_->start_ns + shown_->duration_ns;
}

// A paused movie's step to `position_ns` without a seek: the picture from the cache, or the
// held picture or one the queue decoded after it. False when neither has it for certain.
bool Graph::ShowNearby(int64_t position_ns) {
  if (!has_video())
    return false;
  if (auto picture = cache_.Find(position_ns)) {
    std::lock_guard lock(picture_mutex_);
    DrawLocked(*picture);
    in_sync_ = false;
    return true;
  }
  for (int tries = 0; tries < 4; ++tries) {
    int64_t start = 0, duration = 0;
    {
      std::lock_guard lock(picture_mutex_);
      if (!held_ || !PictureMaker::Times(held_, &start, &duration) || duration <= 0)
        return false;
      if (start <= position_ns && position_ns < start + duration) {
        PresentLocked(held_);
        in_sync_ = false;
        return true;
      }
      if (position_ns < start || position_ns - start > kDecodeOnReachNs || end_of_pictures_)
        return false;
    }
    if (!StepHeld(uint32_t((position_ns - start) / duration)))
      return false;
  }
  return false;
}

// Lets the sink skip `buffers` pictures and hold the next; waits until it has.
bool Graph::StepHeld(uint32_t buffers) {
  GstElement* sink = nullptr;
  {
    std::lock_guard lock(branches_->mutex);
    sink = branches_->video_sink;
  }
  std::unique_lock lock(picture_mutex_);
  const uint64_t seen = pictures_;
  lock.unlock();
  if (!gst_element_send_event(sink,
                              gst_event_new_step(GST_FORMAT_BUFFERS, buffers, 1.0, TRUE, FALSE)))
    return false;
  lock.lock();
  return picture_arrived_.wait_for(lock, kPictureLimit, [&] {
    return pictures_ != seen || end_of_pictures_;
  }) && pictures_ != seen;
}

// ---- The picture path ----

void Graph::OnPicture(GstSample* sample) {
  std::lock_guard lock(picture_mutex_);
  if (held_)
    gst_sample_unref(held_);
  held_ = gst_sample_ref(sample);
  ++pictures_;
  PresentLocked(sample);
  picture_arrived_.notify_all();
}

void Graph::OnEndOfPictures() {
  std::lock_guard lock(picture_mutex_);
  end_of_pictures_ = true;
  picture_arrived_.notify_all();
}

void Graph::PresentLocked(GstSample* sample) {
  Shown times;
  if (!PictureMaker::Times(sample, &times.start_ns, &times.duration_ns))
    return;
  times.nominal_ns = PictureMaker::FramePeriod(sample);
  shown_ = times;
  shown_since_play_ = true;
  if (!video_window_ || area_width_ <= 0 || video_window_->owner() == 0)
    return;  // nowhere to draw yet: the picture is made when the area is known
  std::shared_ptr<const Picture> picture = maker_->Make(sample, area_width_, area_height_);
  if (!picture)
    return;
  DrawLocked(*picture);
  cache_.Insert(std::move(picture), times.start_ns);
}

void Graph::DrawLocked(const Picture& picture) {
  shown_ = Shown{picture.start_ns, picture.duration_ns, picture.nominal_ns};
  if (video_window_)
    video_window_->Draw(picture);
}

std::optional<Graph::Shown> Graph::shown() const {
  std::lock_guard lock(picture_mutex_);
  return shown_;
}

uint64_t Graph::pictures_dropped() const {
  GstElement* sink = nullptr;
  {
    std::lock_guard lock(branches_->mutex);
    sink = branches_->video_sink;
  }
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

// Starts decoding the pictures before the paused position into the cache, unless it holds
// them already: the last 2 s, or as many as fit.
void Graph::FillCacheBefore() {
  if (playing_ || steps_by_seek_ || !video_window_ || !has_video())
    return;
  Shown now;
  int32_t width = 0, height = 0;
  {
    std::lock_guard lock(picture_mutex_);
    if (!shown_ || shown_->duration_ns <= 0 || shown_->start_ns <= first_picture_ns_ ||
        area_width_ <= 0)
      return;
    now = *shown_;
    width = area_width_;
    height = area_height_;
  }
  const auto picture_bytes = int64_t(width) * height * 4 + int64_t(sizeof(Picture));
  const int64_t fit = int64_t(cache_.limit_bytes()) / picture_bytes;
  const int64_t span = std::min(kFillSpanNs, fit * 2 / 3 * now.duration_ns);
  const int64_t from = std::max<int64_t>(now.start_ns - span, first_picture_ns_);
  if (span <= 0 || (cache_.Find(now.start_ns - 1) && cache_.Find(from) &&
                    cache_.Find((from + now.start_ns) / 2)))
    return;
  if (!filler_) {
    filler_ = std::make_unique<BackFiller>(
        path_, &cache_, video_window_->bgrx() ? GST_VIDEO_FORMAT_BGRx : GST_VIDEO_FORMAT_RGBx);
  }
  filler_->Start(from, now.start_ns, width, height);
}

void Graph::ForgetPictures() {
  if (filler_)
    filler_->Cancel();
  std::lock_guard lock(picture_mutex_);
  cache_.Reset(area_width_, area_height_);
}

bool Graph::RateChanged() {
  ForgetPictures();
  if (stopped_)
    return true;
  // Drops data processed for the old rate: the graph is flushed and prerolled again.
  const std::optional<int64_t> at = Position();
  return at && SeekPipeline(*at, false);
}

// ---- Audio ----

bool Graph::SetVolume(double linear) {
  std::lock_guard lock(branches_->mutex);
  if (!opened_ || !branches_->has_audio)
    return false;
  branches_->volume_linear = std::clamp(linear, 0.0, 1.0);
  for (GstElement* volume : branches_->volumes)
    g_object_set(volume, "volume", branches_->volume_linear, nullptr);
  return true;
}

// ---- Video ----

bool Graph::SetOwner(int32_t owner) {
  std::lock_guard lock(branches_->mutex);
  return opened_ && branches_->video_sink && video_window_ && video_window_->SetOwner(owner);
}

bool Graph::SetVideoArea(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (width < 0 || height < 0 || width > kMaxAreaPixels || height > kMaxAreaPixels ||
      int64_t(width) * height > kMaxAreaTotal)
    return false;
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (!opened_ || !has_video() || !video_window_)
    return false;
  video_window_->SetPosition(left, top, width, height);
  bool seek = false;
  {
    std::lock_guard lock(picture_mutex_);
    if (width == area_width_ && height == area_height_)
      return true;
    area_width_ = width;
    area_height_ = height;
  }
  ForgetPictures();  // drawn at the old size
  {
    std::lock_guard lock(picture_mutex_);
    int64_t start = 0, duration = 0;
    // The held picture is drawn again at the new size; a picture from the cache is not held,
    // and is decoded again.
    if (held_ && PictureMaker::Times(held_, &start, &duration) &&
        (!shown_ || shown_->start_ns == start))
      PresentLocked(held_);
    else
      seek = true;
  }
  if (seek && !playing_ && !stopped_)
    return SeekPipeline(position_ns_, false);
  FillCacheBefore();
  return true;
}

bool Graph::AspectRatio(int32_t* x, int32_t* y) const {
  std::lock_guard lock(branches_->mutex);
  if (!opened_ || !branches_->video_sink || branches_->aspect_x <= 0 || branches_->aspect_y <= 0)
    return false;
  *x = branches_->aspect_x;
  *y = branches_->aspect_y;
  return true;
}

}  // namespace quorvex::media
