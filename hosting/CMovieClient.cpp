#include "hosting/CMovieClient.h"

#include <unistd.h>

#include <cstring>
#include <thread>

#include "engine/ChannelTerms.h"
#include "hosting/Channel.h"
#include "hosting/ChannelObjects.h"
#include "hosting/Log.h"
#include "platform/ipc/ChildProcess.h"
#include "platform/ipc/MessageConnection.h"
#include "platform/ipc/MessagePort.h"
#include "platform/ipc/NamedEvent.h"
#include "platform/ipc/SharedBlock.h"
#include "platform/ipc/SocketDirectory.h"
#include "platform/ipc/Tick.h"

namespace quorvex {

int32_t CMovieClient::server_index_ = 0;

namespace {

std::string OwnExecutable() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0)
    return "/proc/self/exe";
  return std::string(buf, size_t(n));
}

}  // namespace

CMovieClient::CMovieClient() : CMovieClient(ClientOptions{}) {}

CMovieClient::CMovieClient(const ClientOptions& options, Start start)
    : options_(options), connection_(std::make_unique<ipc::MessageConnection>()) {
  if (options_.server_path.empty())
    options_.server_path = OwnExecutable();
  CreateChannelObjects();
  try {
    SpawnServer();
  } catch (...) {
    ReleaseNames();
    throw;
  }
  if (start == Start::kWait)
    WaitUntilStarted();
}

void CMovieClient::CreateChannelObjects() {
  // Another user-interface process may have formed the same identifier in the same
  // millisecond: O_EXCL refuses its names, and the next tick value gives fresh ones.
  const uint32_t tick = ipc::GetTickCount();
  for (uint32_t attempt = 0; attempt < 1000; ++attempt) {
    id_ = channel::FormatIdentifier(tick + attempt, server_index_);
    channel::Objects objects = channel::Objects::Create(id_);
    if (objects.complete()) {
      start_event_ = std::move(objects.start_event);
      param_map_ = std::move(objects.param_map);
      return_map_ = std::move(objects.return_map);
      param_view_ = param_map_->data();
      return_view_ = return_map_->data();
      return;
    }
  }
  throw ServerStartError("cannot create the channel's shared objects", id_);
}

void CMovieClient::SpawnServer() {
  // The server's window goes into our socket directory, where this process can reach it.
  const std::string& sockets = ipc::SocketDirectory();
  if (sockets.empty())
    throw ServerStartError("cannot make a private directory for the movie windows", id_);
  auto child =
      ipc::ChildProcess::Spawn(options_.server_path, {options_.server_path, "/s", id_},
                               {std::string(ipc::kSocketDirectoryVariable) + "=" + sockets});
  if (!child)
    throw ServerStartError("cannot start the movie server", id_);
  process_info_ = std::make_unique<ipc::ChildProcess>(std::move(*child));
}

void CMovieClient::WaitUntilStarted() {
  if (started_)
    return;
  started_ = true;  // once: a failed start is not waited for again
  try {
    // Wait in slices so that a server that dies on the way is noticed at once, not at the
    // end of the time limit.
    const auto deadline = std::chrono::steady_clock::now() + options_.start_timeout;
    for (;;) {
      if (start_event_->Wait(std::chrono::milliseconds(20)))
        break;
      if (process_info_->WaitForExit(std::chrono::milliseconds(0)))
        throw ServerStartError("the movie server ended before it was ready", id_);
      if (std::chrono::steady_clock::now() >= deadline) {
        process_info_->Kill();
        throw ServerStartError("the movie server did not start in time", id_);
      }
    }
    server_window_ = channel::ReadField<int32_t>(return_view_, 0);
    if (connection_->Connect(server_window_) != ipc::SendStatus::kOk ||
        connection_->Attach() != ipc::SendStatus::kOk) {
      process_info_->Kill();
      throw ServerStartError("the movie server's window cannot be reached", id_);
    }
  } catch (...) {
    ReleaseNames();
    lost_ = true;
    throw;
  }
  ReleaseNames();
  ++server_index_;
}

void CMovieClient::ReleaseNames() {
  // Both sides keep their mappings; the names are needed only for the handshake.
  if (!id_.empty())
    channel::RemoveNames(id_);
}

CMovieClient::~CMovieClient() {
  events_ = {};  // a loss found while closing is nobody's news
  if (!started_)
    ReleaseNames();  // never waited for: the handshake's names are still there
  if (process_info_ && process_info_->running()) {
    const channel::CodeOnlyParam close{channel::kClose};
    if (SendCommand(close.code, &close, sizeof close)) {
      process_info_->WaitForExit(options_.exit_timeout);
    }
    if (process_info_->running())
      process_info_->Kill();
  }
  connection_->Close();
  port_.reset();
  return_view_ = nullptr;
  param_view_ = nullptr;
  return_map_.reset();
  param_map_.reset();
  start_event_.reset();
}

