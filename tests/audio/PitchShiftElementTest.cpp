// The element "quorvexpitchshift" in GStreamer's test harness (caps, time stamps, segments,
// flushes, end of stream, property and format changes), and the loadable plugin from
// gst-launch-1.0.

#include <gst/audio/audio.h>
#include <gst/check/gstharness.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
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
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] = int16_t((int32_t(i) + first) * 13 % 20000 - 10000);
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

GstHarness* NewHarness(const std::string& caps) {
  gst_init(nullptr, nullptr);
  RegisterPitchShiftElement();
  GstHarness* h = gst_harness_new("quorvexpitchshift");
  gst_harness_set_src_caps_str(h, ("audio/x-raw, format=S16LE, " + caps).c_str());
  return h;
}

class PitchShiftElementTest : public testing::Test {
 protected:
  void TearDown() override { gst_harness_teardown(h_); }
  void Set(const char* name, double value) { g_object_set(h_->element, name, value, nullptr); }

  // Ten-millisecond buffers (441 frames) from `first_pts` on.
  void PushTens(int32_t count, GstClockTime first_pts) {
    for (int32_t i = 0; i < count; ++i)
      ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, Audio(441, first_pts + i * k10ms, i * 882)));
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

  void PushSegment(GstClockTime start, GstClockTime stop) {
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    segment.start = segment.time = segment.position = start;
    segment.stop = stop;
    ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_segment(&segment)));
  }

  GstHarness* h_ = NewHarness(
      "layout=interleaved, rate=44100, channels=2, "
      "channel-mask=(bitmask)0x3");
};

// Normal speed without correction at first, buffers unchanged; at 1/2 the held buffers go out
// stretched with their normal-speed times; a new rate applies from the next buffer, which,
// without a duration, is timed by its frames.
TEST_F(PitchShiftElementTest, StretchesHeldBuffersWithTheirNormalSpeedTimes) {
  gdouble rate = 0;
  gboolean pitch = TRUE;
  g_object_get(h_->element, "rate", &rate, "pitch-correction", &pitch, nullptr);
  EXPECT_EQ(std::make_pair(1.0, FALSE), std::make_pair(rate, pitch));
  GstBuffer* input = Audio(441, 5 * GST_SECOND);
  GST_BUFFER_OFFSET(input) = 220500;
  GST_BUFFER_OFFSET_END(input) = 220941;
  const std::vector<uint8_t> sent = Bytes(input);
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, input));
  GstBuffer* output = gst_harness_pull(h_);
  ASSERT_NE(nullptr, output);
  EXPECT_EQ(sent, Bytes(output));
  EXPECT_EQ(std::make_tuple(GstClockTime(5 * GST_SECOND), guint64(220500), guint64(220941)),
            std::make_tuple(GST_BUFFER_PTS(output), GST_BUFFER_OFFSET(output),
                            GST_BUFFER_OFFSET_END(output)));
  gst_buffer_unref(output);

  Set("rate", 0.5);
  PushTens(9, GST_SECOND);  // 3969 frames: no block yet, nothing pushed
  EXPECT_EQ(1u, gst_harness_buffers_received(h_));
  PushTens(1, GST_SECOND + 9 * k10ms);  // 4410 frames: one block completes nine buffers
  EXPECT_EQ(std::make_tuple(GST_SECOND, 9 * k10ms, size_t(2 * 9 * 441 * kFrameBytes)), Pull());

  Set("rate", 0.25);
  input = Audio(4096, 2 * GST_SECOND);
  GST_BUFFER_DURATION(input) = kNone;
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, input));
  EXPECT_EQ(std::make_tuple(2 * GST_SECOND, gst_util_uint64_scale_int(4096, GST_SECOND, kRate),
                            size_t(4 * 4096 * kFrameBytes)),
            Pull());
}

// The segment goes downstream without its stop; the output (0 .. 90 ms, 2 x 3969 frames) is
// clipped to it, or dropped when it lies entirely before it.
TEST_F(PitchShiftElementTest, SegmentGoesDownstreamWithoutStopAndOutputIsClippedToIt) {
  Set("rate", 0.5);
  PushSegment(30 * GST_MSECOND, 60 * GST_MSECOND);
  GstSegment downstream;
  while (GstEvent* event = gst_harness_try_pull_event(h_)) {
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT)
      gst_event_copy_segment(event, &downstream);
    gst_event_unref(event);
  }
  EXPECT_EQ(std::make_pair(GstClockTime(30 * GST_MSECOND), kNone),
            std::make_pair(downstream.start, downstream.stop));
  PushTens(10, 0);
  EXPECT_EQ(std::make_tuple(30 * GST_MSECOND, 30 * GST_MSECOND, size_t(2 * 3969 / 3 * kFrameBytes)),
            Pull());
  PushSegment(200 * GST_MSECOND, kNone);
  PushTens(10, 0);
  EXPECT_EQ(1u, gst_harness_buffers_received(h_));
}

