#pragma once

// The rate-scaled reference clock that slows a whole movie graph: its time runs at `rate`
// times real time, starts at 0 at its first reading and stays continuous across rate changes.
//
// A Clock lives inside a GstClock (a GstSystemClock subclass whose internal time is the scaled
// time), created by Clock::Create and kept alive by GStreamer's references: whoever holds a
// reference to the GstClock (the graph, once installed as its clock) keeps the Clock alive.
// The system clock's waits re-read the time after each early wake-up, so they still fire when
// the scaled time reaches them at rates below 1.
//
// Threads: SetRate and GetRate on the owner's thread; GetPrivateTime on any thread (every
// clock query of the graph's threads and every wake-up of a wait).

#include <cstdint>
#include <mutex>

#include "platform/media/GstRef.h"

namespace quorvex {

// The arithmetic of the scaled time, apart from the clock so that it can be driven with
// chosen base times. Times in nanoseconds; not thread-safe (Clock serialises it).
//
// Each interval between two readings is scaled by the rate given at the reading that closes
// it. The scaled time is kept relative to the reading where the rate last changed, so the
// truncation to whole nanoseconds is never accumulated: many short intervals at 1/16 add up to
// exactly what one long interval gives.
class ScaledTime {
 public:
  // Advances to `base_ns` (never lower than at the previous call) at `rate` (>= 0) and
  // returns the scaled time. The first call returns 0.
  int64_t Advance(int64_t base_ns, double rate);

 private:
  bool started_ = false;
  int64_t last_ = 0;         // base time of the previous reading
  int64_t scaled_time_ = 0;  // the clock's time at the previous reading
  int64_t anchor_base_ = 0;  // base time of the reading where the rate last changed
  int64_t anchor_scaled_ = 0;
  double anchor_rate_ = 1.0;
};

class Clock {
 public:
  // A new clock object named `name` with rate 1.0; the caller holds the one reference.
  static media::GstRef<GstClock> Create(const char* name);
  // The Clock inside a GstClock made by Create; null for any other clock.
  static Clock* From(GstClock* clock);

  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;

  // The scaled time in nanoseconds: 0 at the first reading, then advancing by rate times the
  // base private time (the system's monotonic time). Serialised between all callers, so that
  // no interval is counted twice or lost.
  int64_t GetPrivateTime();

  // Takes effect at the next reading. A rate that is negative or not a number is ignored:
  // the time must never run backwards. 0 stops the time.
  void SetRate(double rate);
  double GetRate();

  GstClock* gst_clock() const { return owner_; }

 private:
  friend struct ClockType;
  explicit Clock(GstClock* owner) : owner_(owner) {}
  ~Clock() = default;

  GstClock* owner_;  // the GstClock that owns this object

  std::mutex rate_lock_;
  double rate_ = 1.0;  // guarded by rate_lock_

  std::mutex time_lock_;  // serialises the base reading with the accumulation
  ScaledTime time_;       // guarded by time_lock_
};

}  // namespace quorvex
