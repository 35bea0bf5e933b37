#include "platform/media/EventQueue.h"

#include <chrono>
#include <utility>

#include "platform/ipc/MessageConnection.h"

namespace quorvex::media {

void EventQueue::Queue(GraphEvent event) {
  int32_t hwnd = 0, message = 0, instance = 0;
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    hwnd = hwnd_;
    message = message_;
    instance = instance_;
  }
  arrived_.notify_all();
  // Posted outside the lock: the transport never blocks, but it makes a system call.
  Notify(hwnd, message, instance);
}

void EventQueue::SetNotifyWindow(int32_t hwnd, int32_t message, int32_t instance) {
  bool waiting = false;
  {
    std::lock_guard lock(mutex_);
    hwnd_ = hwnd;
    message_ = message;
    instance_ = instance;
    waiting = !events_.empty();
  }
  if (waiting)
    Notify(hwnd, message, instance);
}

std::optional<GraphEvent> EventQueue::Take(int32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  const auto has_event = [this] { return !events_.empty(); };
  if (timeout_ms < 0) {
    arrived_.wait(lock, has_event);
  } else if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeout_ms), has_event)) {
    return std::nullopt;
  }
  GraphEvent event = std::move(events_.front());
  events_.pop_front();
  return event;
}

void EventQueue::Clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

void EventQueue::Notify(int32_t hwnd, int32_t message, int32_t instance) const {
  if (hwnd == 0)
    return;
  // A window that has gone or whose queue is full misses the message; the events stay queued
  // and the next notification or drain finds them.
  ipc::PostMessage(hwnd, ipc::Message{uint32_t(message), 0, instance});
}

}  // namespace quorvex::media
