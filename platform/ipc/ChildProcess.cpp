#include "platform/ipc/ChildProcess.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <system_error>
#include <thread>

extern char** environ;

namespace quorvex::ipc {
namespace {

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  return int(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

}  // namespace

std::optional<ChildProcess> ChildProcess::Spawn(const std::string& path,
                                                const std::vector<std::string>& args,
                                                const std::vector<std::string>& env) {
  std::vector<char*> argv;
  for (const auto& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry(*e);
    const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& added) {
      const size_t eq = added.find('=');
      return eq != std::string::npos && entry.substr(0, eq + 1) == added.substr(0, eq + 1);
    });
    if (!replaced)
      envp.push_back(*e);
  }
  for (const auto& e : env)
    envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) {
    return std::nullopt;
  }
  return ChildProcess(pid, OpenPidfd(pid));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), pidfd_(other.pidfd_), status_(other.status_) {
  other.pid_ = -1;
  other.pidfd_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Release();
    pid_ = other.pid_;
    pidfd_ = other.pidfd_;
    status_ = other.status_;
    other.pid_ = -1;
    other.pidfd_ = -1;
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  Release();
}

void ChildProcess::Release() {
  if (running())
    Kill();
  if (pidfd_ >= 0)
    close(pidfd_);
  pidfd_ = -1;
  pid_ = -1;
}

bool ChildProcess::TryReap() {
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = status;
    return true;
  }
  if (r < 0 && errno == ECHILD) {  // reaped elsewhere: nothing left to wait for
    status_ = -1;
    return true;
  }
  return false;
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (pid_ <= 0)
    return std::nullopt;
  if (status_)
    return status_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (TryReap())
      return status_;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return std::nullopt;
    if (pidfd_ >= 0) {
      pollfd p{pidfd_, POLLIN, 0};
      // Readable once the child has exited; a tracer can still hold the exit from us, and
      // then the wait goes on in slices instead of spinning on the ready descriptor.
      if (poll(&p, 1, int(left.count())) <= 0)
        continue;
      if (TryReap())
        return status_;
    }
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(2)));
  }
}

std::optional<int> ChildProcess::Kill(std::chrono::milliseconds timeout) {
  if (!running())
    return status_;
  kill(pid_, SIGKILL);
  if (const std::optional<int> status = WaitForExit(timeout))
    return status;
  try {
    std::thread([pid = pid_] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the child stays a zombie until this process ends.
  }
  status_ = -1;
  return std::nullopt;
}

}  // namespace quorvex::ipc
