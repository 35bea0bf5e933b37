#pragma once

#include <semaphore.h>

#include <chrono>
#include <memory>
#include <string>

namespace quorvex::ipc {

// A named, auto-reset, one-shot event between two processes of the same user, on a POSIX
// named semaphore. Names start with '/' and hold no other '/'.
class NamedEvent {
 public:
  // Creates a new event, not signalled, mode 0600. Returns null when the name already exists
  // (EEXIST) or cannot be created; errno tells which.
  static std::unique_ptr<NamedEvent> Create(const std::string& name);
  // Opens an existing event; null when there is none.
  static std::unique_ptr<NamedEvent> Open(const std::string& name);
  // Removes the name; processes that hold the event keep it. Missing names are not an error.
  static void Unlink(const std::string& name);

  ~NamedEvent();
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  void Signal();
  // Waits until signalled (consuming the signal) or until the time-out; true when signalled.
  bool Wait(std::chrono::milliseconds timeout);

 private:
  explicit NamedEvent(sem_t* sem) : sem_(sem) {}
  sem_t* sem_;
};

}  // namespace quorvex::ipc
