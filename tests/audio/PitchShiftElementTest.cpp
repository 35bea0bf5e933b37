// The element "quorvexpitchshift" in GStreamer's test harness: caps, time stamps, segments,
// flushes, end of stream, property and format changes.

#include <gst/audio/audio.h>
#include <gst/check/gstharness.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "audio/gst/PitchShiftElement.h"

namespace quorvex {
namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kFrameBytes = 4;
constexpr GstClockTime k10ms = 10 * GST_MSECOND;
constexpr GstClockTime kNone = GST_CLOCK_TIME_NONE;

// `frames` frames of a ramp, stamped at `pts` with the matching duration.
GstBuffer* Audio(int32_t frames, GstClockTime pts, int32_t first = 0,
                 int32_t frame_bytes = kFrameBytes, int32_t rate = kRate) {
  std::vector<int16_t> samples(size_t(frames * frame_bytes / 2));
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = int16_t((int32_t(i) + first) * 13 % 20000 - 10000);
  }
  GstBuffer* buffer = gst_buffer_new_memdup(samples.data(), samples.size() * sizeof(int16_t));
  GST_BUFFER_PTS(buffer) = pts;
  GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale_int(frames, GST_SECOND, rate);
  return buffer;
}

std::vector<uint8_t> Bytes(GstBuffer* buffer) {
  std::vector<uint8_t> bytes(gst_buffer_get_size(buffer));
  gst_buffer_extract(buffer, 0, bytes.data(), bytes.size());
  return bytes;
}

GstHarness* NewHarness(const char* caps) {
  gst_init(nullptr, nullptr);
  RegisterPitchShiftElement();
  GstHarness* h = gst_harness_new("quorvexpitchshift");
  gst_harness_set_src_caps_str(h, caps);
  return h;
}

class PitchShiftElementTest : public testing::Test {
 protected:
  void TearDown() override { gst_harness_teardown(h_); }

  void Set(const char* name, double value) { g_object_set(h_->element, name, value, nullptr); }

  // Ten-millisecond buffers (441 frames) from `first_pts` on.
  void PushTens(int32_t count, GstClockTime first_pts) {
    for (int32_t i = 0; i < count; ++i) {
      ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, Audio(441, first_pts + i * k10ms, i * 882)));
    }
  }

  // The next output buffer's time stamp, duration and size; the buffer is released.
  std::tuple<GstClockTime, GstClockTime, size_t> Pull() {
    GstBuffer* output = gst_harness_try_pull(h_);
    if (!output) {
      ADD_FAILURE() << "no output";
      return {};
    }
    const auto result = std::make_tuple(GST_BUFFER_PTS(output), GST_BUFFER_DURATION(output),
                                        gst_buffer_get_size(output));
    gst_buffer_unref(output);
    return result;
  }

  GstHarness* h_ = NewHarness(
      "audio/x-raw, format=S16LE, layout=interleaved, rate=44100, channels=2, "
      "channel-mask=(bitmask)0x3");
};

TEST_F(PitchShiftElementTest, StartsAtNormalSpeedWithoutCorrectionPassingBuffersUnchanged) {
  gdouble rate = 0;
  gboolean pitch = TRUE;
  g_object_get(h_->element, "rate", &rate, "pitch-correction", &pitch, nullptr);
  EXPECT_EQ(1.0, rate);
  EXPECT_FALSE(pitch);
  GstBuffer* input = Audio(441, 5 * GST_SECOND);
  GST_BUFFER_OFFSET(input) = 220500;
  GST_BUFFER_OFFSET_END(input) = 220941;
  const std::vector<uint8_t> sent = Bytes(input);
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, input));
  GstBuffer* output = gst_harness_pull(h_);
  ASSERT_NE(nullptr, output);
  EXPECT_EQ(sent, Bytes(output));
  EXPECT_EQ(5 * GST_SECOND, GST_BUFFER_PTS(output));
  EXPECT_EQ(gst_util_uint64_scale_int(441, GST_SECOND, kRate), GST_BUFFER_DURATION(output));
  EXPECT_EQ(220500u, GST_BUFFER_OFFSET(output));
  EXPECT_EQ(220941u, GST_BUFFER_OFFSET_END(output));
  gst_buffer_unref(output);
}

