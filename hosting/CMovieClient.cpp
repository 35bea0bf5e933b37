#include "hosting/CMovieClient.h"

#include <unistd.h>

#include <cstring>
#include <thread>

#include "hosting/Channel.h"
#include "platform/ipc/Tick.h"

namespace quorvex {

int32_t CMovieClient::server_index_ = 0;

namespace {

std::string OwnExecutable() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "/proc/self/exe";
  return std::string(buf, size_t(n));
}

}  // namespace

CMovieClient::CMovieClient() : CMovieClient(ClientOptions{}) {}

CMovieClient::CMovieClient(const ClientOptions& options) : options_(options) {
  if (options_.server_path.empty()) options_.server_path = OwnExecutable();
  CreateChannelObjects();
  try {
    StartServer();
  } catch (...) {
    ReleaseNames();
    throw;
  }
  ReleaseNames();
  ++server_index_;
}

void CMovieClient::CreateChannelObjects() {
  // Another user-interface process may have formed the same identifier in the same
  // millisecond: O_EXCL refuses its names, and the next tick value gives fresh ones.
  const uint32_t tick = ipc::GetTickCount();
  for (uint32_t attempt = 0; attempt < 1000; ++attempt) {
    id_ = channel::FormatIdentifier(tick + attempt, server_index_);
    start_event_ = ipc::NamedEvent::Create(channel::StartEventName(id_));
    if (!start_event_) continue;
    param_map_ = ipc::SharedBlock::Create(channel::ParamMapName(id_), channel::kBlockBytes);
    return_map_ = param_map_ ? ipc::SharedBlock::Create(channel::ReturnMapName(id_),
                                                        channel::kBlockBytes)
                             : nullptr;
    if (param_map_ && return_map_) {
      param_view_ = param_map_->data();
      return_view_ = return_map_->data();
      return;
    }
    ReleaseNames();
    start_event_.reset();
    param_map_.reset();
    return_map_.reset();
  }
  throw ServerStartError("cannot create the channel's shared objects", id_);
}

void CMovieClient::StartServer() {
  process_info_ = ipc::ChildProcess::Spawn(options_.server_path,
                                           {options_.server_path, "/s", id_});
  if (!process_info_) throw ServerStartError("cannot start the movie server", id_);
  // Wait in slices so that a server that dies on the way is noticed at once, not at the end
  // of the time limit.
  const auto deadline = std::chrono::steady_clock::now() + options_.start_timeout;
  for (;;) {
    if (start_event_->Wait(std::chrono::milliseconds(20))) break;
    if (process_info_->WaitForExit(std::chrono::milliseconds(0))) {
      throw ServerStartError("the movie server ended before it was ready", id_);
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      process_info_->Kill();
      throw ServerStartError("the movie server did not start in time", id_);
    }
  }
  server_window_ = channel::ReadField<int32_t>(return_view_, 0);
  if (connection_.Connect(server_window_) != ipc::SendStatus::kOk ||
      connection_.Attach() != ipc::SendStatus::kOk) {
    process_info_->Kill();
    throw ServerStartError("the movie server's window cannot be reached", id_);
  }
}

void CMovieClient::ReleaseNames() {
  // Both sides keep their mappings; the names are needed only for the handshake.
  if (id_.empty()) return;
  ipc::NamedEvent::Unlink(channel::StartEventName(id_));
  ipc::SharedBlock::Unlink(channel::ParamMapName(id_));
  ipc::SharedBlock::Unlink(channel::ReturnMapName(id_));
}

CMovieClient::~CMovieClient() {
  if (process_info_ && process_info_->running()) {
    const channel::CodeOnlyParam close{channel::kClose};
    if (SendCommand(close.code, &close, sizeof close)) {
      process_info_->WaitForExit(options_.exit_timeout);
    }
    if (process_info_->running()) process_info_->Kill();
  }
  connection_.Close();
  return_view_ = nullptr;
  param_view_ = nullptr;
  return_map_.reset();
  param_map_.reset();
  start_event_.reset();
}

void CMovieClient::MarkLost() {
  lost_ = true;
  connection_.Close();
  // A server that stopped answering may still be alive (stopped, or stuck in a decoder).
  if (process_info_ && process_info_->running()) process_info_->Kill();
}

bool CMovieClient::SendCommand(int32_t code, const void* record, int32_t size_bytes) {
  if (lost_) return false;
  if (size_bytes < 0 || size_t(size_bytes) > channel::kBlockBytes) return false;
  std::memcpy(param_view_, record, size_t(size_bytes));
  const auto timeout =
      code == channel::kInitializeGraph ? options_.open_timeout : options_.command_timeout;
  if (connection_.Send(ipc::Message{uint32_t(code), 0, 0}, timeout) != ipc::SendStatus::kOk) {
    MarkLost();
    return false;
  }
  return true;
}

}  // namespace quorvex
