// The rate-scaled clock: its arithmetic with chosen base times, then the real clock under
// GStreamer's own readings and waits; the fitting of a picture into an area.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "engine/Clock.h"
#include "engine/MovieUtils.h"

namespace quorvex {
namespace {

constexpr int64_t kMs = 1'000'000;  // nanoseconds per millisecond

// The first reading is zero; the interval closed by a reading counts at the rate of that
// reading (no jump when it changes); rate 0 stops; time never goes back. Readings come every
// few nanoseconds: truncating each increment at 1/16 would lose all of the time.
TEST(ScaledTime, FollowsTheBaseTimeAtTheRate) {
  // Base and expected time in milliseconds, rate.
  const double readings[][3] = {{0, 1, 0},    {10, 1, 10},  {50, .25, 20}, {90, .25, 30},
                                {100, 1, 40}, {110, 0, 40}, {120, 1, 50},  {100, 1, 50}};
  ScaledTime time, fine;
  for (const auto& [base, rate, expected] : readings)
    EXPECT_EQ(time.Advance(int64_t(base * kMs) + 7, rate), int64_t(expected * kMs)) << base;
  for (int64_t base = 0; base < 3'000'000; base += 3)
    fine.Advance(base, 1.0 / 16);
  EXPECT_EQ(fine.Advance(3'000'000, 1.0 / 16), 3'000'000 / 16);
}

// Backward rates are refused. Readers on many threads at once: no interval is counted twice,
// none lost. GStreamer reads and waits on the scaled time: 50 ms of clock at 1/4 are 200 ms.
TEST(Clock, ConcurrentReadersAndGStreamerWaitsRunAtTheRate) {
  media::GstRef<GstClock> gst_clock = Clock::Create("myrefclock");
  Clock* clock = Clock::From(gst_clock.get());
  clock->SetRate(-1.0);
  EXPECT_EQ(clock->GetRate(), 1.0);
  auto real_start = std::chrono::steady_clock::now();
  clock->GetPrivateTime();
  std::vector<std::jthread> readers;
  for (int i = 0; i < 4; ++i)
    readers.emplace_back([&](std::stop_token stop) {
      while (!stop.stop_requested())
        clock->GetPrivateTime();
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  readers.clear();  // asks them to stop and joins
  const double clock_time_ns = double(clock->GetPrivateTime());
  std::chrono::duration<double, std::nano> real = std::chrono::steady_clock::now() - real_start;
  EXPECT_LE(clock_time_ns, real.count());
  EXPECT_GE(clock_time_ns, real.count() - 20 * kMs);
  clock->SetRate(0.25);
  const GstClockTime start = gst_clock_get_time(gst_clock.get());
  real_start = std::chrono::steady_clock::now();
  GstClockID id = gst_clock_new_single_shot_id(gst_clock.get(), start + 50 * GST_MSECOND);
  EXPECT_EQ(gst_clock_id_wait(id, nullptr), GST_CLOCK_OK);
  gst_clock_id_unref(id);
  const double clock_ns = double(gst_clock_get_time(gst_clock.get()) - start);
  real = std::chrono::steady_clock::now() - real_start;
  EXPECT_GE(clock_ns, 50e6);
  EXPECT_NEAR(clock_ns, real.count() * 0.25, 0.01 * real.count());
}

// The largest size of the aspect that fits the area; no area or no aspect: the area itself.
TEST(CalcActualVideoSize, LargestSizeOfTheAspectThatFits) {
  const int32_t rows[][6] = {{640, 480, 16, 9, 640, 360},
                             {640, 360, 4, 3, 480, 360},
                             {123, 77, 4, 3, 102, 77},
                             {640, 480, 16, 0, 640, 480}};
  for (const auto& [area_w, area_h, aspect_x, aspect_y, width, height] : rows) {
    int32_t w = -1, h = -1;
    MovieUtils::CalcActualVideoSize(area_w, area_h, aspect_x, aspect_y, w, h);
    EXPECT_EQ(std::pair(w, h), std::pair(width, height)) << area_w << "x" << area_h;
  }
}

}  // namespace
}  // namespace quorvex
