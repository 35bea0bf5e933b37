// The element "quorvexpitchshift" in GStreamer's test harness: caps, time stamps, segments,
// flushes, end of stream, property and format changes.

#include <gst/audio/audio.h>
#include <gst/check/gstharness.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/gst/PitchShiftElement.h"

namespace quorvex {
namespace {

constexpr char kStereo[] =
    "audio/x-raw, format=S16LE, layout=interleaved, rate=44100, channels=2, "
    "channel-mask=(bitmask)0x3";
constexpr int32_t kRate = 44100;
constexpr int32_t kFrameBytes = 4;
constexpr GstClockTime k10ms = 10 * GST_MSECOND;

class PitchShiftElementTest : public testing::Test {
 protected:
  void SetUp() override {
    gst_init(nullptr, nullptr);
    RegisterPitchShiftElement();
    h_ = gst_harness_new("quorvexpitchshift");
    ASSERT_NE(nullptr, h_);
    gst_harness_set_src_caps_str(h_, kStereo);
  }
  void TearDown() override { gst_harness_teardown(h_); }

  void Set(const char* name, double value) { g_object_set(h_->element, name, value, nullptr); }
  void SetPitch(bool on) { g_object_set(h_->element, "pitch-correction", gboolean(on), nullptr); }

  // `frames` stereo frames of a ramp, stamped at `pts` with the matching duration.
  static GstBuffer* Audio(int32_t frames, GstClockTime pts, int32_t first = 0,
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

  // Ten-millisecond buffers (441 frames) from `first_pts` on.
  void PushTens(int32_t count, GstClockTime first_pts) {
    for (int32_t i = 0; i < count; ++i) {
      ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, Audio(441, first_pts + i * k10ms, i * 882)));
    }
  }

  void PushSegment(GstClockTime start, GstClockTime stop) {
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    segment.start = start;
    segment.stop = stop;
    segment.time = start;
    segment.position = start;
    ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_segment(&segment)));
  }

  // The last segment that went downstream.
  GstSegment LastSegment() {
    GstSegment last;
    gst_segment_init(&last, GST_FORMAT_UNDEFINED);
    while (GstEvent* event = gst_harness_try_pull_event(h_)) {
      if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
        const GstSegment* segment;
        gst_event_parse_segment(event, &segment);
        last = *segment;
      }
      gst_event_unref(event);
    }
    return last;
  }

  GstHarness* h_ = nullptr;
};

std::vector<uint8_t> Bytes(GstBuffer* buffer) {
  std::vector<uint8_t> bytes(gst_buffer_get_size(buffer));
  gst_buffer_extract(buffer, 0, bytes.data(), bytes.size());
  return bytes;
}

TEST_F(PitchShiftElementTest, PropertiesStartAtNormalSpeedWithoutCorrectionAndReadBack) {
  gdouble rate = 0;
  gboolean pitch = TRUE;
  g_object_get(h_->element, "rate", &rate, "pitch-correction", &pitch, nullptr);
  EXPECT_EQ(1.0, rate);
  EXPECT_FALSE(pitch);
  Set("rate", 0.0625);
  SetPitch(true);
  g_object_get(h_->element, "rate", &rate, "pitch-correction", &pitch, nullptr);
  EXPECT_EQ(0.0625, rate);
  EXPECT_TRUE(pitch);
}

TEST_F(PitchShiftElementTest, RateOnePassesBuffersThroughUnchanged) {
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
  GstBuffer* output = gst_harness_pull(h_);
  EXPECT_EQ(size_t(2 * 9 * 441 * kFrameBytes), gst_buffer_get_size(output));
  EXPECT_EQ(GST_SECOND, GST_BUFFER_PTS(output));
  EXPECT_EQ(9 * k10ms, GST_BUFFER_DURATION(output));
  gst_buffer_unref(output);
}

TEST_F(PitchShiftElementTest, BufferWithoutDurationIsTimedByItsFrames) {
  Set("rate", 0.25);
  GstBuffer* input = Audio(4096, 0);
  GST_BUFFER_DURATION(input) = GST_CLOCK_TIME_NONE;
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, input));
  GstBuffer* output = gst_harness_pull(h_);
  EXPECT_EQ(size_t(4 * 4096 * kFrameBytes), gst_buffer_get_size(output));
  EXPECT_EQ(gst_util_uint64_scale_int(4096, GST_SECOND, kRate), GST_BUFFER_DURATION(output));
  gst_buffer_unref(output);
}

TEST_F(PitchShiftElementTest, SegmentGoesDownstreamWithoutStopAndOutputIsClippedToIt) {
  Set("rate", 0.5);
  PushSegment(30 * GST_MSECOND, 60 * GST_MSECOND);
  const GstSegment downstream = LastSegment();
  EXPECT_EQ(30 * GST_MSECOND, downstream.start);
  EXPECT_EQ(GST_CLOCK_TIME_NONE, downstream.stop);

  PushTens(10, 0);  // the output covers 0 .. 90 ms with 2 x 3969 frames
  GstBuffer* output = gst_harness_pull(h_);
  ASSERT_NE(nullptr, output);
  EXPECT_EQ(30 * GST_MSECOND, GST_BUFFER_PTS(output));
  EXPECT_EQ(30 * GST_MSECOND, GST_BUFFER_DURATION(output));
  EXPECT_EQ(size_t(2 * 3969 / 3 * kFrameBytes), gst_buffer_get_size(output));
  gst_buffer_unref(output);
}

