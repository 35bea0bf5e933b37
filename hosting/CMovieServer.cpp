#include "hosting/CMovieServer.h"

#include <string>
#include <type_traits>

#include "engine/CMovie.h"
#include "engine/ChannelTerms.h"
#include "engine/StartSoundFinder.h"
#include "hosting/Channel.h"
#include "hosting/ChannelObjects.h"
#include "hosting/Log.h"
#include "platform/media/Deadline.h"

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

namespace {

// The replies to a command that needs a movie, sent before one was opened: what the engine
// reports without a graph (4:3, rate 1, not playing, no search) or a failure with its values
// 0. SetPositions replies the given positions as they were sent.
void Refuse(ch::NoReply&) {}
void Refuse(ch::BoolReply& reply) {
  reply.value = 0;
}
void Refuse(ch::RateReply& reply) {
  reply.rate = 1.0;
}
void Refuse(ch::AspectRatioReply& reply) {
  reply = {4, 3};
}
void Refuse(ch::ResultReply& reply) {
  reply.result = E_UNEXPECTED;
}
void Refuse(ch::ValueReply& reply) {
  reply = {E_UNEXPECTED, 0};
}
void Refuse(ch::StartSoundReply& reply) {
  reply = {ch::kStartSoundIdle, 0, 0};
}
template <typename Param, typename Reply>
void Refuse(const Param&, Reply& reply) {
  Refuse(reply);
}
void Refuse(const ch::SetPositionsParam& p, ch::SetPositionsReply& reply) {
  reply.result = E_UNEXPECTED;
  if (p.current_given)
    reply.current_units = p.current_units;
  if (p.stop_given)
    reply.stop_units = p.stop_units;
}

}  // namespace

template <typename Cmd, auto Handler>
void CMovieServer::Execute() {
  using Param = typename Cmd::Param;
  using Reply = typename Cmd::Reply;
  // The handler works on copies of the records. A reply's fields that its handler leaves alone
  // keep their earlier values; what a handler changes in its record goes back into the
  // parameter block (SetPositions: the actual times the seeking service wrote back).
  Param param = ch::ReadRecord<Param>(param_view_);
  Reply reply{};
  if constexpr (!std::is_same_v<Reply, ch::NoReply>)
    reply = ch::ReadRecord<Reply>(return_view_);
  if (Cmd::needs == ch::Needs::kMovie && !graph_ready_) {
    // The one place that answers "no movie yet": the handlers and the engine below may
    // assume an opened movie.
    qCWarning(ChannelLog, "command 0x%x refused: %s", unsigned(Cmd::code),
              graph_tried_ ? "the movie did not open" : "no movie was opened");
    Refuse(param, reply);
  } else if constexpr (std::is_same_v<Reply, ch::NoReply>) {
    (this->*Handler)(param);
  } else {
    (this->*Handler)(param, reply);
  }
  if constexpr (!std::is_same_v<Reply, ch::NoReply>)
    ch::WriteRecord(return_view_, reply);
  ch::WriteRecord(param_view_, param);
}

