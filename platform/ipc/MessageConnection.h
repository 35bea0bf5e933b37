#pragma once

#include <chrono>
#include <cstdint>

#include "platform/ipc/Message.h"

namespace quorvex::ipc {

enum class SendStatus {
  kOk,
  kNoWindow,  // nobody listens on that handle
  kPeerGone,  // the receiver closed or died
  kTimedOut,  // no reply in time; the connection is closed, a late reply is never read
};

// A connection from this process to one window of another process. Used on one thread.
class MessageConnection {
 public:
  MessageConnection() = default;
  ~MessageConnection();
  MessageConnection(const MessageConnection&) = delete;
  MessageConnection& operator=(const MessageConnection&) = delete;

  // Connects to the window `handle`. kOk or kNoWindow.
  SendStatus Connect(int32_t handle);
  bool connected() const { return fd_ >= 0; }
  void Close();

  // Sends `message` and waits until the receiver's window procedure has returned, at most
  // `timeout`. On kOk `*result` (when given) holds the procedure's return value. On any
  // failure the connection is closed.
  SendStatus Send(const Message& message, std::chrono::milliseconds timeout,
                  int64_t* result = nullptr);
  // Send in two halves, so that one thread can have messages to several receivers handled at
  // the same time: Start writes `message`, Finish waits for its reply as Send does. One
  // message at a time per connection: a Start before the last one's Finish forgets that one.
  SendStatus Start(const Message& message);
  SendStatus Finish(std::chrono::milliseconds timeout, int64_t* result = nullptr);
  // Tells the receiver that this connection is its owner (see MessagePort::ownerLost).
  SendStatus Attach();

 private:
  SendStatus Write(const Frame& frame);

  int fd_ = -1;
  uint64_t next_seq_ = 1;
  uint64_t awaited_seq_ = 0;  // the reply Finish waits for; 0: none
};

// Queues `message` for the window `handle` without waiting. False when the window is gone
// or its queue is full; never blocks.
bool PostMessage(int32_t handle, const Message& message);

}  // namespace quorvex::ipc
