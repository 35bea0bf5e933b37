// The element "quorvexpitchshift" in GStreamer's test harness (caps, time stamps, segments,
// flushes, end of stream, property and format changes), and the loadable plugin.

#include <gst/audio/audio.h>
#include <gst/check/gstharness.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "audio/gst/PitchShiftElement.h"

namespace quorvex {
namespace {

constexpr int32_t kRate = 44100, kFrameBytes = 4;
constexpr char kStereo[] = "audio/x-raw, format=S16LE, layout=interleaved, rate=44100, channels=2";
constexpr GstClockTime k10ms = 10 * GST_MSECOND, kNone = GST_CLOCK_TIME_NONE;

// `frames` frames of a ramp, stamped at `pts` with the matching duration.
GstBuffer* Audio(int32_t frames, GstClockTime pts, int32_t first = 0,
                 int32_t frame_bytes = kFrameBytes, int32_t rate = kRate) {
  std::vector<int16_t> samples(size_t(frames * frame_bytes / 2));
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = int16_t((int32_t(i) + first) * 13 % 20000 - 10000);
  GstBuffer* buffer = gst_buffer_new_memdup(samples.data(), samples.size() * sizeof(int16_t));
  GST_BUFFER_PTS(buffer) = pts;
  GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale_int(frames, GST_SECOND, rate);
  return buffer;
}

// The loadable plugin (not used by the player, which registers the element itself), in a
// fresh process: its own copy of the element's type would clash with this process's.
TEST(PitchShiftPlugin, Loads) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto load = [] {
    gst_init(nullptr, nullptr);
    return gst_plugin_load_file(QUORVEX_PLUGIN_DIR "/libgstquorvexpitch.so", nullptr) ? 0 : 1;
  };
  EXPECT_EXIT(std::_Exit(load()), testing::ExitedWithCode(0), "");
}

class PitchShiftElementTest : public testing::Test {
 protected:
  void SetUp() override {
    gst_init(nullptr, nullptr);
    RegisterPitchShiftElement();
    gst_harness_set_src_caps_str(h_ = gst_harness_new("quorvexpitchshift"), kStereo);
  }
  void TearDown() override { gst_harness_teardown(h_); }

  // Ten-millisecond buffers (441 frames) from `first_pts` on.
  void PushTens(int32_t count, GstClockTime first_pts) {
    for (int32_t i = 0; i < count; ++i)
      ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, Audio(441, first_pts + i * k10ms, i * 882)));
  }

  // The next output buffer's time stamp, duration and size; the buffer is released.
  std::tuple<GstClockTime, GstClockTime, size_t> Pull() {
    GstBuffer* output = gst_harness_try_pull(h_);
    std::tuple<GstClockTime, GstClockTime, size_t> result;
    if (output)
      result = {GST_BUFFER_PTS(output), GST_BUFFER_DURATION(output), gst_buffer_get_size(output)};
    gst_clear_buffer(&output);
    return result;
  }

  // Releases the events that reached the sink; the last one's type, a copy of the last segment.
  GstEventType Drain(GstSegment* segment = nullptr) {
    GstEventType last = GST_EVENT_UNKNOWN;
    while (GstEvent* event = gst_harness_try_pull_event(h_)) {
      if ((last = GST_EVENT_TYPE(event)) == GST_EVENT_SEGMENT && segment)
        gst_event_copy_segment(event, segment);
      gst_event_unref(event);
    }
    return last;
  }

  void PushSegment(GstClockTime start, GstClockTime stop) {
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    segment.start = segment.time = segment.position = start, segment.stop = stop;
    ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_segment(&segment)));
  }

  GstHarness* h_ = nullptr;
};

