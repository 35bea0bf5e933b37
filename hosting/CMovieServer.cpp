#include "hosting/CMovieServer.h"

#include "engine/CMovie.h"
#include "engine/StartSoundFinder.h"
#include "hosting/Channel.h"
#include "platform/media/Results.h"

namespace quorvex {

namespace ch = channel;
using media::E_FAIL;
using media::E_NOTIMPL;
using media::E_UNEXPECTED;
using media::HRESULT;

CMovieServer::CMovieServer(int32_t window, const std::string& id)
    : window_(window),
      id_(id),
      movie_(std::make_unique<CMovie>()),
      finder_(std::make_unique<StartSoundFinder>()) {
  start_event_ = ipc::NamedEvent::Open(ch::StartEventName(id_));
  param_map_ = ipc::SharedBlock::Open(ch::ParamMapName(id_), ch::kBlockBytes);
  return_map_ = ipc::SharedBlock::Open(ch::ReturnMapName(id_), ch::kBlockBytes);
  if (!start_event_ || !param_map_ || !return_map_) {
    throw ChannelOpenError("no channel " + id_);
  }
  param_view_ = param_map_->data();
  return_view_ = return_map_->data();
  // The client unlinks too; whoever comes second finds nothing, which is fine. Doing it here
  // as well leaves no names behind if the client dies during the handshake.
  ipc::NamedEvent::Unlink(ch::StartEventName(id_));
  ipc::SharedBlock::Unlink(ch::ParamMapName(id_));
  ipc::SharedBlock::Unlink(ch::ReturnMapName(id_));
  ch::WriteField<int32_t>(return_view_, 0, window_);
  start_event_->Signal();
}

CMovieServer::~CMovieServer() {
  return_view_ = nullptr;
  param_view_ = nullptr;
  return_map_.reset();
  param_map_.reset();
  start_event_.reset();
  finder_.reset();  // cancels a search
  movie_.reset();   // stops and releases the graph
}

template <typename T>
T CMovieServer::Param(size_t offset) const {
  return ch::ReadField<T>(param_view_, offset);
}

template <typename T>
void CMovieServer::Reply(size_t offset, const T& value) {
  ch::WriteField<T>(return_view_, offset, value);
}

void CMovieServer::Dispatch(int32_t code) {
  switch (code) {
    case ch::kInitializeGraph:
      InitializeGraph();
      break;
    case ch::kSetVideoSize:
      SetVideoSize();
      break;
    case ch::kGraphNotifyProc:
      GraphNotifyProc();
      break;
    case ch::kSetRate:
      SetRate();
      break;
    case ch::kGetRate:
      GetRate();
      break;
    case ch::kPause:
      Pause();
      break;
    case ch::kRun:
      Run();
      break;
    case ch::kStop:
      Stop();
      break;
    case ch::kIsPlaying:
      IsPlaying();
      break;
    case ch::kEnablePitchShift:
      EnablePitchShift();
      break;
    case ch::kGetAspectRatio:
      GetAspectRatio();
      break;
    case ch::kSetNotifyWindow:
      SetNotifyWindow();
      break;
    case ch::kGetDuration:
      GetDuration();
      break;
    case ch::kSetPositions:
      SetPositions();
      break;
    case ch::kGetCurrentPosition:
      GetCurrentPosition();
      break;
    case ch::kPutVolume:
      PutVolume();
      break;
    case ch::kStepFrames:
      StepFrames();
      break;
    case ch::kFindStartSound:
      FindStartSound();
      break;
    case ch::kGetStartSound:
      GetStartSound();
      break;
    default:
      break;
  }
}

void CMovieServer::InitializeGraph() {
  // The record's path field may hold anything: a path without its terminator is cut at the
  // field's end rather than read past it.
  std::u16string path;
  for (size_t i = 0; i < ch::kMaxPathUnits; ++i) {
    const auto unit = Param<char16_t>(offsetof(ch::InitializeGraphParam, path) + 2 * i);
    if (unit == 0)
      break;
    path.push_back(unit);
  }
  const auto owner = Param<int32_t>(offsetof(ch::InitializeGraphParam, owner_window));
  // The engine builds one graph in its life; a second try, after a success or a failure that
  // left half a graph behind, is refused.
  const bool ok = !graph_tried_ && !path.empty() && movie_->InitializeGraph(path, owner);
  graph_tried_ = true;
  graph_ready_ = ok;
  if (ok)
    path_ = path;
  Reply<uint8_t>(0, ok ? 1 : 0);
}

void CMovieServer::SetVideoSize() {
  if (!graph_ready_)
    return;
  movie_->SetVideoSize(Param<int32_t>(offsetof(ch::SetVideoSizeParam, width)),
                       Param<int32_t>(offsetof(ch::SetVideoSizeParam, height)));
}

void CMovieServer::GraphNotifyProc() {
  if (graph_ready_)
    movie_->GraphNotifyProc();
}

void CMovieServer::SetRate() {
  if (graph_ready_)
    movie_->SetRate(Param<double>(offsetof(ch::SetRateParam, rate)));
}

void CMovieServer::GetRate() {
  Reply<double>(0, graph_ready_ ? movie_->GetRate() : 1.0);
}

void CMovieServer::Pause() {
  if (graph_ready_)
    movie_->Pause();
}

void CMovieServer::Run() {
  if (graph_ready_)
    movie_->Run();
}

void CMovieServer::Stop() {
  if (graph_ready_)
    movie_->Stop();
}

void CMovieServer::IsPlaying() {
  Reply<uint8_t>(0, graph_ready_ && movie_->IsPlaying() ? 1 : 0);
}

void CMovieServer::EnablePitchShift() {
  if (graph_ready_) {
    movie_->EnablePitchShift(Param<uint8_t>(offsetof(ch::EnablePitchShiftParam, enable)) != 0);
  }
}

void CMovieServer::GetAspectRatio() {
  int32_t x = 4, y = 3;
  if (graph_ready_)
    movie_->GetAspectRatio(x, y);
  Reply<int32_t>(offsetof(ch::AspectRatioReply, x), x);
  Reply<int32_t>(offsetof(ch::AspectRatioReply, y), y);
}

void CMovieServer::SetNotifyWindow() {
  const HRESULT hr =
      graph_ready_
          ? movie_->SetNotifyWindow(Param<int32_t>(offsetof(ch::SetNotifyWindowParam, window)),
                                    Param<int32_t>(offsetof(ch::SetNotifyWindowParam, message)),
                                    Param<int32_t>(offsetof(ch::SetNotifyWindowParam, instance)))
          : E_UNEXPECTED;
  Reply<int32_t>(0, hr);
}

void CMovieServer::GetDuration() {
  ReplyTimeQuery(&CMovie::GetDuration);
}

void CMovieServer::GetCurrentPosition() {
  ReplyTimeQuery(&CMovie::GetCurrentPosition);
}

void CMovieServer::ReplyTimeQuery(media::HRESULT (CMovie::*query)(int64_t*)) {
  int64_t units = 0;  // replied as 0 with a failure
  const HRESULT hr = graph_ready_ ? (movie_.get()->*query)(&units) : E_UNEXPECTED;
  Reply<int32_t>(0, hr);
  Reply<int64_t>(offsetof(ch::ValueReply, value_units), units);
}

void CMovieServer::SetPositions() {
  using P = ch::SetPositionsParam;
  const bool current_given = Param<uint8_t>(offsetof(P, current_given)) != 0;
  const bool stop_given = Param<uint8_t>(offsetof(P, stop_given)) != 0;
  // The seeking service writes actual times back through these pointers, into the block: the
  // reply is then copied from there. The fields are 8-aligned in a page-aligned mapping.
  auto* current = current_given
                      ? reinterpret_cast<int64_t*>(param_view_ + offsetof(P, current_units))
                      : nullptr;
  auto* stop =
      stop_given ? reinterpret_cast<int64_t*>(param_view_ + offsetof(P, stop_units)) : nullptr;
  const HRESULT hr =
      graph_ready_ ? movie_->SetPositions(current, Param<uint32_t>(offsetof(P, current_flags)),
                                          stop, Param<uint32_t>(offsetof(P, stop_flags)))
                   : E_UNEXPECTED;
  Reply<int32_t>(0, hr);
  if (current_given) {
    Reply<int64_t>(offsetof(ch::SetPositionsReply, current_units),
                   Param<int64_t>(offsetof(P, current_units)));
  }
  if (stop_given) {
    Reply<int64_t>(offsetof(ch::SetPositionsReply, stop_units),
                   Param<int64_t>(offsetof(P, stop_units)));
  }
}

void CMovieServer::PutVolume() {
  const HRESULT hr =
      graph_ready_ ? movie_->put_Volume(Param<int32_t>(offsetof(ch::PutVolumeParam, volume)))
                   : E_UNEXPECTED;
  Reply<int32_t>(0, hr);
}

void CMovieServer::FindStartSound() {
  HRESULT hr = E_UNEXPECTED;
  if (graph_ready_) {
    int32_t volume = 0;
    int64_t position = 0;
    if (media::FAILED(movie_->get_Volume(&volume))) {
      hr = E_NOTIMPL;  // no sound to search
    } else if (media::FAILED(movie_->GetCurrentPosition(&position))) {
      hr = E_FAIL;
    } else {
      finder_->Start(path_, position);
      hr = media::S_OK;
    }
  }
  Reply<int32_t>(0, hr);
}

void CMovieServer::GetStartSound() {
  const StartSoundFinder::Status status = finder_->status();
  ch::StartSoundState state = ch::kStartSoundIdle;
  switch (status.state) {
    case StartSoundFinder::State::kIdle:
      state = ch::kStartSoundIdle;
      break;
    case StartSoundFinder::State::kRunning:
      state = ch::kStartSoundRunning;
      break;
    case StartSoundFinder::State::kFound:
      state = ch::kStartSoundFound;
      break;
    case StartSoundFinder::State::kNotFound:
      state = ch::kStartSoundNotFound;
      break;
    case StartSoundFinder::State::kFailed:
      state = ch::kStartSoundFailed;
      break;
  }
  Reply<int32_t>(offsetof(ch::StartSoundReply, state), state);
  Reply<int64_t>(offsetof(ch::StartSoundReply, onset_units),
                 state == ch::kStartSoundFound ? status.onset_units : 0);
}

void CMovieServer::StepFrames() {
  const auto frames = Param<int32_t>(offsetof(ch::StepFramesParam, frames));
  const HRESULT hr = !graph_ready_                ? E_UNEXPECTED
                     : movie_->StepFrames(frames) ? media::S_OK
                                                  : media::S_FALSE;
  Reply<int32_t>(0, hr);
}

}  // namespace quorvex
