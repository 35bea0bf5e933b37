// The element in real pipelines: one second of a tone slowed to 1/4 comes out about four
// seconds long, at the tone's pitch with pitch correction and two octaves lower without, without
// gaps; and the loadable plugin works from gst-launch-1.0.

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/gst/PitchShiftElement.h"
#include "tests/audio/FftReference.h"

namespace quorvex {
namespace {

struct ToneCase {
  const char* name;
  int32_t channels;
  int32_t rate;
  double tone_hz;
  bool pitch_correction;
  double expected_hz;
};

void PrintTo(const ToneCase& c, std::ostream* os) {
  *os << c.name;
}

class PitchShiftPipelineTest : public testing::TestWithParam<ToneCase> {};

TEST_P(PitchShiftPipelineTest, OneSecondAtAQuarterLastsAboutFourSecondsAtTheExpectedPitch) {
  const ToneCase c = GetParam();
  gst_init(nullptr, nullptr);
  RegisterPitchShiftElement();
  const std::string description =
      "audiotestsrc wave=sine freq=" + std::to_string(c.tone_hz) +
      " volume=0.3 num-buffers=100 samplesperbuffer=" + std::to_string(c.rate / 100) +
      " ! audio/x-raw,format=S16LE,layout=interleaved,rate=" + std::to_string(c.rate) +
      ",channels=" + std::to_string(c.channels) +
      " ! quorvexpitchshift rate=0.25 pitch-correction=" + (c.pitch_correction ? "true" : "false") +
      " ! appsink name=out sync=false";
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  ASSERT_NE(nullptr, pipeline);
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  EXPECT_NE(GST_STATE_CHANGE_FAILURE, gst_element_set_state(pipeline, GST_STATE_PLAYING));
  std::vector<int16_t> samples;  // interleaved
  GstClockTime last_stop = GST_CLOCK_TIME_NONE;
  // Generous: the whole second is processed as fast as the machine goes.
  while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 30 * GST_SECOND)) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    // Every buffer starts where the previous one stopped.
    EXPECT_EQ(last_stop == GST_CLOCK_TIME_NONE ? 0 : last_stop, GST_BUFFER_PTS(buffer));
    last_stop = GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer);
    const size_t at = samples.size();
    samples.resize(at + gst_buffer_get_size(buffer) / sizeof(int16_t));
    gst_buffer_extract(buffer, 0, samples.data() + at, gst_buffer_get_size(buffer));
    gst_sample_unref(sample);
  }
  EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(sink)));
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);

  // Four times the input, less what waits for a full block at the end (under 4096 frames
  // plus the buffer that straddles it); the stream time it stands for is at normal speed.
  const size_t frames = samples.size() / size_t(c.channels);
  const double seconds = double(frames) / c.rate;
  EXPECT_GT(seconds, 4.0 * (1.0 - (4096.0 + c.rate / 100.0) / c.rate));
  EXPECT_LE(seconds, 4.0);
  EXPECT_NEAR(seconds / 4.0, double(last_stop) / GST_SECOND, 0.001);

  // Past the shifter's delay (4096 frames, four times longer after the stretch) the tone is
  // steady. The vocoder spreads a tone over synthesis bins four apart, which beat within a
  // frame: its output swings in level with the period of a hop (4096 frames once stretched)
  // and shows side lines one analysis bin away, so the pitch is allowed 4 % and the level is
  // taken over whole periods.
  constexpr size_t kSteadyFrom = 6 * 4096, kAnalysed = 16 * 4096;
  ASSERT_GT(frames, kSteadyFrom + kAnalysed);
  for (int32_t channel = 0; channel < c.channels; ++channel) {
    std::vector<float> steady;
    for (size_t i = kSteadyFrom; i < kSteadyFrom + kAnalysed; ++i) {
      steady.push_back(samples[i * size_t(c.channels) + size_t(channel)] / 32768.0f);
    }
    EXPECT_NEAR(c.expected_hz, test::DominantFrequency(steady, 0, kAnalysed) * c.rate / test::kN,
                c.expected_hz * 0.04);
    std::vector<double> levels;
    for (size_t start = 0; start < kAnalysed; start += 4096) {
      levels.push_back(test::Rms(steady, start, 4096));
    }
    const auto [low, high] = std::minmax_element(levels.begin(), levels.end());
    EXPECT_GT(*low, 0.8 * *high) << "a dropout in channel " << channel;
    EXPECT_GT(*low, 0.1) << "too quiet in channel " << channel;  // the tone is at 0.3
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tones, PitchShiftPipelineTest,
    // The vocoder's level depends on where a tone falls between its bins (it nearly cancels
    // 440 Hz at 48 kHz, for one): the mono tone is one it renders at full level.
    testing::Values(ToneCase{"StereoCorrected", 2, 44100, 440.0, true, 440.0},
                    ToneCase{"StereoUncorrected", 2, 44100, 440.0, false, 110.0},
                    ToneCase{"Mono48kCorrected", 1, 48000, 400.0, true, 400.0},
                    ToneCase{"Mono48kUncorrected", 1, 48000, 400.0, false, 100.0}),
    [](const testing::TestParamInfo<ToneCase>& info) { return std::string(info.param.name); });

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
  // The header, 44 bytes, counts as a quarter of a millisecond.
  const double seconds = double(std::filesystem::file_size(wav)) / (44100 * 4);
  std::remove(wav);
  EXPECT_GT(seconds, 3.5);
  EXPECT_LE(seconds, 4.001);
}

}  // namespace
}  // namespace quorvex
