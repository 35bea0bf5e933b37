#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace quorvex::media {

// The deadline of the command that the owner's thread is working on. The graph's waits (a
// preroll after a seek, a state change, a position that is not known yet) end by it at the
// latest, so that the command's reply goes out within the time its client allows. One per
// thread; a new one replaces the enclosing one until it goes. Without one, waits keep their
// own limits.
class CommandDeadline {
 public:
  using Clock = std::chrono::steady_clock;
  explicit CommandDeadline(Clock::duration budget);
  ~CommandDeadline();
  CommandDeadline(const CommandDeadline&) = delete;
  CommandDeadline& operator=(const CommandDeadline&) = delete;

  // `limit` cut to what is left of this thread's deadline, never below zero.
  static Clock::duration Within(Clock::duration limit);
  // The same for GStreamer's nanoseconds.
  static uint64_t WithinNs(uint64_t limit_ns);

 private:
  std::optional<Clock::time_point> enclosing_;
};

}  // namespace quorvex::media
