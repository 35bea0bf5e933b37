#include "platform/ipc/MessagePort.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <system_error>

#include "platform/ipc/SocketAddress.h"
#include "platform/ipc/SocketDirectory.h"

namespace quorvex::ipc {

std::string SocketNameForHandle(int32_t handle) {
  const std::string& dir = SocketDirectory();
  return dir.empty() ? std::string() : dir + "/" + std::to_string(handle);
}

struct MessagePort::Peer {
  int fd = -1;
  bool owner = false;
  std::unique_ptr<QSocketNotifier> notifier;
  // Replies the full socket did not take yet, oldest first; `writable` is enabled while there
  // are any.
  std::deque<Reply> unsent;
  std::unique_ptr<QSocketNotifier> writable;
};

namespace {

// Handles are (pid << 8 | n): unique among this user's processes while the window lives, since
// the bind of the name is what reserves them. pid_max is at most 2^22, so they stay positive.
std::atomic<uint32_t> g_next_window{0};

// A socket file nobody listens on: left by a process of ours that ended without removing it
// (the handle holds a process id that has been used again).
bool IsStale(const SocketAddress& addr) {
  const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (probe < 0)
    return false;
  const bool refused = connect(probe, addr.sockaddr(), addr.length()) != 0 && errno == ECONNREFUSED;
  close(probe);
  return refused;
}

}  // namespace

MessagePort::MessagePort(WindowProc proc, QObject* parent)
    : QObject(parent), proc_(std::move(proc)) {
  listen_fd_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listen_fd_ < 0)
    throw std::system_error(errno, std::generic_category(), "socket");
  const uint32_t pid_part = uint32_t(getpid()) & 0x7FFFFFu;
  for (int attempt = 0; attempt < 256; ++attempt) {
    const uint32_t n = g_next_window.fetch_add(1) & 0xFFu;
    const int32_t handle = int32_t((pid_part << 8) | n);
    if (handle <= 0)
      continue;
    const std::string name = SocketNameForHandle(handle);
    if (name.empty()) {
      errno = ENOENT;
      break;
    }
    const SocketAddress addr(name);
    bool bound = bind(listen_fd_, addr.sockaddr(), addr.length()) == 0;
    if (!bound && errno == EADDRINUSE && IsStale(addr) && unlink(name.c_str()) == 0)
      bound = bind(listen_fd_, addr.sockaddr(), addr.length()) == 0;
    if (bound) {
      handle_ = handle;
      path_ = name;
      break;
    }
    if (errno != EADDRINUSE)
      break;
  }
  if (handle_ == 0 || listen(listen_fd_, 64) != 0) {
    const int err = errno;
    close(listen_fd_);
    if (!path_.empty())
      unlink(path_.c_str());
    throw std::system_error(err, std::generic_category(), "bind window socket");
  }
  listen_notifier_ = new QSocketNotifier(listen_fd_, QSocketNotifier::Read, this);
  connect(listen_notifier_, &QSocketNotifier::activated, this, [this] { Accept(); });
}

MessagePort::~MessagePort() {
  peers_.clear();  // notifiers go before their descriptors are closed
  delete listen_notifier_;
  close(listen_fd_);
  unlink(path_.c_str());
}

void MessagePort::Accept() {
  for (;;) {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
      return;  // EAGAIN: no more pending connections
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid()) {
      close(fd);
      continue;
    }
    auto peer = std::make_unique<Peer>();
    peer->fd = fd;
    peer->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    Peer* raw = peer.get();
    connect(peer->notifier.get(), &QSocketNotifier::activated, this, [this, raw] { Read(raw); });
    peer->writable = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    peer->writable->setEnabled(false);
    connect(peer->writable.get(), &QSocketNotifier::activated, this, [raw] { Flush(raw); });
    peers_.push_back(std::move(peer));
  }
}

void MessagePort::Read(Peer* peer) {
  for (;;) {
    Frame frame{};
    const ssize_t n = recv(peer->fd, &frame, sizeof frame, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
      return;
    if (n <= 0) {  // closed, reset, or broken
      Drop(peer);
      return;
    }
    if (size_t(n) != sizeof frame)
      continue;  // not one of ours: ignore it
    switch (frame.kind) {
      case FrameKind::kAttach:
        peer->owner = true;
        emit ownerAttached();
        break;
      case FrameKind::kPost:
        proc_(Message{frame.code, frame.wparam, frame.lparam});
        break;
      case FrameKind::kSend: {
        // A reply the full socket cannot take now waits for it: dropped, it would make the
        // sender give up on a window that is well.
        peer->unsent.push_back({frame.seq, proc_(Message{frame.code, frame.wparam, frame.lparam})});
        Flush(peer);
        break;
      }
      default:
        break;
    }
  }
}

void MessagePort::Flush(Peer* peer) {
  while (!peer->unsent.empty()) {
    const ssize_t n =
        send(peer->fd, &peer->unsent.front(), sizeof(Reply), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      break;
    // Sent, or the sender has gone: its closed connection is seen by the read side.
    peer->unsent.pop_front();
  }
  peer->writable->setEnabled(!peer->unsent.empty());
}

void MessagePort::Drop(Peer* peer) {
  const bool owner = peer->owner;
  for (auto it = peers_.begin(); it != peers_.end(); ++it) {
    if (it->get() == peer) {
      // The notifier is deleted later: we may be inside its activated() signal.
      (*it)->notifier->setEnabled(false);
      (*it)->notifier.release()->deleteLater();
      (*it)->writable->setEnabled(false);
      (*it)->writable.release()->deleteLater();
      close((*it)->fd);
      peers_.erase(it);
      break;
    }
  }
  if (owner)
    emit ownerLost();
}

}  // namespace quorvex::ipc
