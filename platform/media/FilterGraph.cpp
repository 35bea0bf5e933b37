// FilterGraph: state control, seeking, events, volume and the video window.

#include "platform/media/FilterGraph.h"

#include <gst/gst.h>
#include <gst/video/videooverlay.h>

#include <algorithm>
#include <cmath>

#include "platform/media/GraphBranches.h"
#include "platform/media/GstRef.h"
#include "platform/media/VideoWindow.h"

namespace quorvex::media {
namespace {

constexpr int64_t kNsPerUnit = 100;
constexpr int32_t kSilentVolume = -10000;
constexpr GstClockTime kPauseLimitNs = 2 * GST_SECOND;

// A position in 100 ns units stands for the whole 100 ns from there: frame times in ns are
// rarely whole units, and a frame that starts within the unit must count as reached, so that
// a position read back (truncated to units) seeks to the frame it was read at.
GstClockTime SeekTarget(int64_t units) {
  return units < 0 ? GST_CLOCK_TIME_NONE : GstClockTime(units) * kNsPerUnit + (kNsPerUnit - 1);
}

}  // namespace

FilterGraph::FilterGraph() : branches_(std::make_unique<Branches>()) {
  gst_init_check(nullptr, nullptr, nullptr);
  pipeline_ = gst_pipeline_new("graph");
  if (g_object_is_floating(pipeline_))  // not floating in every GStreamer version
    gst_object_ref_sink(pipeline_);
  GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
  gst_bus_set_sync_handler(bus.get(), &Callbacks::OnBus, this, nullptr);
  video_window_ = VideoWindow::Open();
}

FilterGraph::~FilterGraph() {
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  GstRef<GstBus> bus(gst_element_get_bus(pipeline_));
  gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
  gst_object_unref(pipeline_);
  // video_window_ goes after the pipeline: the sink has stopped drawing into it.
}

HRESULT FilterGraph::SetSyncSource(GstClock* clock) {
  gst_pipeline_use_clock(GST_PIPELINE(pipeline_), clock);
  return S_OK;
}

bool FilterGraph::has_video() const {
  std::lock_guard lock(branches_->mutex);
  return branches_->video_sink != nullptr;
}

bool FilterGraph::has_audio() const {
  std::lock_guard lock(branches_->mutex);
  return branches_->has_audio;
}

bool FilterGraph::audio_through_filter() const {
  std::lock_guard lock(branches_->mutex);
  return branches_->through_filter;
}

// ---- State ----

HRESULT FilterGraph::Run() {
  if (!rendered_)
    return E_UNEXPECTED;
  const HRESULT hr = stopped_ ? ShowKeptPosition() : S_OK;
  playing_ = true;
  const bool ok = gst_element_set_state(pipeline_, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
  return ok ? hr : E_FAIL;
}

HRESULT FilterGraph::Pause() {
  if (!rendered_)
    return E_UNEXPECTED;
  playing_ = false;
  const bool ok = gst_element_set_state(pipeline_, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE;
  const HRESULT hr = stopped_ ? ShowKeptPosition() : S_OK;
  return ok ? hr : E_FAIL;
}

HRESULT FilterGraph::Stop() {
  if (!rendered_)
    return E_UNEXPECTED;
  playing_ = false;
  // Paused before the position is read: the position is then the one of the picture held.
  // READY or NULL would lose the position; the data queued is dropped by the seek that the
  // next Pause or Run makes.
  const GstStateChangeReturn change = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  if (change == GST_STATE_CHANGE_ASYNC)  // a sink waits for data to hold: it comes at once
    gst_element_get_state(pipeline_, nullptr, nullptr, kPauseLimitNs);
  const bool ok = change != GST_STATE_CHANGE_FAILURE;
  if (!stopped_) {
    const int64_t position = QueryPosition();
    if (position >= 0)
      kept_position_units_ = position;
    stopped_ = true;
  }
  return ok ? S_OK : E_FAIL;
}

HRESULT FilterGraph::ShowKeptPosition() {
  stopped_ = false;
  return SeekTo(kept_position_units_, stop_units_, false);
}

HRESULT FilterGraph::DropQueuedData() {
  if (!rendered_ || stopped_)
    return S_OK;
  const int64_t position = QueryPosition();
  return position < 0 ? E_FAIL : SeekTo(position, stop_units_, false);
}

// ---- Events ----

HRESULT FilterGraph::SetNotifyWindow(int32_t hwnd, int32_t message, int32_t instance) {
  return events_.SetNotifyWindow(hwnd, message, instance);
}

HRESULT FilterGraph::GetEvent(int32_t* code, intptr_t* p1, intptr_t* p2, int32_t timeout_ms) {
  return events_.GetEvent(code, p1, p2, timeout_ms);
}

HRESULT FilterGraph::FreeEventParams(int32_t, intptr_t, intptr_t) {
  return S_OK;  // event parameters are plain values
}

// ---- Seeking ----

int64_t FilterGraph::QueryPosition() const {
  gint64 ns = -1;
  if (!gst_element_query_position(pipeline_, GST_FORMAT_TIME, &ns) || ns < 0) {
    // In the middle of a state change the sinks know no position yet: let it complete.
    gst_element_get_state(pipeline_, nullptr, nullptr, kPauseLimitNs);
    if (!gst_element_query_position(pipeline_, GST_FORMAT_TIME, &ns) || ns < 0)
      return -1;
  }
  return ns / kNsPerUnit;
}

HRESULT FilterGraph::GetDuration(int64_t* units) {
  if (!units)
    return E_POINTER;
  gint64 ns = 0;
  if (!rendered_ || !gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &ns) || ns < 0)
    return E_FAIL;
  *units = ns / kNsPerUnit;
  return S_OK;
}

HRESULT FilterGraph::GetCurrentPosition(int64_t* units) {
  if (!units)
    return E_POINTER;
  if (!rendered_)
    return E_FAIL;
  if (stopped_) {
    *units = kept_position_units_;
    return S_OK;
  }
  const int64_t position = QueryPosition();
  if (position < 0)
    return E_FAIL;
  *units = position;
  return S_OK;
}

HRESULT FilterGraph::SetPositions(int64_t* current, uint32_t current_flags, int64_t* stop,
                                  uint32_t stop_flags) {
  const uint32_t current_mode = current_flags & AM_SEEKING_PositioningBitsMask;
  const uint32_t stop_mode = stop_flags & AM_SEEKING_PositioningBitsMask;
  if ((current_mode != AM_SEEKING_NoPositioning && !current) ||
      (stop_mode != AM_SEEKING_NoPositioning && !stop))
    return E_POINTER;
  if (current_mode == AM_SEEKING_IncrementalPositioning)
    return E_INVALIDARG;
  if (!rendered_)
    return E_UNEXPECTED;

  int64_t now = 0;
  if (GetCurrentPosition(&now) != S_OK)
    now = kept_position_units_;
  int64_t duration = -1;
  GetDuration(&duration);
  int64_t target = now;
  if (current_mode == AM_SEEKING_AbsolutePositioning)
    target = *current;
  else if (current_mode == AM_SEEKING_RelativePositioning)
    target = now + *current;
  target = std::max<int64_t>(target, 0);
  if (duration >= 0)
    target = std::min(target, duration);

  int64_t end = stop_units_;
  const int64_t old_end = stop_units_ >= 0 ? stop_units_ : duration;
  if (stop_mode == AM_SEEKING_AbsolutePositioning)
    end = *stop;
  else if (stop_mode == AM_SEEKING_RelativePositioning)
    end = old_end + *stop;
  else if (stop_mode == AM_SEEKING_IncrementalPositioning)
    end = target + *stop;
  if (end >= 0 && duration >= 0 && end >= duration)
    end = -1;  // the end of the movie, wherever that turns out to be
  end = end < 0 ? -1 : std::max(end, target);

  HRESULT hr = S_OK;
  if (current_mode == AM_SEEKING_NoPositioning && stop_mode == AM_SEEKING_NoPositioning)
    return S_OK;
  stop_units_ = end;
  if (stopped_) {
    kept_position_units_ = target;  // shown by the next Pause or Run
  } else {
    hr = SeekTo(target, end, (current_flags & AM_SEEKING_SeekToKeyFrame) != 0);
  }
  if (current && (current_flags & AM_SEEKING_ReturnTime) && GetCurrentPosition(current) != S_OK)
    *current = target;
  if (stop && (stop_flags & AM_SEEKING_ReturnTime))
    *stop = stop_units_ >= 0 ? stop_units_ : std::max<int64_t>(duration, 0);
  return hr;
}

HRESULT FilterGraph::SeekTo(int64_t position_units, int64_t stop_units, bool key_frame) {
  const auto precision = key_frame
                             ? GstSeekFlags(GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_BEFORE)
                             : GST_SEEK_FLAG_ACCURATE;
  uint64_t async_done = 0, errors = 0;
  {
    std::lock_guard lock(bus_mutex_);
    async_done = async_done_count_;
    errors = error_count_;
  }
  if (!gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME,
                        GstSeekFlags(GST_SEEK_FLAG_FLUSH | precision), GST_SEEK_TYPE_SET,
                        SeekTarget(position_units), GST_SEEK_TYPE_SET, SeekTarget(stop_units)))
    return E_FAIL;
  return WaitForPreroll(async_done, errors) ? S_OK : E_FAIL;
}

// ---- Audio ----

HRESULT FilterGraph::put_Volume(int32_t hundredths_db) {
  if (hundredths_db > 0 || hundredths_db < kSilentVolume)
    return E_INVALIDARG;
  std::lock_guard lock(branches_->mutex);
  if (!rendered_ || !branches_->has_audio)
    return E_NOTIMPL;
  volume_ = hundredths_db;
  branches_->volume_linear =
      hundredths_db == kSilentVolume ? 0.0 : std::pow(10.0, hundredths_db / 2000.0);
  for (GstElement* volume : branches_->volumes)
    g_object_set(volume, "volume", branches_->volume_linear, nullptr);
  return S_OK;
}

HRESULT FilterGraph::get_Volume(int32_t* hundredths_db) {
  if (!hundredths_db)
    return E_POINTER;
  if (!rendered_ || !has_audio())
    return E_NOTIMPL;
  *hundredths_db = volume_;
  return S_OK;
}

// ---- Video ----

HRESULT FilterGraph::put_Owner(int32_t owner) {
  std::lock_guard lock(branches_->mutex);
  if (!rendered_ || !branches_->has_window || !video_window_->SetOwner(owner))
    return E_FAIL;
  RedrawLocked();
  return S_OK;
}

HRESULT FilterGraph::put_WindowStyle(int32_t style) {
  std::lock_guard lock(branches_->mutex);
  if (!rendered_ || !branches_->has_window)
    return E_FAIL;
  // An X child window is always clipped by its siblings and inside its parent: nothing to set.
  window_style_ = style;
  return S_OK;
}

HRESULT FilterGraph::SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (width < 0 || height < 0)
    return E_INVALIDARG;
  width = std::max(width, 1);
  height = std::max(height, 1);
  {
    std::lock_guard lock(branches_->mutex);
    if (!rendered_ || !branches_->has_window)
      return E_FAIL;
    video_window_->SetPosition(left, top, width, height);
    RedrawLocked();
    if (width == video_width_ && height == video_height_)
      return S_OK;
    video_width_ = width;
    video_height_ = height;
    CapsRef size(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, width, "height",
                                     G_TYPE_INT, height, nullptr));
    g_object_set(branches_->video_size, "caps", size.get(), nullptr);
  }
  // A paused picture is drawn again at the new size; a stopped one is drawn by the next
  // Pause or Run, a running one by the next frame.
  if (playing_ || stopped_)
    return S_OK;
  const int64_t position = QueryPosition();
  return position < 0 ? S_OK : SeekTo(position, stop_units_, false);
}

