#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ipc/Message.h"

class QSocketNotifier;

namespace quorvex::ipc {

// The receiving end of a window: owns a handle and its listening socket, and calls the window
// procedure for every message that arrives, on the thread of the Qt event loop that owns it.
// A synchronous sender gets the procedure's return value as its reply, sent after the
// procedure has returned; replies that find the connection's socket full are queued, in order,
// and sent from the event loop as it drains. Only processes of the same user may connect: the
// socket lives in SocketDirectory(), and the peer's credentials are checked on every accept.
//
// Posted messages are delivered from the event loop only, so while this thread is blocked in
// a synchronous send of its own they wait, as posted window messages do.
class MessagePort : public QObject {
  Q_OBJECT
 public:
  using WindowProc = std::function<int64_t(const Message&)>;

  // Binds a fresh handle. Throws std::system_error when no socket can be made.
  explicit MessagePort(WindowProc proc, QObject* parent = nullptr);
  ~MessagePort() override;

  int32_t handle() const { return handle_; }

 signals:
  // A connection sent an attach frame: its process owns this window.
  void ownerAttached();
  // A connection that had sent an attach frame was closed: its process ended or let go.
  void ownerLost();

 private:
  struct Peer;
  void Accept();
  void Read(Peer* peer);
  static void Flush(Peer* peer);
  void Drop(Peer* peer);

  WindowProc proc_;
  int32_t handle_ = 0;
  int listen_fd_ = -1;
  std::string path_;  // the listening socket's file
  QSocketNotifier* listen_notifier_ = nullptr;
  std::vector<std::unique_ptr<Peer>> peers_;
};

}  // namespace quorvex::ipc
