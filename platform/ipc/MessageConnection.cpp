#include "platform/ipc/MessageConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ipc/SocketAddress.h"

namespace quorvex::ipc {
namespace {

int ConnectTo(int32_t handle, int extra_flags) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | extra_flags, 0);
  if (fd < 0)
    return -1;
  const std::string name = SocketNameForHandle(handle);
  const SocketAddress addr(name);
  // The window must be one of this user's: the directory sees to that, the listener's
  // credentials make sure of it.
  ucred cred{};
  socklen_t len = sizeof cred;
  if (name.empty() || connect(fd, addr.sockaddr(), addr.length()) != 0 ||
      getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid()) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

MessageConnection::~MessageConnection() {
  Close();
}

void MessageConnection::Close() {
  if (fd_ >= 0)
    close(fd_);
  fd_ = -1;
}

SendStatus MessageConnection::Connect(int32_t handle) {
  Close();
  if (handle <= 0)
    return SendStatus::kNoWindow;
  fd_ = ConnectTo(handle, 0);
  return fd_ >= 0 ? SendStatus::kOk : SendStatus::kNoWindow;
}

SendStatus MessageConnection::Write(const Frame& frame) {
  if (fd_ < 0)
    return SendStatus::kPeerGone;
  ssize_t n;
  do {
    n = send(fd_, &frame, sizeof frame, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n != ssize_t(sizeof frame)) {
    Close();
    return SendStatus::kPeerGone;
  }
  return SendStatus::kOk;
}

SendStatus MessageConnection::Attach() {
  return Write(Frame{FrameKind::kAttach, 0, next_seq_++, 0, 0});
}

SendStatus MessageConnection::Send(const Message& message, std::chrono::milliseconds timeout,
                                   int64_t* result) {
  const SendStatus s = Start(message);
  return s == SendStatus::kOk ? Finish(timeout, result) : s;
}

SendStatus MessageConnection::Start(const Message& message) {
  const uint64_t seq = next_seq_++;
  awaited_seq_ = 0;
  const SendStatus s =
      Write(Frame{FrameKind::kSend, message.code, seq, message.wparam, message.lparam});
  if (s == SendStatus::kOk)
    awaited_seq_ = seq;
  return s;
}

SendStatus MessageConnection::Finish(std::chrono::milliseconds timeout, int64_t* result) {
  if (fd_ < 0 || awaited_seq_ == 0)
    return SendStatus::kPeerGone;
  const uint64_t seq = awaited_seq_;
  awaited_seq_ = 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      Close();
      return SendStatus::kTimedOut;
    }
    pollfd p{fd_, POLLIN, 0};
    const int r = poll(&p, 1, int(left.count()));
    if (r < 0 && errno == EINTR)
      continue;
    if (r == 0)
      continue;  // the deadline check above ends it
    Reply reply{};
    const ssize_t n = recv(fd_, &reply, sizeof reply, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
      continue;
    if (n != ssize_t(sizeof reply)) {  // closed, reset (a killed receiver), or garbage
      Close();
      return SendStatus::kPeerGone;
    }
    if (reply.seq != seq)
      continue;  // a reply to nothing we wait for
    if (result != nullptr)
      *result = reply.result;
    return SendStatus::kOk;
  }
}

bool PostMessage(int32_t handle, const Message& message) {
  if (handle <= 0)
    return false;
  const int fd = ConnectTo(handle, SOCK_NONBLOCK);
  if (fd < 0)
    return false;
  const Frame frame{FrameKind::kPost, message.code, 0, message.wparam, message.lparam};
  const bool ok = send(fd, &frame, sizeof frame, MSG_NOSIGNAL | MSG_DONTWAIT) == sizeof frame;
  close(fd);
  return ok;
}

}  // namespace quorvex::ipc