// After a seek to the current position (as follows a rate change) the times go on no lower
// than before: the flush alone must drop the held buffer. The decoder's mark of the first
// buffer after the seek survives the held inputs.
TEST_F(PitchShiftElementTest, FlushDropsTheHeldAudioEvenWhenTheTimesGoOn) {
  Set("rate", 0.5);
  PushTens(1, 0);  // held
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_flush_start()));
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_flush_stop(TRUE)));
  PushSegment(0, kNone);
  GstBuffer* first = Audio(441, 0);
  GST_BUFFER_FLAG_SET(first, GST_BUFFER_FLAG_DISCONT);
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, first));
  PushTens(8, k10ms);
  EXPECT_EQ(0u, gst_harness_buffers_received(h_)) << "the held buffer completed a block";
  PushTens(1, 9 * k10ms);
  GstBuffer* output = gst_harness_pull(h_);
  ASSERT_NE(nullptr, output);
  EXPECT_EQ(0u, GST_BUFFER_PTS(output));
  EXPECT_EQ(size_t(2 * 9 * 441 * kFrameBytes), gst_buffer_get_size(output));
  EXPECT_TRUE(GST_BUFFER_IS_DISCONT(output));
  gst_buffer_unref(output);
}

TEST_F(PitchShiftElementTest, NewFormatDropsWhatIsHeldAndEndOfStreamIsPassedOnWithoutIt) {
  Set("rate", 0.5);
  PushTens(5, 0);
  gst_harness_set_src_caps_str(
      h_, "audio/x-raw, format=S16LE, layout=interleaved, rate=48000, channels=1");
  ASSERT_EQ(GST_FLOW_OK, gst_harness_push(h_, Audio(4096, GST_SECOND, 0, 2, 48000)));
  const auto [pts, duration, size] = Pull();
  EXPECT_EQ(std::make_pair(GstClockTime(GST_SECOND), size_t(2 * 4096 * 2)),
            std::make_pair(pts, size));
  PushTens(3, 2 * GST_SECOND);  // as mono: 2646 frames, held
  ASSERT_TRUE(gst_harness_push_event(h_, gst_event_new_eos()));
  EXPECT_EQ(1u, gst_harness_buffers_received(h_));
  bool eos = false;
  while (GstEvent* event = gst_harness_try_pull_event(h_)) {
    eos = eos || GST_EVENT_TYPE(event) == GST_EVENT_EOS;
    gst_event_unref(event);
  }
  EXPECT_TRUE(eos);
}

TEST(PitchShiftElementCaps, TakesSixteenBitMonoOrStereoOnly) {
  const std::pair<const char*, GstFlowReturn> cases[] = {
      {"layout=interleaved, rate=48000, channels=1", GST_FLOW_OK},
      {"layout=interleaved, rate=8000, channels=2", GST_FLOW_OK},
      {"layout=interleaved, rate=48000, channels=6, channel-mask=(bitmask)0x3f",
       GST_FLOW_NOT_NEGOTIATED},
      {"layout=non-interleaved, rate=44100, channels=2", GST_FLOW_NOT_NEGOTIATED},
  };
  for (const auto& [caps, expected] : cases) {
    GstHarness* h = NewHarness(caps);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 1440, nullptr);
    gst_buffer_memset(buffer, 0, 0, 1440);
    GST_BUFFER_PTS(buffer) = 0;
    EXPECT_EQ(expected, gst_harness_push(h, buffer)) << caps;
    gst_harness_teardown(h);
  }
}

// One second of a tone slowed to 1/4 from gst-launch-1.0: about four seconds come out, and
// the end of the stream is noted.
TEST(PitchShiftPlugin, WorksFromGstLaunch) {
  char wav[] = "/tmp/quorvex-pitch-XXXXXX";
  const int fd = mkstemp(wav);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string command =
      std::string("gst-launch-1.0 -q --gst-plugin-path=") + QUORVEX_PLUGIN_DIR +
      " audiotestsrc num-buffers=100 samplesperbuffer=441 freq=440"
      " ! audio/x-raw,format=S16LE,rate=44100,channels=2"
      " ! quorvexpitchshift rate=0.25 pitch-correction=true ! wavenc ! filesink location=" +
      wav;
  gchar** argv = nullptr;
  ASSERT_TRUE(g_shell_parse_argv(command.c_str(), nullptr, &argv, nullptr));
  gchar** environment = g_get_environ();
  // A sanitized plugin needs the sanitizer runtimes in the uninstrumented program.
  if (std::strlen(QUORVEX_SANITIZER_PRELOAD) > 0) {
    environment = g_environ_setenv(environment, "LD_PRELOAD", QUORVEX_SANITIZER_PRELOAD, TRUE);
    environment = g_environ_setenv(environment, "ASAN_OPTIONS", "detect_leaks=0", TRUE);
  }
  gchar* errors = nullptr;
  gint status = -1;
  const gboolean ran = g_spawn_sync(nullptr, argv, environment,
                                    GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL),
                                    nullptr, nullptr, nullptr, &errors, &status, nullptr);
  g_strfreev(argv);
  g_strfreev(environment);
  const std::string noted = errors ? errors : "";
  g_free(errors);
  ASSERT_TRUE(ran);
  EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << noted;
  EXPECT_NE(std::string::npos, noted.find("EndOfStream\n")) << noted;
  // Less what waits for a full block at the end; the header counts as a quarter millisecond.
  const double seconds = double(std::filesystem::file_size(wav)) / (44100 * 4);
  std::remove(wav);
  EXPECT_GT(seconds, 3.5);
  EXPECT_LE(seconds, 4.001);
}

}  // namespace
}  // namespace quorvex
