#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace quorvex::ipc {

// sockaddr_un for a socket file's path (no longer than sun_path leaves room for).
class SocketAddress {
 public:
  explicit SocketAddress(const std::string& name) {
    addr_.sun_family = AF_UNIX;
    const size_t n = std::min(name.size(), sizeof addr_.sun_path);
    std::memcpy(addr_.sun_path, name.data(), n);
    length_ = socklen_t(offsetof(sockaddr_un, sun_path) + n);
  }
  const ::sockaddr* sockaddr() const { return reinterpret_cast<const ::sockaddr*>(&addr_); }
  socklen_t length() const { return length_; }

 private:
  sockaddr_un addr_{};
  socklen_t length_ = 0;
};

}  // namespace quorvex::ipc