// The sink learns its window's size from X events on its own thread; it must not draw the
// next picture into the size it knew before. Exposing makes it read the size now (and draw
// the picture it holds again).
void FilterGraph::RedrawLocked() {
  if (branches_->has_window)
    gst_video_overlay_expose(GST_VIDEO_OVERLAY(branches_->video_sink));
}

HRESULT FilterGraph::GetShownFrameStop(int64_t* units) {
  if (!units)
    return E_POINTER;
  ShownFrame frame;
  const HRESULT hr = GetShownFrame(&frame);
  if (hr == S_OK)
    *units = frame.stop_ns / kNsPerUnit;
  return hr;
}

namespace {

int64_t NominalFrameNs(GstCaps* caps) {
  const GstStructure* s = caps ? gst_caps_get_structure(caps, 0) : nullptr;
  int num = 0, den = 0;
  if (!s || !gst_structure_get_fraction(s, "framerate", &num, &den) || num <= 0 || den <= 0)
    return 0;
  return int64_t(gst_util_uint64_scale_round(GST_SECOND, guint64(den), guint64(num)));
}

}  // namespace

HRESULT FilterGraph::GetShownFrame(ShownFrame* frame) {
  if (!frame)
    return E_POINTER;
  GstSample* sample = nullptr;
  {
    std::lock_guard lock(branches_->mutex);
    if (!rendered_ || !branches_->video_sink)
      return E_FAIL;
    g_object_get(branches_->video_sink, "last-sample", &sample, nullptr);
  }
  if (!sample)
    return E_FAIL;
  ShownFrame found;
  found.nominal_ns = NominalFrameNs(gst_sample_get_caps(sample));
  // From the stop, not the start: a frame that began before a seek's target is clipped to
  // start there, while its stop stays its own. Buffer stamps may be offset from the movie's
  // time (an edit list): the segment maps them.
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  const GstSegment* segment = gst_sample_get_segment(sample);
  if (buffer && segment && GST_BUFFER_PTS_IS_VALID(buffer)) {
    const GstClockTime length =
        GST_BUFFER_DURATION_IS_VALID(buffer) ? GST_BUFFER_DURATION(buffer) : found.nominal_ns;
    const GstClockTime stop =
        gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer) + length);
    // A picture reached by a seek into its middle comes clipped to start at the seek's target;
    // at a fixed rate its own start is one period before its stop.
    const int64_t period = found.nominal_ns > 0 ? found.nominal_ns : int64_t(length);
    if (length > 0 && GST_CLOCK_TIME_IS_VALID(stop)) {
      found.stop_ns = int64_t(stop);
      found.start_ns = std::max<int64_t>(0, found.stop_ns - period);
    }
  }
  gst_sample_unref(sample);
  if (found.stop_ns < 0)
    return E_FAIL;
  *frame = found;
  return S_OK;
}

HRESULT FilterGraph::GetPreferredAspectRatio(int32_t* x, int32_t* y) {
  if (!x || !y)
    return E_POINTER;
  std::lock_guard lock(branches_->mutex);
  if (!rendered_ || !branches_->video_sink || branches_->aspect_x <= 0 || branches_->aspect_y <= 0)
    return E_FAIL;
  *x = branches_->aspect_x;
  *y = branches_->aspect_y;
  return S_OK;
}

}  // namespace quorvex::media
