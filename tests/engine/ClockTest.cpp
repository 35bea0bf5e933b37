// The rate-scaled clock: its arithmetic with chosen base times, then the real clock under
// GStreamer's own readings and waits; the fitting of a picture into an area.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <tuple>
#include <vector>

#include "engine/Clock.h"
#include "engine/MovieUtils.h"

namespace quorvex {
namespace {

constexpr int64_t kMs = 10'000;  // 100 ns units per millisecond

struct ScaledTimeCase {
  const char* name;
  std::vector<std::tuple<int64_t, double, int64_t>> readings;  // base, rate, expected time
};

class ScaledTimeTest : public testing::TestWithParam<ScaledTimeCase> {};

TEST_P(ScaledTimeTest, FollowsTheBaseTimeAtTheRate) {
  ScaledTime time;
  for (auto [base, rate, expected] : GetParam().readings)
    EXPECT_EQ(time.Advance(base, rate), expected) << "at base " << base;
}

INSTANTIATE_TEST_SUITE_P(
    Readings, ScaledTimeTest,
    testing::Values(
        ScaledTimeCase{"FirstReadingIsZero", {{987'654'321, 1.0, 0}, {987'704'321, 1.0, 5 * kMs}}},
        ScaledTimeCase{"HalfRate", {{100, 0.5, 0}, {100 + 40 * kMs, 0.5, 20 * kMs}}},
        // The interval closed by a reading counts at the rate of that reading; no jump.
        ScaledTimeCase{"RateChanges",
                       {{0, 1.0, 0},
                        {10 * kMs, 1.0, 10 * kMs},
                        {50 * kMs, 0.25, 20 * kMs},
                        {90 * kMs, 0.25, 30 * kMs},
                        {100 * kMs, 1.0, 40 * kMs}}},
        ScaledTimeCase{"NeverGoesBack", {{50, 1.0, 0}, {80, 1.0, 30}, {60, 1.0, 30}}},
        ScaledTimeCase{"ZeroRateStops", {{0, 1.0, 0}, {kMs, 0.0, 0}, {2 * kMs, 1.0, kMs}}}),
    [](const testing::TestParamInfo<ScaledTimeCase>& info) { return info.param.name; });

// Readings come every few hundred nanoseconds; truncating each increment at 1/16 would lose
// most of the time. Many short intervals must add up to what one long interval gives.
TEST(ScaledTimeAccumulation, ShortIntervalsLoseNothingToTruncation) {
  ScaledTime time;
  int64_t last = time.Advance(0, 1.0 / 16);
  for (int64_t base = 3; base <= 3'000'000; base += 3)
    last = time.Advance(base, 1.0 / 16);
  EXPECT_EQ(last, 3'000'000 / 16);
}

class ClockTest : public testing::Test {
 protected:
  media::GstRef<GstClock> gst_clock_ = Clock::Create("myrefclock");
  Clock* clock_ = Clock::From(gst_clock_.get());
};

TEST_F(ClockTest, IsFoundOnlyInItsOwnClockAndRefusesBackwardRates) {
  ASSERT_NE(clock_, nullptr);
  media::GstRef<GstClock> other(
      GST_CLOCK(gst_object_ref_sink(g_object_new(GST_TYPE_SYSTEM_CLOCK, nullptr))));
  EXPECT_EQ(Clock::From(other.get()), nullptr);
  EXPECT_EQ(Clock::From(nullptr), nullptr);
  clock_->SetRate(0.25);
  for (double bad : {-1.0, std::nan(""), double(INFINITY)})
    clock_->SetRate(bad);
  EXPECT_EQ(clock_->GetRate(), 0.25);
}

// Readers on many threads at once: no interval is counted twice, none lost.
TEST_F(ClockTest, ConcurrentReadersCountEveryIntervalOnce) {
  const auto real_start = std::chrono::steady_clock::now();
  clock_->GetPrivateTime();
  std::atomic<bool> stop{false}, went_back{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      for (int64_t previous = 0, now = 0; !stop; previous = now)
        went_back = went_back || (now = clock_->GetPrivateTime()) < previous;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  stop = true;
  for (std::thread& t : readers)
    t.join();
  const int64_t clock_units = clock_->GetPrivateTime();
  const double real_units =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - real_start).count() * 1e7;
  EXPECT_FALSE(went_back);
  EXPECT_LE(double(clock_units), real_units);
  EXPECT_GE(double(clock_units), real_units - 20 * kMs);
}

// GStreamer reads and waits on the scaled time: 50 ms of clock at 1/4 are 200 ms of real time.
TEST_F(ClockTest, GStreamerTimeAndWaitsRunAtTheRate) {
  clock_->SetRate(0.25);
  const GstClockTime start = gst_clock_get_time(gst_clock_.get());
  const auto real_start = std::chrono::steady_clock::now();
  GstClockID id = gst_clock_new_single_shot_id(gst_clock_.get(), start + 50 * GST_MSECOND);
  EXPECT_EQ(gst_clock_id_wait(id, nullptr), GST_CLOCK_OK);
  gst_clock_id_unref(id);
  const GstClockTime end = gst_clock_get_time(gst_clock_.get());
  const std::chrono::duration<double, std::nano> real =
      std::chrono::steady_clock::now() - real_start;
  EXPECT_GE(end, start + 50 * GST_MSECOND);
  EXPECT_NEAR(double(end - start), real.count() * 0.25, 0.01 * real.count());
  EXPECT_GT(real, std::chrono::milliseconds(190));
  EXPECT_LT(real, std::chrono::milliseconds(1000));
}

// Area, aspect, and the largest size of the aspect that fits; nothing to fit into or no
// aspect: the area itself, no division by zero.
TEST(CalcActualVideoSize, LargestSizeOfTheAspectThatFits) {
  for (const auto& [area_w, area_h, aspect_x, aspect_y, width, height] :
       {std::array{640, 480, 16, 9, 640, 360}, std::array{640, 360, 4, 3, 480, 360},
        std::array{1000, 1000, 16, 9, 1000, 562}, std::array{123, 77, 4, 3, 102, 77},
        std::array{0, 480, 16, 9, 0, 480}, std::array{640, 0, 16, 9, 640, 0},
        std::array{640, 480, 0, 9, 640, 480}, std::array{640, 480, 16, 0, 640, 480}}) {
    int32_t w = -1, h = -1;
    MovieUtils::CalcActualVideoSize(area_w, area_h, aspect_x, aspect_y, w, h);
    EXPECT_EQ(std::pair(w, h), std::pair(width, height)) << area_w << "x" << area_h;
  }
}

}  // namespace
}  // namespace quorvex
