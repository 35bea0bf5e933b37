#include "platform/ipc/NamedEvent.h"

#include <fcntl.h>
#include <time.h>

#include <cerrno>

namespace quorvex::ipc {

std::unique_ptr<NamedEvent> NamedEvent::Create(const std::string& name) {
  sem_t* sem = sem_open(name.c_str(), O_CREAT | O_EXCL, 0600, 0);
  if (sem == SEM_FAILED)
    return nullptr;
  return std::unique_ptr<NamedEvent>(new NamedEvent(sem));
}

std::unique_ptr<NamedEvent> NamedEvent::Open(const std::string& name) {
  sem_t* sem = sem_open(name.c_str(), 0);
  if (sem == SEM_FAILED)
    return nullptr;
  return std::unique_ptr<NamedEvent>(new NamedEvent(sem));
}

void NamedEvent::Unlink(const std::string& name) {
  sem_unlink(name.c_str());
}

NamedEvent::~NamedEvent() {
  sem_close(sem_);
}

void NamedEvent::Signal() {
  sem_post(sem_);
}

bool NamedEvent::Wait(std::chrono::milliseconds timeout) {
  // sem_clockwait takes CLOCK_MONOTONIC, so a change of the wall clock cannot stretch the wait.
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
  deadline.tv_sec += ns / 1000000000;
  deadline.tv_nsec += ns % 1000000000;
  if (deadline.tv_nsec >= 1000000000) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000;
  }
  for (;;) {
    if (sem_clockwait(sem_, CLOCK_MONOTONIC, &deadline) == 0)
      return true;
    if (errno != EINTR)
      return false;
  }
}

}  // namespace quorvex::ipc