void CMovieServer::Dispatch(int32_t code) {
  struct Entry {
    int32_t code;
    void (CMovieServer::*execute)();
  };
  // One row per command of the channel: the code and records come from the command, the
  // handler's parameters must take them.
  using S = CMovieServer;
  static constexpr Entry kCommands[] = {
      {ch::InitializeGraph::code, &S::Execute<ch::InitializeGraph, &S::InitializeGraph>},
      {ch::SetVideoSize::code, &S::Execute<ch::SetVideoSize, &S::SetVideoSize>},
      {ch::GraphNotifyProc::code, &S::Execute<ch::GraphNotifyProc, &S::GraphNotifyProc>},
      {ch::SetRate::code, &S::Execute<ch::SetRate, &S::SetRate>},
      {ch::GetRate::code, &S::Execute<ch::GetRate, &S::GetRate>},
      {ch::Pause::code, &S::Execute<ch::Pause, &S::Pause>},
      {ch::Run::code, &S::Execute<ch::Run, &S::Run>},
      {ch::Stop::code, &S::Execute<ch::Stop, &S::Stop>},
      {ch::IsPlaying::code, &S::Execute<ch::IsPlaying, &S::IsPlaying>},
      {ch::EnablePitchShift::code, &S::Execute<ch::EnablePitchShift, &S::EnablePitchShift>},
      {ch::GetAspectRatio::code, &S::Execute<ch::GetAspectRatio, &S::GetAspectRatio>},
      {ch::SetNotifyWindow::code, &S::Execute<ch::SetNotifyWindow, &S::SetNotifyWindow>},
      {ch::GetDuration::code, &S::Execute<ch::GetDuration, &S::GetDuration>},
      {ch::SetPositions::code, &S::Execute<ch::SetPositions, &S::SetPositions>},
      {ch::GetCurrentPosition::code, &S::Execute<ch::GetCurrentPosition, &S::GetCurrentPosition>},
      {ch::PutVolume::code, &S::Execute<ch::PutVolume, &S::PutVolume>},
      {ch::StepFrames::code, &S::Execute<ch::StepFrames, &S::StepFrames>},
      {ch::FindStartSound::code, &S::Execute<ch::FindStartSound, &S::FindStartSound>},
      {ch::GetStartSound::code, &S::Execute<ch::GetStartSound, &S::GetStartSound>},
      {ch::CancelStartSound::code, &S::Execute<ch::CancelStartSound, &S::CancelStartSound>},
      {ch::SetZoom::code, &S::Execute<ch::SetZoom, &S::SetZoom>},
  };
  // One entry per code of the range but the close: a command added to the codes without a
  // handler, or listed twice, does not compile.
  constexpr auto covers_every_command_once = [] {
    for (int32_t c = ch::kFirstCommand; c <= ch::kLastCommand; ++c) {
      int found = 0;
      for (const Entry& e : kCommands)
        found += e.code == c ? 1 : 0;
      if (found != (c == ch::kClose ? 0 : 1))
        return false;
    }
    return true;
  };
  static_assert(covers_every_command_once());
  for (const Entry& e : kCommands) {
    if (e.code == code) {
      // One deadline for everything the command waits for, within the client's limit.
      const media::CommandDeadline deadline(code == ch::kInitializeGraph ? ch::kOpenBudget
                                                                         : ch::kCommandBudget);
      (this->*e.execute)();
      return;
    }
  }
}

void CMovieServer::InitializeGraph(const ch::InitializeGraphParam& p, ch::BoolReply& reply) {
  // The record's path field may hold anything: a path without its terminator is cut at the
  // field's end rather than read past it.
  const char16_t* end = std::char_traits<char16_t>::find(p.path, ch::kMaxPathUnits, u'\0');
  const std::u16string path(p.path, end != nullptr ? end : p.path + ch::kMaxPathUnits);
  // The engine builds one graph in its life; a second try, after a success or a failure that
  // left half a graph behind, is refused.
  if (graph_tried_)
    qCWarning(ChannelLog, "InitializeGraph refused: this server tried to open a movie already");
  else if (path.empty())
    qCWarning(ChannelLog, "InitializeGraph refused: the path is empty");
  const bool ok = !graph_tried_ && !path.empty() && movie_->InitializeGraph(path, p.owner_window);
  graph_tried_ = true;
  graph_ready_ = ok;
  if (ok)
    path_ = path;
  reply.value = ok ? 1 : 0;
}

void CMovieServer::SetVideoSize(const ch::SetVideoSizeParam& p) {
  movie_->SetVideoSize(p.width, p.height);
}

void CMovieServer::GraphNotifyProc(const ch::CodeOnlyParam&) {
  movie_->GraphNotifyProc();
}

void CMovieServer::SetRate(const ch::SetRateParam& p) {
  movie_->SetRate(p.rate);
}

void CMovieServer::GetRate(const ch::CodeOnlyParam&, ch::RateReply& reply) {
  reply.rate = movie_->GetRate();
}

void CMovieServer::Pause(const ch::CodeOnlyParam&) {
  movie_->Pause();
}

void CMovieServer::Run(const ch::CodeOnlyParam&) {
  movie_->Run();
}

void CMovieServer::Stop(const ch::CodeOnlyParam&) {
  movie_->Stop();
}

void CMovieServer::IsPlaying(const ch::CodeOnlyParam&, ch::BoolReply& reply) {
  reply.value = movie_->IsPlaying() ? 1 : 0;
}

