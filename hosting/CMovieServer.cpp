#include "hosting/CMovieServer.h"

#include "hosting/Channel.h"

namespace quorvex {

CMovieServer::CMovieServer(int32_t window, const std::string& id) : window_(window), id_(id) {
  start_event_ = ipc::NamedEvent::Open(channel::StartEventName(id_));
  param_map_ = ipc::SharedBlock::Open(channel::ParamMapName(id_), channel::kBlockBytes);
  return_map_ = ipc::SharedBlock::Open(channel::ReturnMapName(id_), channel::kBlockBytes);
  if (!start_event_ || !param_map_ || !return_map_) {
    throw ChannelOpenError("no channel " + id_);
  }
  param_view_ = param_map_->data();
  return_view_ = return_map_->data();
  // The client unlinks too; whoever comes second finds nothing, which is fine. Doing it here
  // as well leaves no names behind if the client dies during the handshake.
  ipc::NamedEvent::Unlink(channel::StartEventName(id_));
  ipc::SharedBlock::Unlink(channel::ParamMapName(id_));
  ipc::SharedBlock::Unlink(channel::ReturnMapName(id_));
  channel::WriteField<int32_t>(return_view_, 0, window_);
  start_event_->Signal();
}

CMovieServer::~CMovieServer() {
  return_view_ = nullptr;
  param_view_ = nullptr;
  return_map_.reset();
  param_map_.reset();
  start_event_.reset();
}

void CMovieServer::Dispatch(int32_t code) {
  (void)code;  // The movie commands arrive with the engine.
}

}  // namespace quorvex
