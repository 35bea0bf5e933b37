#include "hosting/CMovieServer.h"

#include <iterator>

#include "engine/CMovie.h"
#include "engine/StartSoundFinder.h"
#include "hosting/Channel.h"
#include "hosting/ChannelObjects.h"
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
  ch::Objects objects = ch::Objects::Open(id_);
  if (!objects.complete())
    throw ChannelOpenError("no channel " + id_);
  start_event_ = std::move(objects.start_event);
  param_map_ = std::move(objects.param_map);
  return_map_ = std::move(objects.return_map);
  param_view_ = param_map_->data();
  return_view_ = return_map_->data();
  // The client removes them too (see ChannelObjects.h).
  ch::RemoveNames(id_);
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

namespace {

// Every command the server executes, with its handler; the close (0x8074) is the server
// window's own business and is not here.
struct CommandEntry {
  int32_t code;
  void (CMovieServer::*handler)();
};

constexpr CommandEntry kCommands[] = {
    {ch::kInitializeGraph, &CMovieServer::InitializeGraph},
    {ch::kSetVideoSize, &CMovieServer::SetVideoSize},
    {ch::kGraphNotifyProc, &CMovieServer::GraphNotifyProc},
    {ch::kSetRate, &CMovieServer::SetRate},
    {ch::kGetRate, &CMovieServer::GetRate},
    {ch::kPause, &CMovieServer::Pause},
    {ch::kRun, &CMovieServer::Run},
    {ch::kStop, &CMovieServer::Stop},
    {ch::kIsPlaying, &CMovieServer::IsPlaying},
    {ch::kEnablePitchShift, &CMovieServer::EnablePitchShift},
    {ch::kGetAspectRatio, &CMovieServer::GetAspectRatio},
    {ch::kSetNotifyWindow, &CMovieServer::SetNotifyWindow},
    {ch::kGetDuration, &CMovieServer::GetDuration},
    {ch::kSetPositions, &CMovieServer::SetPositions},
    {ch::kGetCurrentPosition, &CMovieServer::GetCurrentPosition},
    {ch::kPutVolume, &CMovieServer::PutVolume},
    {ch::kStepFrames, &CMovieServer::StepFrames},
    {ch::kFindStartSound, &CMovieServer::FindStartSound},
    {ch::kGetStartSound, &CMovieServer::GetStartSound},
};

// One entry per code of the range but the close: a command added to the codes without a
// handler, or listed twice, does not compile.
constexpr bool CoversEveryCommandOnce() {
  for (int32_t code = ch::kFirstCommand; code <= ch::kLastCommand; ++code) {
    int found = 0;
    for (const CommandEntry& c : kCommands)
      found += c.code == code ? 1 : 0;
    if (found != (code == ch::kClose ? 0 : 1))
      return false;
  }
  return std::size(kCommands) == size_t(ch::kLastCommand - ch::kFirstCommand);
}
static_assert(CoversEveryCommandOnce());

}  // namespace

void CMovieServer::Dispatch(int32_t code) {
  for (const CommandEntry& c : kCommands) {
    if (c.code == code) {
      (this->*c.handler)();
      return;
    }
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
  const HRESULT hr = graph_ready_
                         ? movie_->put_Volume(Param<int32_t>(offsetof(ch::PutVolumeParam, volume)))
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
