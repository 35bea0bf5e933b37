// The element in real pipelines: one second of a 440 Hz tone slowed to 1/4 comes out about
// four seconds long, near 440 Hz with pitch correction and near 110 Hz without, without gaps;
// and the loadable plugin works from gst-launch-1.0.

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "audio/gst/PitchShiftElement.h"
#include "tests/audio/ToneAnalysis.h"

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

struct Stretched {
  std::vector<int16_t> samples;  // interleaved
  bool continuous = true;        // every buffer starts where the previous one stopped
  bool eos = false;
  GstClockTime first_pts = GST_CLOCK_TIME_NONE;
  GstClockTime last_stop = GST_CLOCK_TIME_NONE;
};

// Runs one second of a tone through the element at 1/4 and collects what comes out.
Stretched RunTone(const ToneCase& c) {
  gst_init(nullptr, nullptr);
  RegisterPitchShiftElement();
  const std::string description =
      "audiotestsrc wave=sine freq=" + std::to_string(c.tone_hz) +
      " volume=0.3 num-buffers=100 samplesperbuffer=" + std::to_string(c.rate / 100) +
      " ! audio/x-raw,format=S16LE,layout=interleaved,rate=" + std::to_string(c.rate) +
      ",channels=" + std::to_string(c.channels) +
      " ! quorvexpitchshift rate=0.25 pitch-correction=" + (c.pitch_correction ? "true" : "false") +
      " ! appsink name=out sync=false";
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  EXPECT_EQ(nullptr, error);
  Stretched result;
  if (!pipeline) {
    return result;
  }
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  EXPECT_NE(GST_STATE_CHANGE_FAILURE, gst_element_set_state(pipeline, GST_STATE_PLAYING));
  // Generous: the whole second is processed as fast as the machine goes.
  while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 30 * GST_SECOND)) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (result.first_pts == GST_CLOCK_TIME_NONE) {
      result.first_pts = pts;
    } else if (pts != result.last_stop) {
      result.continuous = false;
    }
    result.last_stop = pts + GST_BUFFER_DURATION(buffer);
    const size_t at = result.samples.size();
    result.samples.resize(at + gst_buffer_get_size(buffer) / sizeof(int16_t));
    gst_buffer_extract(buffer, 0, result.samples.data() + at, gst_buffer_get_size(buffer));
    gst_sample_unref(sample);
  }
  result.eos = gst_app_sink_is_eos(GST_APP_SINK(sink));
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(sink);
  gst_object_unref(pipeline);
  return result;
}

class PitchShiftPipelineTest : public testing::TestWithParam<ToneCase> {};

TEST_P(PitchShiftPipelineTest, OneSecondAtAQuarterLastsAboutFourSecondsAtTheExpectedPitch) {
  const ToneCase c = GetParam();
  const Stretched out = RunTone(c);
  ASSERT_TRUE(out.eos);
  EXPECT_TRUE(out.continuous);
  EXPECT_EQ(0u, out.first_pts);

  // Four times the input, less what waits for a full block at the end (under 4096 frames
  // plus the buffer that straddles it).
  const double seconds = double(out.samples.size() / size_t(c.channels)) / c.rate;
  EXPECT_GT(seconds, 4.0 * (1.0 - (4096.0 + c.rate / 100.0) / c.rate));
  EXPECT_LE(seconds, 4.0);
  // The stream time the output stands for, at normal speed.
  EXPECT_NEAR(seconds / 4.0, double(out.last_stop) / GST_SECOND, 0.001);

  // Past the shifter's delay (4096 frames, four times longer after the stretch) the tone is
  // steady. The vocoder spreads a tone over synthesis bins four apart, which beat within a
  // frame: its output swings in level with the period of a hop (4096 frames once stretched)
  // and shows side lines one analysis bin away, so the pitch is allowed 4 % and the level is
  // taken over whole periods.
  const int32_t steady_from = 6 * 4096;
  const int32_t analysed = 16 * 4096;
  ASSERT_GT(out.samples.size() / size_t(c.channels), size_t(steady_from + analysed));
  for (int32_t channel = 0; channel < c.channels; ++channel) {
    const std::vector<float> all = test::Channel(out.samples, c.channels, channel);
    const std::vector<float> steady(all.begin() + steady_from,
                                    all.begin() + steady_from + analysed);
    EXPECT_NEAR(c.expected_hz, test::DominantFrequency(steady, c.rate, 50.0, 1000.0),
                c.expected_hz * 0.04);
    const std::vector<double> levels = test::WindowLevels(steady, 4096);
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

// The data size of a canonical RIFF/WAVE file, or -1.
int64_t WaveDataBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char riff[12];
  if (!file.read(riff, 12) || std::memcmp(riff, "RIFF", 4) != 0) {
    return -1;
  }
  char header[8];
  while (file.read(header, 8)) {
    uint32_t size;
    std::memcpy(&size, header + 4, 4);
    if (std::memcmp(header, "data", 4) == 0) {
      return size;
    }
    file.seekg(size + (size & 1), std::ios::cur);
  }
  return -1;
}

TEST(PitchShiftPlugin, WorksFromGstLaunch) {
  gst_init(nullptr, nullptr);
  char wav_template[] = "/tmp/quorvex-pitch-XXXXXX";
  const int fd = mkstemp(wav_template);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string wav = wav_template;
  const std::string location = "location=" + wav;
  const std::string plugin_path = std::string("--gst-plugin-path=") + QUORVEX_PLUGIN_DIR;
  const char* argv[] = {"gst-launch-1.0",
                        "-q",
                        plugin_path.c_str(),
                        "audiotestsrc",
                        "num-buffers=100",
                        "samplesperbuffer=441",
                        "freq=440",
                        "!",
                        "audio/x-raw,format=S16LE,rate=44100,channels=2",
                        "!",
                        "quorvexpitchshift",
                        "rate=0.25",
                        "pitch-correction=true",
                        "!",
                        "wavenc",
                        "!",
                        "filesink",
                        location.c_str(),
                        nullptr};

  gchar** environment = g_get_environ();
  // A sanitized plugin needs the sanitizer runtimes in the uninstrumented program.
  if (std::strlen(QUORVEX_SANITIZER_PRELOAD) > 0) {
    environment = g_environ_setenv(environment, "LD_PRELOAD", QUORVEX_SANITIZER_PRELOAD, TRUE);
    environment = g_environ_setenv(environment, "ASAN_OPTIONS", "detect_leaks=0", TRUE);
  }
  gchar* standard_error = nullptr;
  gint status = -1;
  GError* error = nullptr;
  const gboolean ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), environment,
                                    GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL),
                                    nullptr, nullptr, nullptr, &standard_error, &status, &error);
  g_strfreev(environment);
  ASSERT_TRUE(ran) << (error ? error->message : "");
  const std::string errors = standard_error ? standard_error : "";
  g_free(standard_error);
  EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << errors;
  EXPECT_NE(std::string::npos, errors.find("EndOfStream\n")) << errors;

  const int64_t bytes = WaveDataBytes(wav);
  std::remove(wav.c_str());
  const double seconds = double(bytes) / (44100 * 4);
  EXPECT_GT(seconds, 3.5);
  EXPECT_LE(seconds, 4.0);
}

}  // namespace
}  // namespace quorvex