TEST_F(PitchShiftElementTest, HeldBuffersGoOutStretchedWithTheirNormalSpeedTimes) {
  Set("rate", 0.5);
  PushTens(9, GST_SECOND);  // 3969 frames: no block yet, nothing pushed
  EXPECT_EQ(0u, gst_harness_buffers_received(h_));
  PushTens(1, GST_SECOND + 9 * k10ms);  // 4410 frames: one block completes nine buffers
  ASSERT_EQ(1u, gst_harness_buffers_received(h_));
  EXPECT_EQ(std::make_tuple(GST_SECOND, 9 * k10ms, size_t(2 * 9 * 441 * kFrameBytes)), Pull());
}

// A rate set while running applies from the next buffer; one without a duration is timed by
// its frames.
TEST_F(PitchShiftElementTest, RateChangeAppliesFromTheNextBufferTimedByItsFrames) {
  PushTens(1, 0);
  Pull();
  Set("rate", 0.25);
  GstBuffer* input = Audio(4096, k10ms);
  GST_BUFFER_DURATION(input) = kNone;
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, input));
  EXPECT_EQ(std::make_tuple(k10ms, gst_util_uint64_scale_int(4096, GST_SECOND, kRate),
                            size_t(4 * 4096 * kFrameBytes)),
            Pull());
}

// The segment goes downstream without its stop; the output (0 .. 90 ms, 2 x 3969 frames) is
// clipped to it, or dropped when it lies entirely before it.
TEST_F(PitchShiftElementTest, SegmentGoesDownstreamWithoutStopAndOutputIsClippedToIt) {
  Set("rate", 0.5);
  GstSegment segment;
  gst_segment_init(&segment, GST_FORMAT_TIME);
  segment.start = segment.time = segment.position = 30 * GST_MSECOND;
  segment.stop = 60 * GST_MSECOND;
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_segment(&segment)));
  GstSegment downstream;
  while (GstEvent* event = gst_harness_try_pull_event(h_)) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
      gst_event_copy_segment(event, &downstream);
    }
    gst_event_unref(event);
  }
  EXPECT_EQ(30 * GST_MSECOND, downstream.start);
  EXPECT_EQ(kNone, downstream.stop);
  PushTens(10, 0);
  EXPECT_EQ(std::make_tuple(30 * GST_MSECOND, 30 * GST_MSECOND, size_t(2 * 3969 / 3 * kFrameBytes)),
            Pull());

  segment.start = segment.time = segment.position = 200 * GST_MSECOND;
  segment.stop = kNone;
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_segment(&segment)));
  PushTens(10, 0);
  EXPECT_EQ(1u, gst_harness_buffers_received(h_));
}

TEST_F(PitchShiftElementTest, FlushAndEarlierTimesDropTheHeldAudio) {
  Set("rate", 0.5);
  PushTens(5, 10 * GST_SECOND);  // held
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_flush_start()));
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_flush_stop(TRUE)));
  GstSegment segment;
  gst_segment_init(&segment, GST_FORMAT_TIME);
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_segment(&segment)));
  // As a decoder marks its first buffer after a seek; the mark must survive the held inputs.
  GstBuffer* first = Audio(441, 0);
  GST_BUFFER_FLAG_SET(first, GST_BUFFER_FLAG_DISCONT);
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, first));
  PushTens(9, k10ms);
  GstBuffer* output = gst_harness_pull(h_);
  ASSERT_NE(nullptr, output);
  EXPECT_EQ(0u, GST_BUFFER_PTS(output));
  EXPECT_EQ(size_t(2 * 9 * 441 * kFrameBytes), gst_buffer_get_size(output));
  EXPECT_TRUE(GST_BUFFER_IS_DISCONT(output));
  gst_buffer_unref(output);
}

