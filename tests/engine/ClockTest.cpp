// The rate-scaled clock: its arithmetic with chosen base times, then the real clock under
// GStreamer's own readings and waits.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "engine/Clock.h"

namespace quorvex {
namespace {

constexpr int64_t kMs = 10'000;  // 100 ns units per millisecond

struct Reading {
  int64_t base_units;
  double rate;
  int64_t expected;
};

struct ScaledTimeCase {
  const char* name;
  std::vector<Reading> readings;
};

class ScaledTimeTest : public testing::TestWithParam<ScaledTimeCase> {};

TEST_P(ScaledTimeTest, FollowsTheBaseTimeAtTheRate) {
  ScaledTime time;
  for (const Reading& r : GetParam().readings)
    EXPECT_EQ(time.Advance(r.base_units, r.rate), r.expected) << "at base " << r.base_units;
}

INSTANTIATE_TEST_SUITE_P(
    Readings, ScaledTimeTest,
    testing::Values(
        ScaledTimeCase{"FirstReadingIsZeroWhateverTheBase",
                       {{987'654'321, 1.0, 0}, {987'654'321 + 5 * kMs, 1.0, 5 * kMs}}},
        ScaledTimeCase{"HalfRateOver40MsGives20Ms",
                       {{100, 0.5, 0}, {100 + 40 * kMs, 0.5, 200'000}}},
        ScaledTimeCase{"RateOneTracksTheBaseFromItsStart",
                       {{7 * kMs, 1.0, 0}, {9 * kMs, 1.0, 2 * kMs}, {20 * kMs, 1.0, 13 * kMs}}},
        // The interval closed by a reading counts at the rate of that reading; no jump.
        ScaledTimeCase{"ARateChangeScalesTheWholeIntervalSinceThePreviousReading",
                       {{0, 1.0, 0},
                        {10 * kMs, 1.0, 10 * kMs},
                        {50 * kMs, 0.25, 20 * kMs},
                        {90 * kMs, 0.25, 30 * kMs},
                        {100 * kMs, 1.0, 40 * kMs}}},
        ScaledTimeCase{"TheTimeNeverGoesBack", {{50, 1.0, 0}, {80, 1.0, 30}, {60, 1.0, 30}}},
        ScaledTimeCase{"ZeroRateStopsTheTime", {{0, 1.0, 0}, {kMs, 0.0, 0}, {2 * kMs, 1.0, kMs}}}),
    [](const testing::TestParamInfo<ScaledTimeCase>& info) { return info.param.name; });

// Readings come every few hundred nanoseconds; truncating each increment at 1/16 would lose
// most of the time. Many short intervals must add up to what one long interval gives.
TEST(ScaledTimeAccumulation, ShortIntervalsLoseNothingToTruncation) {
  ScaledTime time;
  time.Advance(0, 1.0 / 16);
  int64_t last = 0;
  for (int64_t base = 3; base <= 3'000'000; base += 3)
    last = time.Advance(base, 1.0 / 16);
  EXPECT_EQ(last, 3'000'000 / 16);
}

class ClockTest : public testing::Test {
 protected:
  void SetUp() override {
    gst_clock_ = Clock::Create("myrefclock");
    clock_ = Clock::From(gst_clock_.get());
    ASSERT_NE(clock_, nullptr);
  }
  media::GstRef<GstClock> gst_clock_;
  Clock* clock_ = nullptr;
};

TEST_F(ClockTest, StartsAtZeroWithRateOne) {
  EXPECT_EQ(clock_->GetRate(), 1.0);
  EXPECT_EQ(clock_->GetPrivateTime(), 0);
  EXPECT_STREQ(GST_OBJECT_NAME(gst_clock_.get()), "myrefclock");
  media::GstRef<GstClock> other(GST_CLOCK(
      gst_object_ref_sink(g_object_new(GST_TYPE_SYSTEM_CLOCK, "name", "other", nullptr))));
  EXPECT_EQ(Clock::From(other.get()), nullptr);
  EXPECT_EQ(Clock::From(nullptr), nullptr);
}

TEST_F(ClockTest, RefusesRatesThatWouldRunTheTimeBackwards) {
  clock_->SetRate(0.25);
  for (double bad : {-1.0, std::nan(""), double(INFINITY)})
    clock_->SetRate(bad);
  EXPECT_EQ(clock_->GetRate(), 0.25);
}

// GStreamer reads the clock through get_time: it runs at the rate against real time.
TEST_F(ClockTest, GStreamerTimeRunsAtTheRate) {
  clock_->SetRate(0.5);
  const GstClockTime start = gst_clock_get_time(gst_clock_.get());
  const auto real_start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const GstClockTime end = gst_clock_get_time(gst_clock_.get());
  const double real_ns =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - real_start)
          .count();
  EXPECT_NEAR(double(end - start), real_ns * 0.5, 0.01 * real_ns);
}

// Readers on many threads at once: no interval is counted twice, none lost.
TEST_F(ClockTest, ConcurrentReadersCountEveryIntervalOnce) {
  const auto real_start = std::chrono::steady_clock::now();
  clock_->GetPrivateTime();
  std::atomic<bool> stop{false};
  std::atomic<bool> went_back{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      int64_t previous = 0;
      while (!stop) {
        const int64_t now = clock_->GetPrivateTime();
        if (now < previous)
          went_back = true;
        previous = now;
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  stop = true;
  for (std::thread& t : readers)
    t.join();
  const int64_t clock_units = clock_->GetPrivateTime();
  const double real_units =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - real_start)
          .count() /
      100;
  EXPECT_FALSE(went_back);
  EXPECT_LE(double(clock_units), real_units);
  EXPECT_GE(double(clock_units), real_units - 20 * kMs);
}

// A wait on the clock fires when the scaled time reaches it: 50 ms of clock at 1/4 are 200 ms.
TEST_F(ClockTest, WaitsFireWhenTheScaledTimeReachesThem) {
  clock_->SetRate(0.25);
  const GstClockTime target = gst_clock_get_time(gst_clock_.get()) + 50 * GST_MSECOND;
  GstClockID id = gst_clock_new_single_shot_id(gst_clock_.get(), target);
  const auto real_start = std::chrono::steady_clock::now();
  EXPECT_EQ(gst_clock_id_wait(id, nullptr), GST_CLOCK_OK);
  const auto real = std::chrono::steady_clock::now() - real_start;
  gst_clock_id_unref(id);
  EXPECT_GE(gst_clock_get_time(gst_clock_.get()), target);
  EXPECT_GT(real, std::chrono::milliseconds(190));
  EXPECT_LT(real, std::chrono::milliseconds(1000));
}

}  // namespace
}  // namespace quorvex
