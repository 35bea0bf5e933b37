#include "engine/CMovie.h"

#include <gst/gst.h>

#include <cmath>

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
