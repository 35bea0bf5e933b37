#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::ipc {

// A child process started with posix_spawn. The owner must end it: WaitForExit until it has
// exited, or Kill. The destructor kills and reaps a child that is still there, so no zombie
// and no orphan outlives the owner.
class ChildProcess {
 public:
  // Starts `path` with `args` (args[0] is the program name) in the caller's environment and
  // directory; `env` entries ("NAME=value") are added to that environment, replacing a variable
  // of the same name. Returns nullopt when the process cannot be started.
  static std::optional<ChildProcess> Spawn(const std::string& path,
                                           const std::vector<std::string>& args,
                                           const std::vector<std::string>& env = {});

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  // Waits at most `timeout` for the exit and reaps the child. Returns its exit status as
  // waitpid reports it, or nullopt when it is still running.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  // True until the child has been reaped.
  bool running() const { return pid_ > 0 && !status_; }
  // SIGKILL, then wait at most `timeout` for the exit and reap the child. Returns its exit
  // status, or nullopt when it has not gone in time (stuck in the kernel, or its exit held by a
  // tracer): a detached thread then reaps it whenever it goes, and running() is false anyway,
  // so that the caller (the UI thread) never hangs on it and no zombie stays.
  std::optional<int> Kill(std::chrono::milliseconds timeout = std::chrono::seconds(2));

 private:
  ChildProcess(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
  void Release();
  bool TryReap();

  pid_t pid_ = -1;
  int pidfd_ = -1;             // -1 where the kernel has no pidfd_open; then the wait polls
  std::optional<int> status_;  // -1 also when the child was reaped elsewhere or handed off
};

}  // namespace quorvex::ipc