// A second of a 440 Hz tone in 100 ms buffers (as a movie's PCM comes) at a quarter with
// pitch correction: every output byte. With `again`, the first buffer is sent, the stream is
// flushed and starts again from that buffer, as after the seek to the current position that
// follows a rate change: the filter must not keep the first copy, whose stop time the second
// one merely equals.
std::vector<uint8_t> QuarterRateTone(bool again) {
  GstHarness* h = NewHarness(
      "audio/x-raw, format=S16LE, layout=interleaved, rate=44100, channels=2, "
      "channel-mask=(bitmask)0x3");
  g_object_set(h->element, "rate", 0.25, "pitch-correction", TRUE, nullptr);
  const auto tone = [](int32_t index) {
    std::vector<int16_t> samples(4410 * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
      const double t = double(index * 4410 + int32_t(i / 2)) / kRate;
      samples[i] = int16_t(10000 * std::sin(2 * std::numbers::pi * 440 * t));
    }
    GstBuffer* buffer = gst_buffer_new_memdup(samples.data(), samples.size() * sizeof(int16_t));
    GST_BUFFER_PTS(buffer) = index * 100 * GST_MSECOND;
    GST_BUFFER_DURATION(buffer) = 100 * GST_MSECOND;
    return buffer;
  };
  if (again) {
    EXPECT_EQ(GST_FLOW_OK, gst_harness_push(h, tone(0)));
    EXPECT_TRUE(gst_harness_push_event(h, gst_event_new_flush_start()));
    EXPECT_TRUE(gst_harness_push_event(h, gst_event_new_flush_stop(TRUE)));
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    EXPECT_TRUE(gst_harness_push_event(h, gst_event_new_segment(&segment)));
  }
  std::vector<uint8_t> bytes;
  for (int32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(GST_FLOW_OK, gst_harness_push(h, tone(i)));
    while (GstBuffer* output = gst_harness_try_pull(h)) {
      const std::vector<uint8_t> more = Bytes(output);
      bytes.insert(bytes.end(), more.begin(), more.end());
      gst_buffer_unref(output);
    }
  }
  gst_harness_teardown(h);
  return bytes;
}

TEST(PitchShiftElementFlush, StreamResumingWhereItStoodSoundsAsIfItHadNeverStopped) {
  const std::vector<uint8_t> straight = QuarterRateTone(false);
  ASSERT_GT(straight.size(), size_t(4 * 8 * 4096 * kFrameBytes));
  EXPECT_TRUE(straight == QuarterRateTone(true)) << "the first buffer was played twice";
}

TEST_F(PitchShiftElementTest, NewFormatDropsWhatIsHeldAndContinues) {
  Set("rate", 0.5);
  PushTens(5, 0);
  gst_harness_set_src_caps_str(
      h_, "audio/x-raw, format=S16LE, layout=interleaved, rate=48000, channels=1");
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, Audio(4096, GST_SECOND, 0, 2, 48000)));
  const auto [pts, duration, size] = Pull();
  EXPECT_EQ(GST_SECOND, pts);
  EXPECT_EQ(size_t(2 * 4096 * 2), size);
}

TEST_F(PitchShiftElementTest, EndOfStreamIsNotedAndPassedOnWithoutTheHeldAudio) {
  Set("rate", 0.5);
  PushTens(5, 0);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_eos()));
  EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("EndOfStream\n"));
  EXPECT_EQ(0u, gst_harness_buffers_received(h_));
  bool eos = false;
  while (GstEvent* event = gst_harness_try_pull_event(h_)) {
    eos = eos || GST_EVENT_TYPE(event) == GST_EVENT_EOS;
    gst_event_unref(event);
  }
  EXPECT_TRUE(eos);
}

TEST(PitchShiftElementCaps, TakesSixteenBitMonoOrStereoOnlyAndRegistersTwiceHarmlessly) {
  const std::pair<const char*, GstFlowReturn> cases[] = {
      {"format=S16LE, layout=interleaved, rate=48000, channels=1", GST_FLOW_OK},
      {"format=S16LE, layout=interleaved, rate=8000, channels=2", GST_FLOW_OK},
      {"format=S16LE, layout=interleaved, rate=48000, channels=6, channel-mask=(bitmask)0x3f",
       GST_FLOW_NOT_NEGOTIATED},
      {"format=F32LE, layout=interleaved, rate=44100, channels=2", GST_FLOW_NOT_NEGOTIATED},
      {"format=S24LE, layout=interleaved, rate=44100, channels=2", GST_FLOW_NOT_NEGOTIATED},
      {"format=U8, layout=interleaved, rate=44100, channels=1", GST_FLOW_NOT_NEGOTIATED},
      {"format=S16LE, layout=non-interleaved, rate=44100, channels=2", GST_FLOW_NOT_NEGOTIATED},
  };
  for (const auto& [caps, expected] : cases) {
    GstHarness* h = NewHarness(("audio/x-raw, " + std::string(caps)).c_str());
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 1440, nullptr);
    gst_buffer_memset(buffer, 0, 0, 1440);
    GST_BUFFER_PTS(buffer) = 0;
    EXPECT_EQ(expected, gst_harness_push(h, buffer)) << caps;
    gst_harness_teardown(h);
  }
}

}  // namespace
}  // namespace quorvex
