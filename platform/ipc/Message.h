#pragma once

#include <cstdint>
#include <string>

namespace quorvex::ipc {

// A window message between processes. Handles are positive 32-bit values; the receiving
// window listens on a SOCK_SEQPACKET socket named after its handle in SocketDirectory(), a
// directory only this user can enter.
struct Message {
  uint32_t code = 0;
  int64_t wparam = 0;
  int64_t lparam = 0;
};

// On the wire: one datagram per frame, little-endian host order (both ends are one build).
enum class FrameKind : uint32_t {
  kSend = 1,    // the sender waits for a Reply
  kPost = 2,    // no reply
  kAttach = 3,  // marks the connection as the owner's: the receiver is told when it closes
};

struct Frame {
  FrameKind kind;
  uint32_t code;
  uint64_t seq;
  int64_t wparam;
  int64_t lparam;
};
static_assert(sizeof(Frame) == 32);

struct Reply {
  uint64_t seq;
  int64_t result;
};
static_assert(sizeof(Reply) == 16);

// The socket file of a window handle; empty when there is no socket directory.
std::string SocketNameForHandle(int32_t handle);

}  // namespace quorvex::ipc