TEST_F(PitchShiftElementTest, OutputEntirelyBeforeTheSegmentIsDropped) {
  Set("rate", 0.5);
  PushSegment(200 * GST_MSECOND, GST_CLOCK_TIME_NONE);
  PushTens(10, 0);
  EXPECT_EQ(0u, gst_harness_buffers_received(h_));
}

TEST_F(PitchShiftElementTest, FlushAndEarlierTimesDropTheHeldAudio) {
  Set("rate", 0.5);
  PushTens(5, 10 * GST_SECOND);  // held
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_flush_start()));
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_flush_stop(TRUE)));
  PushSegment(0, GST_CLOCK_TIME_NONE);
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

TEST_F(PitchShiftElementTest, RateChangeAppliesFromTheNextBuffer) {
  PushTens(1, 0);
  gst_buffer_unref(gst_harness_pull(h_));
  Set("rate", 0.25);
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, Audio(4096, k10ms)));
  GstBuffer* output = gst_harness_pull(h_);
  EXPECT_EQ(size_t(4 * 4096 * kFrameBytes), gst_buffer_get_size(output));
  EXPECT_EQ(k10ms, GST_BUFFER_PTS(output));
  gst_buffer_unref(output);
}

TEST_F(PitchShiftElementTest, NewFormatDropsWhatIsHeldAndContinues) {
  Set("rate", 0.5);
  PushTens(5, 0);
  gst_harness_set_src_caps_str(h_,
                               "audio/x-raw, format=S16LE, layout=interleaved, rate=48000, "
                               "channels=1");
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, Audio(4096, GST_SECOND, 0, 2, 48000)));
  GstBuffer* output = gst_harness_pull(h_);
  ASSERT_NE(nullptr, output);
  EXPECT_EQ(size_t(2 * 4096 * 2), gst_buffer_get_size(output));
  EXPECT_EQ(GST_SECOND, GST_BUFFER_PTS(output));
  gst_buffer_unref(output);
}

TEST_F(PitchShiftElementTest, EndOfStreamIsNotedAndPassedOnWithoutTheHeldAudio) {
  Set("rate", 0.5);
  PushTens(5, 0);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_eos()));
  const std::string noted = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, noted.find("EndOfStream\n"));
  EXPECT_EQ(0u, gst_harness_buffers_received(h_));
  bool eos = false;
  while (GstEvent* event = gst_harness_try_pull_event(h_)) {
    eos = eos || GST_EVENT_TYPE(event) == GST_EVENT_EOS;
    gst_event_unref(event);
  }
  EXPECT_TRUE(eos);
}

struct CapsCase {
  const char* caps;
  GstFlowReturn expected;
};

TEST(PitchShiftElementCaps, TakesSixteenBitMonoOrStereoOnly) {
  gst_init(nullptr, nullptr);
  RegisterPitchShiftElement();
  const CapsCase cases[] = {
      {"audio/x-raw, format=S16LE, layout=interleaved, rate=48000, channels=1", GST_FLOW_OK},
      {"audio/x-raw, format=S16LE, layout=interleaved, rate=8000, channels=2", GST_FLOW_OK},
      {"audio/x-raw, format=S16LE, layout=interleaved, rate=48000, channels=6, "
       "channel-mask=(bitmask)0x3f",
       GST_FLOW_NOT_NEGOTIATED},
      {"audio/x-raw, format=F32LE, layout=interleaved, rate=44100, channels=2",
       GST_FLOW_NOT_NEGOTIATED},
      {"audio/x-raw, format=S24LE, layout=interleaved, rate=44100, channels=2",
       GST_FLOW_NOT_NEGOTIATED},
      {"audio/x-raw, format=U8, layout=interleaved, rate=44100, channels=1",
       GST_FLOW_NOT_NEGOTIATED},
      {"audio/x-raw, format=S16LE, layout=non-interleaved, rate=44100, channels=2",
       GST_FLOW_NOT_NEGOTIATED},
  };
  for (const CapsCase& c : cases) {
    GstHarness* h = gst_harness_new("quorvexpitchshift");
    gst_harness_set_src_caps_str(h, c.caps);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 1440, nullptr);
    gst_buffer_memset(buffer, 0, 0, 1440);
    GST_BUFFER_PTS(buffer) = 0;
    EXPECT_EQ(c.expected, gst_harness_push(h, buffer)) << c.caps;
    gst_harness_teardown(h);
  }
}

TEST(PitchShiftElementCaps, RegisteringTwiceIsHarmless) {
  gst_init(nullptr, nullptr);
  RegisterPitchShiftElement();
  RegisterPitchShiftElement();
  GstElement* element = gst_element_factory_make("quorvexpitchshift", nullptr);
  ASSERT_NE(nullptr, element);
  gst_object_unref(element);
}

}  // namespace
}  // namespace quorvex
