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
#include "platform/media/Log.h"
#include "platform/media/PictureMaker.h"
#include "platform/media/VideoWindow.h"

namespace quorvex::media {
namespace {

constexpr GstClockTime kPauseLimitNs = 2 * GST_SECOND;
// Larger than any screen: a bigger area is refused rather than allocated. A side may be long,
// the whole at most that of an 8K screen (133 MB a picture).
constexpr int32_t kMaxAreaPixels = 16384;
constexpr int64_t kMaxAreaTotal = int64_t(7680) * 4320;
// How far before its target a seek keeps the pictures it decodes on the way: beyond the
// panel's step of ten frames of 29.97 fps, so that the first step back after a seek needs no
// second seek (the back filler, which fills the rest, starts at the key frame before).
constexpr int64_t kSeekKeepsNs = 400 * GST_MSECOND;
// Forward steps this far beyond the pictures decoded ahead decode on; farther ones seek.
constexpr int64_t kDecodeOnReachNs = GST_SECOND;
// The longest a step of many pictures goes on decoding.
constexpr auto kStepLimit = std::chrono::seconds(8);
// Pictures the sink lets go at a time when the queue before it is full.
constexpr guint64 kSkipPictures = 8;

}  // namespace

Graph::Graph() : branches_(std::make_unique<Branches>()) {
  gst_init_check(nullptr, nullptr, nullptr);
  PreferHardwareDecoders();
  pipeline_ = gst_pipeline_new("graph");
  if (g_object_is_floating(pipeline_))  // not floating in every GStreamer version
    gst_object_ref_sink(pipeline_);
  GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
  gst_bus_set_sync_handler(bus.get(), &Callbacks::OnBus, this, nullptr);
  const char* by_seek = std::getenv("QUORVEX_STEPS_BY_SEEK");
  steps_by_seek_ = by_seek && std::string_view(by_seek) == "1";
  picture_path_ = std::make_unique<PicturePath>(VideoWindow::Open(),
                                        steps_by_seek_ ? 0 : kDefaultCacheBytes);
}

Graph::~Graph() {
  filler_.reset();  // its worker inserts into the path's cache
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
  gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
  gst_object_unref(pipeline_);
  // picture_path_ goes after the pipeline: nothing draws into its window any more.
}

void Graph::UseClock(GstClock* clock) {
  gst_pipeline_use_clock(GST_PIPELINE(pipeline_), clock);
}

GstElement* Graph::Branch(GstElement* Branches::*element) const {
  std::lock_guard lock(branches_->mutex);
  return (*branches_).*element;
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
  return opened_ && Enter(State::kPlaying);
}

bool Graph::Pause() {
  return opened_ && Enter(State::kPaused);
}

// Holds the picture, keeps the position and drops queued data: a later Pause or Play
// continues from the same picture.
bool Graph::Stop() {
  return opened_ && Enter(State::kStopped);
}

// The one place where the state changes. The pipeline itself is never READY or NULL once
// open: that would lose the position; a stopped graph is a paused pipeline whose queued data
// the next Pause or Play replaces by a seek to the position kept.
bool Graph::Enter(State next) {
  const State was = state_;
  if (next != State::kPaused && filler_)
    filler_->Cancel();  // the processor is the playing movie's, or nobody's
  switch (next) {
    case State::kPlaying: {
      DecodeAhead();
      // Shown in the state it was in: a stopped or paused pipeline seeks keeping what it
      // decodes, and starts at the picture shown.
      const bool shown = in_sync_ || ShowKeptPosition();
      picture_path_->PlayBegins();
      ahead_from_ns_.reset();
      state_ = State::kPlaying;
      return gst_element_set_state(pipeline_, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE &&
             shown;
    }
    case State::kPaused: {
      state_ = State::kPaused;
      bool ok = gst_element_set_state(pipeline_, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
      if (was == State::kStopped && !in_sync_) {
        ok = SeekPipeline(position_ns_, false) && ok;
      } else if (was == State::kPlaying) {
        // The sink holds the next picture when it pauses: that is the one on screen.
        gst_element_get_state(pipeline_, nullptr, nullptr,
                              CommandDeadline::WithinNs(kPauseLimitNs));
        // The query may wait for the pipeline, whose streaming thread needs the picture
        // path's lock: it is asked without holding it.
        const std::optional<int64_t> on_screen = ShownStart();
        position_ns_ = on_screen ? *on_screen : std::max<int64_t>(QueryPosition(), 0);
      }
      // Without an index a demuxer starts between key frames, and the pictures decoded there
      // can be damaged: such a movie keeps nothing beyond the pictures it shows.
      const bool keep = !steps_by_seek_ && !(has_video() && Indexless());
      picture_path_->KeepAround(position_ns_, keep);
      FillCacheBefore();
      return ok;
    }
    case State::kStopped: {
      state_ = State::kStopped;
      const GstStateChangeReturn change = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
      if (change == GST_STATE_CHANGE_ASYNC)  // a sink waits for data to hold: it comes at once
        gst_element_get_state(pipeline_, nullptr, nullptr,
                              CommandDeadline::WithinNs(kPauseLimitNs));
      if (was == State::kPlaying) {
        if (const std::optional<int64_t> on_screen = ShownStart())
          position_ns_ = *on_screen;
        else if (const int64_t at = QueryPosition(); at >= 0)
          position_ns_ = at;
      }
      in_sync_ = false;
      return change != GST_STATE_CHANGE_FAILURE;
    }
  }
  return false;
}

std::optional<int64_t> Graph::ShownStart() const {
  if (!has_video())
    return std::nullopt;
  const std::optional<Shown> now = picture_path_->shown();
  return now ? std::optional<int64_t>(now->start_ns) : std::nullopt;
}

bool Graph::ShowKeptPosition() {
  return SeekPipeline(position_ns_, false);
}

// ---- Seeking ----

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
  // A demuxer without an index tells the span of its stamps, while the times it gives start
  // at the first picture's: the end lies that much later, or the last pictures are out of reach.
  if (indexless_)
    ns += first_picture_ns_;
  return ns;
}

std::optional<int64_t> Graph::Position() const {
  if (!opened_)
    return std::nullopt;
  if (state_ != State::kPlaying)
    return position_ns_;
  if (!has_video()) {
    const int64_t at = QueryPosition();
    return at < 0 ? std::nullopt : std::optional<int64_t>(at);
  }
  // The picture on screen, not a sink that runs ahead of it.
  return picture_path_->ShownSincePlay().value_or(position_ns_);
}

bool Graph::Seek(int64_t position_ns, std::optional<int64_t> stop_ns, bool key_frame) {
  if (!opened_)
    return false;
  position_ns = std::max<int64_t>(position_ns, 0);
  DecodeAhead();
  const bool same_stop = stop_ns == stop_ns_;
  stop_ns_ = stop_ns;
  if (state_ == State::kStopped) {
    position_ns_ = position_ns;  // shown by the next Pause or Play
    in_sync_ = false;
    return true;
  }
  // While paused: from the cache, or from the pictures the queue decodes ahead.
  if (state_ == State::kPaused && !key_frame && same_stop &&
      (ShowCached(position_ns) || (DecodeOnTo(position_ns) && ShowCached(position_ns)))) {
    position_ns_ = position_ns;
    FillCacheBefore();
    return true;
  }
  if (filler_)
    filler_->Cancel();  // the processor is the seek's now
  const bool ok = SeekPipeline(position_ns, key_frame);
  if (ok || !has_video()) {
    position_ns_ = position_ns;
  } else {
    GST_CAT_INFO(GraphLog(), "%s: seek to %" GST_TIME_FORMAT " failed", path_.c_str(),
                 GST_TIME_ARGS(position_ns));
    // A seek that failed (a damaged file) reports the picture that is still shown.
    position_ns_ = ShownStart().value_or(position_ns_);
  }
  if (key_frame)
    position_ns_ = ShownStart().value_or(position_ns_);
  if (state_ != State::kPlaying)
    FillCacheBefore();
  return ok;
}

bool Graph::SeekPipeline(int64_t position_ns, bool key_frame) {
  const auto precision = key_frame
                             ? GstSeekFlags(GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_BEFORE)
                             : GST_SEEK_FLAG_ACCURATE;
  picture_path_->SeekBegins();
  sound_target_ns_ = -1;
  ahead_from_ns_.reset();
  const GstClockTime stop = stop_ns_ ? GstClockTime(*stop_ns_) : GST_CLOCK_TIME_NONE;
  // A playing pipeline goes on playing by itself once the seek has prerolled: its pictures
  // must start at the target, so it seeks accurately.
  if (!key_frame && state_ != State::kPlaying && has_video() && !Indexless())
    return in_sync_ = SeekKeeping(position_ns, stop);
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

// A frame-accurate seek of a paused movie that keeps what it decodes: the pipeline starts at
// the key frame at or before the target, the probe before the queue keeps every picture on
// the way in the cache and lets through the one that covers the target, and the sound before
// the target is dropped. The pipeline's start time is moved to that picture, so that a Play
// from here starts at once instead of waiting out the stretch from the key frame.
bool Graph::SeekKeeping(int64_t position_ns, uint64_t stop) {
  if (!SeekKeepingFrom(position_ns, position_ns, stop))
    return false;
  // A target just before a key frame may be rounded onto it by the demuxer's time scale: then
  // the key frame came first, and the seek starts again a little earlier.
  std::optional<Shown> reached = shown();
  if (!reached || reached->start_ns <= position_ns || position_ns <= first_picture_ns_)
    return true;
  return SeekKeepingFrom(position_ns, std::max<int64_t>(position_ns - kSnapMarginNs, 0), stop);
}

bool Graph::SeekKeepingFrom(int64_t position_ns, int64_t from_ns, uint64_t stop) {
  // The pictures just before the target are the ones steps back want at once; those further
  // back are the back filler's, made while the user looks.
  picture_path_->ArmTarget(position_ns, position_ns - kSeekKeepsNs, !steps_by_seek_);
  sound_target_ns_ = position_ns;
  uint64_t async_done = 0, errors = 0;
  {
    std::lock_guard lock(bus_mutex_);
    async_done = async_done_count_;
    errors = error_count_;
  }
  const auto flags =
      GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_BEFORE);
  if (!gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                        GstClockTime(from_ns), GST_SEEK_TYPE_SET, stop) ||
      !WaitForPreroll(async_done, errors))
    return false;
  if (const std::optional<uint64_t> running = picture_path_->TargetReached())
    gst_element_set_start_time(pipeline_, *running);
  ahead_from_ns_ = position_ns;
  return true;
}

bool Graph::Indexless() {
  if (!indexless_looked_) {
    indexless_looked_ = true;
    if (has_video())
      indexless_ = IndexlessSeek::For(pipeline_);
  }
  return indexless_ != nullptr;
}

// An accurate seek in a movie without an index that lets the demuxer start near the target
// (IndexlessSeek). True when it showed the target's picture; otherwise the caller seeks again
// the ordinary way.
bool Graph::SeekIndexless(int64_t position_ns, uint64_t stop) {
  if (!Indexless())
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
  const std::optional<Shown> now = picture_path_->shown();
  return prerolled && now && now->duration_ns > 0 && now->start_ns <= position_ns &&
         position_ns < now->stop_ns();
}

// ---- Stepping ----

bool Graph::StepPictures(int32_t pictures) {
  if (!opened_ || !has_video() || pictures == 0)
    return false;
  if (state_ != State::kPaused)
    Pause();
  const std::optional<Shown> now = shown();
  if (!now)
    return false;
  const bool forward = pictures > 0;
  // In 64 bits: the magnitude of the most negative count does not fit in 32.
  int64_t left = forward ? int64_t(pictures) : -int64_t(pictures);
  Shown at = *now;
  bool moved = false;
  // A long step that must decode stretch after stretch ends where it has got to in time: the
  // client waits a bounded time for every command.
  const auto deadline = std::chrono::steady_clock::now() + kStepLimit;
  for (; left > 0 && std::chrono::steady_clock::now() < deadline; --left) {
    const std::optional<Shown> next = Neighbour(at, forward);
    if (!next)
      break;
    at = *next;
    moved = true;
  }
  const bool shown_ok = ShowPicture(at);
  position_ns_ = at.start_ns;
  FillCacheBefore();
  return moved && shown_ok;
}

// The picture next to `from` in the stream's own times: from the cache, or found by a seek
// just past its end (forward) or just before its start (backward), which also keeps the
// pictures it decodes on the way. Nullopt at the ends.
std::optional<Graph::Shown> Graph::Neighbour(const Shown& from, bool forward) {
  const auto as_shown = [](const Picture& p) {
    return Shown{p.start_ns, p.duration_ns, p.nominal_ns};
  };
  if (!forward && from.start_ns <= first_picture_ns_)
    return std::nullopt;
  const int64_t probe = forward ? from.stop_ns() : from.start_ns - 1;
  if (from.duration_ns <= 0)
    return std::nullopt;
  if (forward && !cache().Find(probe))
    DecodeOnTo(probe);
  if (auto cached = cache().Find(probe);
      cached && std::llabs(cached->start_ns - from.start_ns) > Picture::kSameNs)
    return as_shown(*cached);
  if (forward && picture_path_->EndedBefore(probe, ahead_from_ns_.has_value()))
    return std::nullopt;  // the last picture is shown
  if (filler_)
    filler_->Cancel();  // a step that must decode takes the processor at once
  // A demuxer rounds a target onto its time scale's ticks (90 kHz without an index): 1 ns
  // before a picture may be its own start. At a key frame that costs a second seek through the
  // whole stretch before it (3.7 s instead of 1.9 on camera footage). Half a picture back stays
  // in the previous one.
  const int64_t seek_ns =
      !forward && from.nominal_ns > 1 ? from.start_ns - from.nominal_ns / 2 : probe;
  if (!SeekPipeline(seek_ns, false))
    return std::nullopt;
  const std::optional<Shown> reached = shown();
  if (!reached || std::llabs(reached->start_ns - from.start_ns) <= Picture::kSameNs)
    return std::nullopt;
  if (forward != (reached->start_ns > from.start_ns))
    return std::nullopt;
  return reached;
}

// Waits until the pictures decoded ahead of a paused keeping seek reach `probe` (the picture
// there is kept once the next one passes). A full queue stops the decoder: the sink then lets
// go of pictures it holds (they are kept already), without showing them. False when `probe`
// lies too far ahead or behind for that, or the decoder stalls.
bool Graph::DecodeOnTo(int64_t probe) {
  if (!ahead_from_ns_ || probe < *ahead_from_ns_)
    return false;
  // The decoder waits for room: the sink lets go of some of what it holds. (A sink still busy
  // with the last such step refuses another: the next wait asks again.)
  return picture_path_->WaitDecodedPast(probe, *ahead_from_ns_, kDecodeOnReachNs, [this] {
    if (QueueFull())
      SkipQueued();
  });
}

// True when the queue before the sink holds as much as it takes (less than one more picture
// fits): the decoder then waits for room.
bool Graph::QueueFull() const {
  GstElement* queue = Branch(&Branches::video_queue);
  if (!queue)
    return false;
  guint buffers = 0, bytes = 0, most_bytes = 0;
  guint64 time = 0, most_time = 0;
  g_object_get(queue, "current-level-buffers", &buffers, "current-level-bytes", &bytes,
               "current-level-time", &time, "max-size-bytes", &most_bytes, "max-size-time",
               &most_time, nullptr);
  if (buffers == 0)
    return false;
  const guint64 picture_bytes = bytes / buffers, picture_time = time / buffers;
  return (most_bytes && bytes + picture_bytes > most_bytes) ||
         (most_time && time + picture_time > most_time);
}

// Lets the sink drop some of the pictures queued before it and hold the next, quietly.
bool Graph::SkipQueued() {
  GstElement* sink = Branch(&Branches::video_sink);
  picture_path_->Quiet();
  in_sync_ = false;  // the sink no longer holds the picture shown: a Play seeks first
  return sink && gst_element_send_event(sink, gst_event_new_step(GST_FORMAT_BUFFERS, kSkipPictures,
                                                                 1.0, TRUE, FALSE));
}

// Puts `picture` on screen unless it is there: from the cache, or by a seek to its start.
bool Graph::ShowPicture(const Shown& picture) {
  if (ShownStart() == picture.start_ns)
    return true;
  if (ShowCached(picture.start_ns))
    return true;
  return SeekPipeline(picture.start_ns, false);
}

bool Graph::RateChanged() {
  ForgetPictures();
  if (state_ == State::kStopped)
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
  return opened_ && branches_->video_sink && picture_path_->window() && picture_path_->window()->SetOwner(owner);
}

bool Graph::SetVideoArea(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (width < 0 || height < 0 || width > kMaxAreaPixels || height > kMaxAreaPixels ||
      int64_t(width) * height > kMaxAreaTotal)
    return false;
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (!opened_ || !has_video() || !picture_path_->window())
    return false;
  picture_path_->window()->SetPosition(left, top, width, height);
  if (!picture_path_->SetArea(width, height))
    return true;
  return RedrawShown();
}

bool Graph::SetZoom(const Crop& crop) {
  if (!opened_ || !has_video() || !picture_path_->window())
    return false;
  if (!picture_path_->SetCrop(crop))
    return true;
  return RedrawShown();
}

bool Graph::RedrawShown() {
  if (filler_)
    filler_->Cancel();  // it decodes at the old size or crop
  // The held picture is made again from the whole decoded picture; a picture from the cache
  // is not held (keeping every full picture would cost a 4K movie 12 MiB each), and is
  // decoded again by a keeping seek.
  if (!picture_path_->RedrawHeld() && state_ == State::kPaused)
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

// ---- The cache ----

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

bool Graph::ShowCached(int64_t position_ns) {
  if (!has_video() || !picture_path_->ShowCached(position_ns))
    return false;
  in_sync_ = false;  // the sink still holds another picture: a Play seeks first
  return true;
}

std::optional<Graph::Shown> Graph::shown() const {
  return picture_path_->shown();
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
  return picture_path_->received();
}

bool Graph::WaitForCacheFill(int timeout_ms) {
  return !filler_ || filler_->WaitIdle(timeout_ms);
}

// Starts decoding the pictures before the paused position into the cache, back to where the
// pictures already kept begin: the last 2 s, or as many as fit.
void Graph::FillCacheBefore() {
  if (state_ != State::kPaused || steps_by_seek_ || !picture_path_->window() || !has_video() ||
      Indexless())
    return;
  int32_t width = 0, height = 0;
  const std::optional<Shown> shown = picture_path_->shown();
  if (!shown || shown->duration_ns <= 0 || shown->start_ns <= first_picture_ns_ ||
      !picture_path_->Area(&width, &height))
    return;
  const Shown now = *shown;
  const GstVideoInfo layout = PictureLayout(width, height, {});
  const auto picture_bytes = int64_t(GST_VIDEO_INFO_SIZE(&layout)) + int64_t(sizeof(Picture));
  const int64_t fit = int64_t(cache().limit_bytes()) / picture_bytes;
  const int64_t span = std::min(kFillSpanNs, fit * 2 / 3 * now.duration_ns);
  const int64_t from = std::max<int64_t>(now.start_ns - span, first_picture_ns_);
  const int64_t to = cache().RunStart(now.start_ns);
  if (span <= 0 || to <= from)
    return;
  if (!filler_) {
    filler_ = std::make_unique<BackFiller>(path_, &cache());
  }
  filler_->Start(from, to, width, height, picture_path_->crop());
}

void Graph::ShareCache(size_t bytes) {
  if (!steps_by_seek_)
    cache().SetLimitKeeping(std::min(bytes, kDefaultCacheBytes), position_ns_);
}

void Graph::ForgetPictures() {
  if (filler_)
    filler_->Cancel();
  picture_path_->ForgetCached();
}

}  // namespace quorvex::media
