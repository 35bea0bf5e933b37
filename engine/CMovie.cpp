#include "engine/CMovie.h"

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "audio/gst/PitchShiftElement.h"
#include "engine/Clock.h"
#include "engine/MovieUtils.h"

namespace quorvex {
namespace {

constexpr char kPitchFilterFactory[] = "quorvexpitchshift";
constexpr char16_t kPitchFilterName[] = u"PitchShift filter";
constexpr char kClockName[] = "myrefclock";

}  // namespace

CMovie::CMovie() = default;

CMovie::~CMovie() {
  if (media_control_)
    media_control_->Stop();
  basic_video_ = nullptr;
  video_window_ = nullptr;
  basic_audio_ = nullptr;
  media_seeking_ = nullptr;
  media_event_ = nullptr;
  media_control_ = nullptr;
  clock_ = nullptr;
  pitch_filter_ = nullptr;
  graph_builder_.reset();  // the clock and the filter go with the graph
}

bool CMovie::InitializeGraph(const std::u16string& file_name, int32_t owner_window) {
  if (graph_builder_)
    return false;  // one movie per graph
  graph_builder_ = std::make_unique<media::FilterGraph>();
  media::FilterGraph* graph = graph_builder_.get();
  media_control_ = graph;
  media_event_ = graph;
  media_seeking_ = graph;
  basic_audio_ = graph;
  video_window_ = graph;
  basic_video_ = graph;

  // In the graph before the file is rendered, so that decoded mono/stereo audio goes through
  // it; other audio leaves it unconnected and passive.
  RegisterPitchShiftElement();
  GstElement* made = gst_element_factory_make(kPitchFilterFactory, nullptr);
  if (!made)
    return false;
  media::GstRef<GstElement> filter(GST_ELEMENT(gst_object_ref_sink(made)));
  if (media::FAILED(graph->AddFilter(filter.get(), kPitchFilterName)))
    return false;
  pitch_filter_ = filter.get();
  if (media::FAILED(graph->RenderFile(file_name)))
    return false;

  media::GstRef<GstClock> clock = Clock::Create(kClockName);
  const media::HRESULT installed = graph->SetSyncSource(clock.get());
  if (media::FAILED(installed))
    return false;
  clock_ = Clock::From(clock.get());

  // A graph without a picture fails here: it has no video window.
  if (media::FAILED(video_window_->put_Owner(owner_window)))
    return false;
  if (media::FAILED(video_window_->put_WindowStyle(media::WS_CHILD | media::WS_CLIPSIBLINGS)))
    return false;
  return true;
}

void CMovie::SetVideoSize(int32_t width, int32_t height) {
  if (!media_control_)
    return;
  int32_t x = 0, y = 0;
  GetAspectRatio(x, y);
  int32_t w = 0, h = 0;
  MovieUtils::CalcActualVideoSize(width, height, x, y, w, h);
  video_window_->SetWindowPosition(0, 0, w, h);
}

void CMovie::GraphNotifyProc() {
  if (!media_event_)
    return;
  int32_t code = 0;
  intptr_t p1 = 0, p2 = 0;
  while (media_event_->GetEvent(&code, &p1, &p2, 0) == media::S_OK) {
    media_event_->FreeEventParams(code, p1, p2);
    if (code == media::EC_COMPLETE)
      Pause();
  }
}

void CMovie::SetRate(double rate) {
  // The clock cannot run backwards and the filter's factor is 1/rate: only a positive finite
  // rate means anything.
  if (!clock_ || !(rate > 0.0) || std::isinf(rate))
    return;
  const double current = clock_->GetRate();
  if (rate == current)
    return;
  // Never a moment with the audio stretched less than the clock is slowed: the sink would run
  // out of sound.
  if (rate < current) {
    clock_->SetRate(rate);
    SetFilterRate(rate);
  } else {
    SetFilterRate(rate);
    clock_->SetRate(rate);
  }
  graph_builder_->DropQueuedData();
}

double CMovie::GetRate() {
  return clock_ ? clock_->GetRate() : 1.0;
}

void CMovie::SetFilterRate(double rate) {
  if (pitch_filter_)
    g_object_set(pitch_filter_, "rate", rate, nullptr);
}

void CMovie::Pause() {
  if (!media_control_)
    return;
  media_control_->Pause();
  playing_ = false;
}

void CMovie::Run() {
  if (!media_control_)
    return;
  media_control_->Run();
  playing_ = true;
}

void CMovie::Stop() {
  if (!media_control_)
    return;
  media_control_->Stop();
  playing_ = false;
}

bool CMovie::IsPlaying() {
  return playing_;
}

void CMovie::EnablePitchShift(bool enable) {
  if (pitch_filter_)
    g_object_set(pitch_filter_, "pitch-correction", gboolean(enable), nullptr);
}

namespace {

constexpr int64_t kNsPerUnit = 100;

bool HasFixedRate(const media::FilterGraph::ShownFrame& shown) {
  return shown.nominal_ns > 0;
}

}  // namespace

bool CMovie::StepFrames(int32_t frames) {
  if (!media_control_ || frames == 0)
    return false;
  Pause();
  media::FilterGraph::ShownFrame shown;
  if (graph_builder_->GetShownFrame(&shown) != media::S_OK)
    return false;
  int64_t duration_units = -1;
  const bool known = media_seeking_->GetDuration(&duration_units) == media::S_OK;
  const int64_t end_ns = known ? duration_units * kNsPerUnit : INT64_MAX;
  // One picture at a time needs no rate: exact even where the rate varies.
  if (HasFixedRate(shown) && std::abs(frames) > 1)
    return JumpFrames(shown, frames, end_ns);
  bool moved = false;
  for (int32_t i = 0; i < std::abs(frames); ++i) {
    if (!StepOnePicture(frames > 0, end_ns))
      break;
    moved = true;
  }
  return moved;
}

bool CMovie::JumpFrames(const media::FilterGraph::ShownFrame& shown, int32_t frames,
                        int64_t end_ns) {
  const int64_t period = shown.nominal_ns;
  // As many whole periods as the movie has pictures that way.
  const int64_t before = (shown.start_ns + period / 2) / period;
  const int64_t after =
      end_ns == INT64_MAX ? frames : (end_ns - shown.stop_ns + period / 2) / period;
  const int64_t step = std::clamp<int64_t>(frames, -before, std::max<int64_t>(after, 0));
  if (step == 0)
    return false;
  return SeekToFrame(shown.start_ns + step * period);
}

bool CMovie::StepOnePicture(bool forward, int64_t end_ns) {
  media::FilterGraph::ShownFrame shown;
  if (graph_builder_->GetShownFrame(&shown) != media::S_OK)
    return false;
  if (forward)
    return shown.stop_ns < end_ns && StepForwardFrom(shown);
  return StepBackFrom(shown);
}

// The container's duration may reach beyond the last picture: a seek there shows no later
// picture (or none at all), and the step is taken back.
bool CMovie::StepForwardFrom(const media::FilterGraph::ShownFrame& shown) {
  media::FilterGraph::ShownFrame next;
  if (SeekToFrame(shown.stop_ns) && graph_builder_->GetShownFrame(&next) == media::S_OK &&
      next.stop_ns > shown.stop_ns)
    return true;
  SeekToFrame(shown.start_ns);
  return false;
}

// At a fixed rate the first probe, just before the picture's start, shows the previous one.
// Without one the start known may lie inside the picture (where a seek clipped it): probes go
// further back, each twice as far, until an earlier picture shows; it is then the previous
// one unless that lasts less than half the distance gone, and the position stays inside it.
bool CMovie::StepBackFrom(const media::FilterGraph::ShownFrame& shown) {
  if (shown.start_ns <= 0)
    return false;
  media::FilterGraph::ShownFrame earlier;
  for (int64_t distance = kNsPerUnit;; distance *= 2) {
    const int64_t target = std::max<int64_t>(0, shown.start_ns - distance);
    if (!SeekToUnits(target / kNsPerUnit) || graph_builder_->GetShownFrame(&earlier) != media::S_OK)
      break;
    if (earlier.stop_ns < shown.stop_ns)
      return SeekToFrame(earlier.start_ns);
    if (target == 0)
      break;
  }
  SeekToFrame(shown.start_ns);
  return false;
}

// A seek to a position in units reaches the frame that starts within that unit; half a unit
// more keeps a start computed from the nominal period, which may be off by a nanosecond of
// rounding, inside the unit where the frame really starts.
bool CMovie::SeekToFrame(int64_t frame_start_ns) {
  return SeekToUnits(std::max<int64_t>(0, frame_start_ns + kNsPerUnit / 2) / kNsPerUnit);
}

// Frame-accurate: the picture shown is the one that covers the end of unit `units`.
bool CMovie::SeekToUnits(int64_t units) {
  return media::SUCCEEDED(media_seeking_->SetPositions(
      &units, media::AM_SEEKING_AbsolutePositioning, nullptr, media::AM_SEEKING_NoPositioning));
}

void CMovie::GetAspectRatio(int32_t& x, int32_t& y) {
  x = 4;
  y = 3;
  int32_t px = 0, py = 0;
  if (basic_video_ && media::SUCCEEDED(basic_video_->GetPreferredAspectRatio(&px, &py))) {
    x = px;
    y = py;
  }
}

media::IMediaEventEx* CMovie::GetMediaEvent() {
  return media_event_;
}

media::IMediaSeeking* CMovie::GetMediaSeeking() {
  return media_seeking_;
}

media::IBasicAudio* CMovie::GetBasicAudio() {
  return basic_audio_;
}

}  // namespace quorvex
