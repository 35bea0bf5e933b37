// Sound as a user hears it: the movie plays at 1/4 through the engine's real audio sink into
// a null sink of the test sound server, whose monitor is recorded with parec. The recording
// must last four times the excerpt, without gaps or jumps, at the tone's own pitch with pitch
// correction and a quarter of it without.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "engine/CMovie.h"
#include "tests/support/TestEnv.h"
#include "tests/support/XTestWindow.h"

namespace quorvex {
namespace {

constexpr int kRate = 44100;
constexpr int kWindow = kRate / 100;  // 10 ms

// The power of the component at `f` Hz in one second from `samples`, by Goertzel.
double Power(const float* samples, double f) {
  const double c = 2 * std::cos(2 * std::numbers::pi * f / kRate);
  double s1 = 0, s2 = 0;
  for (int i = 0; i < kRate; ++i)
    s2 = std::exchange(s1, samples[i] + c * s1 - s2);
  return s1 * s1 + s2 * s2 - c * s1 * s2;
}

// Plays two seconds of a 440 Hz movie at 1/4 and records what the sound server renders: into
// a null sink of this test's own, made the default for the streams of this process so that
// other tests playing sound at the same time are not recorded, whose monitor parec records as
// mono floats for a fixed time (SIGINT ends it cleanly; a short latency keeps the null sink
// rendering in small blocks).
std::vector<float> RecordQuarterRate(bool pitch_correction) {
  const std::string name = "quorvex_sound_test_" + std::to_string(getpid());
  const std::string raw = testing::TempDir() + name + ".raw";
  int module = -1;
  FILE* out = popen(("pactl load-module module-null-sink sink_name=" + name).c_str(), "r");
  EXPECT_TRUE(out && std::fscanf(out, "%d", &module) == 1);
  pclose(out);
  setenv("PULSE_SINK", name.c_str(), 1);
  FILE* recording = popen(("exec timeout -s INT 11 parec --raw --format=float32le --rate=44100 "
                           "--channels=1 --latency-msec=20 --device=" +
                           name + ".monitor >" + raw)
                              .c_str(),
                          "r");
  test::XTestWindow owner(320, 240);
  CMovie movie;
  EXPECT_TRUE(movie.InitializeGraph(test::Utf16(test::Movie("mjpeg-pcm-4x3.avi")), owner.id()));
  movie.EnablePitchShift(pitch_correction);
  movie.Pause();
  int64_t from = 2 * media::kUnitsPerSecond, to = 4 * media::kUnitsPerSecond;
  movie.SetPositions(&from, media::AM_SEEKING_AbsolutePositioning, &to,
                     media::AM_SEEKING_AbsolutePositioning);
  movie.SetRate(0.25);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // parec connected
  movie.Run();
  for (int i = 0; i < 200 && movie.IsPlaying(); ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    movie.GraphNotifyProc();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(movie.IsPlaying()) << "the end of the excerpt was reached";
  pclose(recording);
  std::system(("pactl unload-module " + std::to_string(module)).c_str());
  std::ifstream in(raw, std::ios::binary | std::ios::ate);
  std::vector<float> samples(size_t(in.tellg()) / sizeof(float));
  in.seekg(0).read(reinterpret_cast<char*>(samples.data()), samples.size() * sizeof(float));
  return samples;
}

// Checks the recording of two seconds of a 440 Hz tone at 1/4 that should sound at `frequency`.
TEST(SoundTest, AQuarterRateSoundsFourTimesAsLongWithoutGaps) {
  if (std::system("pactl info >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no sound server (scripts/test starts one)";
  // With pitch correction the 440 Hz tone keeps its pitch; without, it sounds a quarter of it.
  for (const bool pitch_correction : {true, false}) {
    SCOPED_TRACE(pitch_correction);
    const std::vector<float> sound = RecordQuarterRate(pitch_correction);
    ASSERT_GT(sound.size(), size_t(6 * kRate));

    // Where the sound is: 10 ms windows well above silence.
    std::vector<double> rms;
    for (auto i = sound.begin(); i + kWindow <= sound.end(); i += kWindow)
      rms.push_back(std::sqrt(std::inner_product(i, i + kWindow, i, 0.0) / kWindow));
    const double loudest = *std::max_element(rms.begin(), rms.end());
    ASSERT_GT(loudest, 0.05) << "something was heard";
    const auto loud = [&](double r) { return r > 0.1 * loudest; };
    const size_t first = std::find_if(rms.begin(), rms.end(), loud) - rms.begin();
    const size_t last = rms.rend() - std::find_if(rms.rbegin(), rms.rend(), loud) - 1;
    const double seconds = double(last - first + 1) / 100;
    // Eight seconds, less what the filter holds back: its block (up to 4095 frames) at the end
    // and, with pitch correction, the vocoder's delay of 4096 frames at the start, each stretched.
    EXPECT_LE(seconds, 8.3) << "two seconds of movie at a quarter of the rate";
    EXPECT_GE(seconds, pitch_correction ? 7.0 : 7.5);

    // The steady middle: the sound never stops. The vocoder's output of a pure tone swells and
    // fades (its shifted spectrum fills only every fourth bin), with troughs of up to 20 ms;
    // a gap is 30 ms or more far below the median level.
    const size_t begin = first + 50, end = last - 50;
    std::vector<double> middle(rms.begin() + begin, rms.begin() + end);
    std::nth_element(middle.begin(), middle.begin() + middle.size() / 2, middle.end());
    const double median = middle[middle.size() / 2];
    for (size_t w = begin, quiet_run = 0; w < end; ++w)
      ASSERT_LT(quiet_run = rms[w] < 0.1 * median ? quiet_run + 1 : 0, 3u) << "a silence at " << w;
    // A sine of 440 Hz moves at most 2 pi 440 / 44100 = 0.063 of its peak per sample.
    for (size_t i = begin * kWindow + 1; i < end * kWindow; ++i)
      ASSERT_LT(std::fabs(sound[i] - sound[i - 1]), 0.2 * median * std::sqrt(2.0))
          << "a jump at " << i;

    const float* centre = &sound[(first + last) / 2 * kWindow - kRate / 2];
    EXPECT_GT(Power(centre, pitch_correction ? 440 : 110),
              10 * Power(centre, pitch_correction ? 110 : 440));
  }
}

}  // namespace
}  // namespace quorvex
