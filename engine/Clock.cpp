#include "engine/Clock.h"

#include <gst/gst.h>

#include <cmath>

namespace quorvex {

int64_t ScaledTime::Advance(int64_t base_ns, double rate) {
  if (!started_) {
    started_ = true;
    last_ = anchor_base_ = base_ns;
    scaled_time_ = anchor_scaled_ = 0;
    anchor_rate_ = rate;
    return 0;
  }
  if (rate != anchor_rate_) {
    // The interval since the previous reading already counts at the new rate.
    anchor_base_ = last_;
    anchor_scaled_ = scaled_time_;
    anchor_rate_ = rate;
  }
  const int64_t real = std::max<int64_t>(base_ns - anchor_base_, 0);
  scaled_time_ = std::max(scaled_time_, anchor_scaled_ + int64_t(rate * double(real)));
  last_ = std::max(last_, base_ns);
  return scaled_time_;
}

// ---- The GObject type that carries a Clock ----

struct QuorvexRateClock {
  GstSystemClock parent;
  Clock* clock;
};

struct QuorvexRateClockClass {
  GstSystemClockClass parent_class;
};

G_DEFINE_TYPE(QuorvexRateClock, quorvex_rate_clock, GST_TYPE_SYSTEM_CLOCK)

struct ClockType {
  static void Init(QuorvexRateClock* self) { self->clock = new Clock(GST_CLOCK(self)); }
  static void Finalize(GObject* object) {
    delete reinterpret_cast<QuorvexRateClock*>(object)->clock;
    G_OBJECT_CLASS(quorvex_rate_clock_parent_class)->finalize(object);
  }
  static GstClockTime InternalTime(GstClock* clock) {
    return GstClockTime(reinterpret_cast<QuorvexRateClock*>(clock)->clock->GetPrivateTime());
  }
  static GstClockTime BaseTime(GstClock* clock) {
    return GST_CLOCK_CLASS(quorvex_rate_clock_parent_class)->get_internal_time(clock);
  }
};

static void quorvex_rate_clock_class_init(QuorvexRateClockClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = &ClockType::Finalize;
  GST_CLOCK_CLASS(klass)->get_internal_time = &ClockType::InternalTime;
}

static void quorvex_rate_clock_init(QuorvexRateClock* self) {
  ClockType::Init(self);
}

// ---- Clock ----

media::GstRef<GstClock> Clock::Create(const char* name) {
  gst_init_check(nullptr, nullptr, nullptr);
  gpointer clock = g_object_new(quorvex_rate_clock_get_type(), "name", name, nullptr);
  return media::GstRef<GstClock>(GST_CLOCK(gst_object_ref_sink(clock)));
}

Clock* Clock::From(GstClock* clock) {
  if (!clock || !G_TYPE_CHECK_INSTANCE_TYPE(clock, quorvex_rate_clock_get_type()))
    return nullptr;
  return reinterpret_cast<QuorvexRateClock*>(clock)->clock;
}

int64_t Clock::GetPrivateTime() {
  const double rate = GetRate();
  std::lock_guard lock(time_lock_);
  // Read inside the lock: the base times then reach the accumulation in increasing order.
  const int64_t base_ns = int64_t(ClockType::BaseTime(owner_));
  return time_.Advance(base_ns, rate);
}

void Clock::SetRate(double rate) {
  if (!(rate >= 0.0) || std::isinf(rate))
    return;
  std::lock_guard lock(rate_lock_);
  rate_ = rate;
}

double Clock::GetRate() {
  std::lock_guard lock(rate_lock_);
  return rate_;
}

}  // namespace quorvex
