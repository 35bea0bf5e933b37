#pragma once

#include <string>

namespace quorvex::ipc {

// The environment variable through which a process hands its socket directory to the
// processes it starts, so that both ends of a channel find the same directory.
inline constexpr char kSocketDirectoryVariable[] = "QUORVEX_SOCKET_DIR";

// The directory the windows' sockets live in: one only this user can enter (owned by this
// user, mode 0700, a real directory and no link), so that no other user can reach a window,
// bind its name before it or guess their way in. Chosen once per process: the directory
// handed down by the parent when it is such a directory, else "quorvex" in $XDG_RUNTIME_DIR,
// else a fresh private directory under /tmp (removed at exit once empty). Empty when none can
// be had; then no window can be made or reached.
const std::string& SocketDirectory();

// The choice itself, made anew from the current environment on every call (tests);
// `made_temporary` tells whether it made a new directory under /tmp.
std::string MakeSocketDirectory(bool* made_temporary = nullptr);

// Whether `path` is a directory that only this user can enter: lstat says a directory (not a
// link), owned by the effective user, without group or other permissions.
bool IsPrivateDirectory(const std::string& path);

}  // namespace quorvex::ipc