pid_t CMovieClient::server_pid() const {
  return process_info_ ? process_info_->pid() : -1;
}

void CMovieClient::SetEvents(ClientEvents events) {
  events_ = std::move(events);
}

int32_t CMovieClient::WatchGraphEvents() {
  if (!port_) {
    try {
      port_ = std::make_unique<ipc::MessagePort>([this](const ipc::Message& m) {
        if (m.code == uint32_t(channel::kGraphNotify))
          OnGraphNotice();
        return int64_t(0);
      });
    } catch (const std::exception&) {
      return media::E_OUTOFMEMORY;  // no socket for the window: the caller gives up the movie
    }
  }
  return SetNotifyWindow(port_->handle(), channel::kGraphNotify, 0);
}

void CMovieClient::OnGraphNotice() {
  GraphNotifyProc();
  if (!lost_ && events_.reached_end)
    events_.reached_end();
}

void CMovieClient::MarkLost() {
  if (lost_)
    return;
  lost_ = true;
  connection_->Close();
  // A server that stopped answering may still be alive (stopped, or stuck in a decoder).
  if (process_info_ && process_info_->running())
    process_info_->Kill();
  if (events_.lost)
    events_.lost();
}

bool CMovieClient::SendCommand(int32_t code, const void* record, int32_t size_bytes) {
  return BeginCommand(code, record, size_bytes) && EndCommand();
}

bool CMovieClient::BeginCommand(int32_t code, const void* record, int32_t size_bytes) {
  // The parameter block is the server's until it has replied. An open's reply belongs to
  // EndInitializeGraph alone; another pending reply is waited for first.
  if (pending_code_ == channel::kInitializeGraph)
    return false;
  if (pending_code_ != 0)
    EndCommand();
  if (lost_ || !started_)
    return false;
  if (size_bytes < 0 || size_t(size_bytes) > channel::kBlockBytes)
    return false;
  std::memcpy(param_view_, record, size_t(size_bytes));
  if (const ipc::SendStatus status = connection_->Start(ipc::Message{uint32_t(code), 0, 0});
      status != ipc::SendStatus::kOk) {
    LogLoss(code, status);
    MarkLost();
    return false;
  }
  pending_code_ = code;
  return true;
}

bool CMovieClient::EndCommand() {
  const int32_t code = pending_code_;
  pending_code_ = 0;
  if (lost_ || code == 0)
    return false;
  const auto timeout =
      code == channel::kInitializeGraph ? options_.open_timeout : options_.command_timeout;
  if (const ipc::SendStatus status = connection_->Finish(timeout); status != ipc::SendStatus::kOk) {
    LogLoss(code, status);
    MarkLost();
    return false;
  }
  return true;
}

void CMovieClient::LogLoss(int32_t code, ipc::SendStatus status) const {
  const char* why = status == ipc::SendStatus::kTimedOut   ? "it did not reply in time"
                    : status == ipc::SendStatus::kPeerGone ? "it closed its end or died"
                                                           : "its window is gone";
  qCWarning(ChannelLog, "the movie server %s lost at command 0x%x: %s", id_.c_str(), unsigned(code),
            why);
}

}  // namespace quorvex