void CMovieServer::EnablePitchShift(const ch::EnablePitchShiftParam& p) {
  movie_->EnablePitchShift(p.enable != 0);
}

void CMovieServer::GetAspectRatio(const ch::CodeOnlyParam&, ch::AspectRatioReply& reply) {
  movie_->GetAspectRatio(reply.x, reply.y);
}

void CMovieServer::SetNotifyWindow(const ch::SetNotifyWindowParam& p, ch::ResultReply& reply) {
  reply.result = movie_->SetNotifyWindow(p.window, p.message, p.instance);
}

void CMovieServer::GetDuration(const ch::CodeOnlyParam&, ch::ValueReply& reply) {
  ReplyTimeQuery(&CMovie::GetDuration, reply);
}

void CMovieServer::GetCurrentPosition(const ch::CodeOnlyParam&, ch::ValueReply& reply) {
  ReplyTimeQuery(&CMovie::GetCurrentPosition, reply);
}

void CMovieServer::ReplyTimeQuery(media::HRESULT (CMovie::*query)(int64_t*),
                                  ch::ValueReply& reply) {
  reply.value_units = 0;  // replied as 0 with a failure
  reply.result = (movie_.get()->*query)(&reply.value_units);
}

void CMovieServer::SetPositions(ch::SetPositionsParam& p, ch::SetPositionsReply& reply) {
  // The seeking service writes the actual times back through these pointers, into the record;
  // only the given positions are replied.
  int64_t* current = p.current_given ? &p.current_units : nullptr;
  int64_t* stop = p.stop_given ? &p.stop_units : nullptr;
  reply.result = movie_->SetPositions(current, p.current_flags, stop, p.stop_flags);
  if (current)
    reply.current_units = *current;
  if (stop)
    reply.stop_units = *stop;
}

void CMovieServer::PutVolume(const ch::PutVolumeParam& p, ch::ResultReply& reply) {
  reply.result = movie_->put_Volume(p.volume);
}

void CMovieServer::FindStartSound(const ch::CodeOnlyParam&, ch::ResultReply& reply) {
  int32_t volume = 0;
  int64_t position = 0;
  if (media::FAILED(movie_->get_Volume(&volume))) {
    reply.result = E_NOTIMPL;  // no sound to search
  } else if (media::FAILED(movie_->GetCurrentPosition(&position))) {
    reply.result = E_FAIL;
  } else {
    finder_->Start(path_, media::NsFromUnits(position));
    reply.result = media::S_OK;
  }
}

void CMovieServer::GetStartSound(const ch::CodeOnlyParam&, ch::StartSoundReply& reply) {
  const StartSoundFinder::Status status = finder_->status();
  switch (status.state) {
    case StartSoundFinder::State::kIdle:
      reply.state = ch::kStartSoundIdle;
      break;
    case StartSoundFinder::State::kRunning:
      reply.state = ch::kStartSoundRunning;
      break;
    case StartSoundFinder::State::kFound:
      reply.state = ch::kStartSoundFound;
      break;
    case StartSoundFinder::State::kNotFound:
      reply.state = ch::kStartSoundNotFound;
      break;
    case StartSoundFinder::State::kFailed:
      reply.state = ch::kStartSoundFailed;
      break;
  }
  reply.onset_units = reply.state == ch::kStartSoundFound ? media::UnitsFromNs(status.onset_ns) : 0;
}

void CMovieServer::CancelStartSound(const ch::CodeOnlyParam&) {
  finder_->Cancel();
}

void CMovieServer::StepFrames(const ch::StepFramesParam& p, ch::ResultReply& reply) {
  reply.result = movie_->StepFrames(p.frames) ? media::S_OK : media::S_FALSE;
}

static_assert(CMovie::kZoomUnits == ch::kZoomUnits);

void CMovieServer::SetZoom(const ch::SetZoomParam& p, ch::ResultReply& reply) {
  // The record comes from another process: nothing outside the picture reaches the graph.
  reply.result = ch::ZoomInRange(p.left, p.top, p.width, p.height)
                     ? movie_->SetZoom(p.left, p.top, p.width, p.height)
                     : media::E_INVALIDARG;
}

}  // namespace quorvex