// Normal speed at first, buffers unchanged; at 1/2 the held buffers go out stretched with
// their normal-speed times; a new rate applies from the next buffer, which, without a
// duration, is timed by its frames.
TEST_F(PitchShiftElementTest, StretchesHeldBuffersWithTheirNormalSpeedTimes) {
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, Audio(441, 5 * GST_SECOND)));
  EXPECT_EQ(std::make_tuple(5 * GST_SECOND, k10ms, size_t(441 * kFrameBytes)), Pull());
  g_object_set(h_->element, "rate", 0.5, nullptr);
  PushTens(9, GST_SECOND);  // 3969 frames: no block yet, nothing pushed
  EXPECT_EQ(1u, gst_harness_buffers_received(h_));
  PushTens(1, GST_SECOND + 9 * k10ms);  // 4410 frames: one block completes nine buffers
  EXPECT_EQ(std::make_tuple(GST_SECOND, 9 * k10ms, size_t(2 * 9 * 441 * kFrameBytes)), Pull());
  g_object_set(h_->element, "rate", 0.25, nullptr);
  GstBuffer* input = Audio(4096, 2 * GST_SECOND);
  GST_BUFFER_DURATION(input) = kNone;
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, input));
  EXPECT_EQ(std::make_tuple(2 * GST_SECOND, gst_util_uint64_scale_int(4096, GST_SECOND, kRate),
                            size_t(4 * 4096 * kFrameBytes)),
            Pull());
  gst_harness_set_src_caps_str(h_, "audio/x-raw, format=S16LE, layout=interleaved, channels=6");
  EXPECT_EQ(GST_FLOW_NOT_NEGOTIATED, gst_harness_push(h_, Audio(441, 3 * GST_SECOND)));
}

TEST_F(PitchShiftElementTest, SegmentsFlushesAndNewFormats) {
  g_object_set(h_->element, "rate", 0.5, nullptr);
  PushSegment(30 * GST_MSECOND, 60 * GST_MSECOND);
  GstSegment downstream;
  Drain(&downstream);
  EXPECT_EQ(kNone, downstream.stop);
  PushTens(10, 0);
  EXPECT_EQ(std::make_tuple(30 * GST_MSECOND, 30 * GST_MSECOND, size_t(2 * 3969 / 3 * kFrameBytes)),
            Pull());
  PushSegment(200 * GST_MSECOND, kNone);
  PushTens(10, 0);
  EXPECT_EQ(1u, gst_harness_buffers_received(h_));
  PushTens(1, GST_SECOND);  // held with what was held before
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_flush_start()));
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_flush_stop(TRUE)));
  PushSegment(0, kNone);
  GstBuffer* first = Audio(441, GST_SECOND);
  GST_BUFFER_FLAG_SET(first, GST_BUFFER_FLAG_DISCONT);
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, first));
  PushTens(8, GST_SECOND + k10ms);
  EXPECT_EQ(1u, gst_harness_buffers_received(h_));
  PushTens(1, GST_SECOND + 9 * k10ms);
  GstBuffer* output = gst_harness_pull(h_);
  EXPECT_EQ(size_t(2 * 9 * 441 * kFrameBytes), gst_buffer_get_size(output));
  EXPECT_TRUE(GST_BUFFER_IS_DISCONT(output));
  gst_buffer_unref(output);
  PushTens(5, 2 * GST_SECOND);
  gst_harness_set_src_caps_str(
      h_, "audio/x-raw, format=S16LE, layout=interleaved, rate=48000, channels=1");
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, Audio(4096, 2 * GST_SECOND, 0, 2, 48000)));
  EXPECT_EQ(std::make_tuple(2 * GST_SECOND, gst_util_uint64_scale_int(4096, GST_SECOND, 48000),
                            size_t(2 * 4096 * 2)),
            Pull());
  PushTens(3, 3 * GST_SECOND);  // as mono: 2646 frames, held
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_eos()));
  EXPECT_EQ(3u, gst_harness_buffers_received(h_));
  EXPECT_EQ(GST_EVENT_EOS, Drain());
}

}  // namespace
}  // namespace quorvex