namespace quorvex {

using media::E_ABORT;
using media::E_POINTER;

namespace ch = channel;

template <typename Cmd>
std::optional<typename Cmd::Reply> CMovieClient::Call(typename Cmd::Param record) {
  record.code = Cmd::code;
  if (!SendCommand(Cmd::code, &record, sizeof record))
    return std::nullopt;
  return ch::ReadRecord<typename Cmd::Reply>(return_view_);
}

bool CMovieClient::InitializeGraph(const char16_t* file_name, int32_t owner_window) {
  return BeginInitializeGraph(file_name, owner_window) && EndInitializeGraph();
}

bool CMovieClient::BeginInitializeGraph(const char16_t* file_name, int32_t owner_window) {
  if (file_name == nullptr)
    return false;
  // A path that does not fit the record with its terminator is refused here: truncating it
  // would open another file.
  const size_t units = std::char_traits<char16_t>::length(file_name);
  if (units >= ch::kMaxPathUnits)
    return false;
  ch::InitializeGraph::Param p{};
  p.code = ch::InitializeGraph::code;
  std::memcpy(p.path, file_name, (units + 1) * sizeof(char16_t));
  p.owner_window = owner_window;
  return BeginCommand(p.code, &p, sizeof p);
}

bool CMovieClient::EndInitializeGraph() {
  return pending_code_ == ch::InitializeGraph::code && EndCommand() &&
         ch::ReadRecord<ch::InitializeGraph::Reply>(return_view_).value != 0;
}

void CMovieClient::SetVideoSize(int32_t width, int32_t height) {
  Call<ch::SetVideoSize>({.width = width, .height = height});
}

void CMovieClient::GraphNotifyProc() {
  Call<ch::GraphNotifyProc>();
}

void CMovieClient::SetRate(double rate) {
  Call<ch::SetRate>({.rate = rate});
}

double CMovieClient::GetRate() {
  const auto reply = Call<ch::GetRate>();
  return reply ? reply->rate : 0.0;
}

void CMovieClient::Pause() {
  Call<ch::Pause>();
}
void CMovieClient::Run() {
  Call<ch::Run>();
}
void CMovieClient::Stop() {
  Call<ch::Stop>();
}

bool CMovieClient::IsPlaying() {
  const auto reply = Call<ch::IsPlaying>();
  return reply && reply->value != 0;
}

void CMovieClient::EnablePitchShift(bool enable) {
  Call<ch::EnablePitchShift>({.enable = uint8_t(enable ? 1 : 0)});
}

void CMovieClient::GetAspectRatio(int32_t& x, int32_t& y) {
  if (const auto reply = Call<ch::GetAspectRatio>()) {
    x = reply->x;
    y = reply->y;
  }
}

int32_t CMovieClient::SetNotifyWindow(int32_t hwnd, int32_t message, int32_t instance) {
  const auto reply =
      Call<ch::SetNotifyWindow>({.window = hwnd, .message = message, .instance = instance});
  return reply ? reply->result : E_ABORT;
}

namespace {

// GetDuration and GetCurrentPosition: the value is stored even with a failure code (the
// server then replies 0), as the caller may rely on it being written.
int32_t ValueQuery(const std::optional<ch::ValueReply>& reply, int64_t* out) {
  if (!reply)
    return E_ABORT;
  *out = reply->value_units;
  return reply->result;
}

}  // namespace

int32_t CMovieClient::GetDuration(int64_t* duration_units) {
  if (duration_units == nullptr)
    return E_POINTER;
  return ValueQuery(Call<ch::GetDuration>(), duration_units);
}

int32_t CMovieClient::GetCurrentPosition(int64_t* position_units) {
  if (position_units == nullptr)
    return E_POINTER;
  return ValueQuery(Call<ch::GetCurrentPosition>(), position_units);
}

int32_t CMovieClient::SetPositions(int64_t* current_units, uint32_t current_flags,
                                   int64_t* stop_units, uint32_t stop_flags) {
  const auto reply = Call<ch::SetPositions>({.current_given = current_units != nullptr,
                                             .current_units = current_units ? *current_units : 0,
                                             .current_flags = current_flags,
                                             .stop_given = stop_units != nullptr,
                                             .stop_units = stop_units ? *stop_units : 0,
                                             .stop_flags = stop_flags});
  if (!reply)
    return E_ABORT;
  if (current_units != nullptr)
    *current_units = reply->current_units;
  if (stop_units != nullptr)
    *stop_units = reply->stop_units;
  return reply->result;
}

int32_t CMovieClient::put_Volume(int32_t volume) {
  const auto reply = Call<ch::PutVolume>({.volume = volume});
  return reply ? reply->result : E_ABORT;
}

int32_t CMovieClient::StepFrames(int32_t frames) {
  const auto reply = Call<ch::StepFrames>({.frames = frames});
  return reply ? reply->result : E_ABORT;
}

int32_t CMovieClient::SetZoom(int32_t left, int32_t top, int32_t width, int32_t height) {
  const auto reply =
      Call<ch::SetZoom>({.left = left, .top = top, .width = width, .height = height});
  return reply ? reply->result : E_ABORT;
}

int32_t CMovieClient::FindStartSound() {
  const auto reply = Call<ch::FindStartSound>();
  return reply ? reply->result : E_ABORT;
}

void CMovieClient::CancelStartSound() {
  Call<ch::CancelStartSound>();
}

int32_t CMovieClient::GetStartSound(int64_t* onset_units) {
  const auto reply = Call<ch::GetStartSound>();
  if (!reply)
    return ch::kStartSoundFailed;
  if (onset_units)
    *onset_units = reply->onset_units;
  return reply->state;
}

}  // namespace quorvex
