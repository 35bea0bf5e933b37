// Sound as a user hears it: the movie plays at 1/4 through the engine's real audio sink into
// a null sink of the test sound server, whose monitor is recorded with parec. The recording
// must last four times the excerpt, without gaps or jumps, at the tone's own pitch with pitch
// correction and a quarter of it without.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <numeric>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/CMovie.h"
#include "tests/support/TestEnv.h"
#include "tests/support/XTestWindow.h"

namespace quorvex {
namespace {

constexpr int kRate = 44100;
constexpr int kWindow = kRate / 100;  // 10 ms

// A null sink of this test's own, made the default for the streams of this process so that
// other tests playing sound at the same time are not recorded, and parec recording its monitor
// as mono floats. The shell tells its pid and becomes parec, so that SIGINT ends the recording.
class Recording {
 public:
  Recording() {
    FILE* out = popen(("pactl load-module module-null-sink sink_name=" + name_).c_str(), "r");
    if (out && std::fscanf(out, "%d", &module_) == 1)
      setenv("PULSE_SINK", name_.c_str(), 1);
    if (out)
      pclose(out);
    // A short latency keeps the null sink rendering in small blocks.
    pipe_ = popen(("echo $$; exec parec --raw --format=float32le --rate=44100 --channels=1 "
                   "--latency-msec=20 --device=" +
                   name_ + ".monitor >" + path_)
                      .c_str(),
                  "r");
    char line[32] = {};
    if (pipe_ && std::fgets(line, sizeof line, pipe_))
      pid_ = std::atoi(line);
  }
  ~Recording() {
    Stop();
    std::system(("pactl unload-module " + std::to_string(module_)).c_str());
  }
  bool started() const { return module_ >= 0 && pid_ > 0; }

  std::vector<float> Stop() {
    if (pipe_) {
      kill(pid_, SIGINT);
      pclose(std::exchange(pipe_, nullptr));
    }
    std::ifstream in(path_, std::ios::binary | std::ios::ate);
    std::vector<float> samples(size_t(in.tellg()) / sizeof(float));
    in.seekg(0).read(reinterpret_cast<char*>(samples.data()), samples.size() * sizeof(float));
    return samples;
  }

 private:
  const std::string name_ = "quorvex_sound_test_" + std::to_string(getpid());
  const std::string path_ = testing::TempDir() + name_ + ".raw";
  int module_ = -1;
  FILE* pipe_ = nullptr;
  pid_t pid_ = 0;
};

// The frequency (Hz, 1 Hz steps from 50 to 1000) with the most energy, by Goertzel.
double DominantFrequency(const float* samples, int count) {
  double best = 0, best_power = -1;
  for (int f = 50; f <= 1000; ++f) {
    const double c = 2 * std::cos(2 * std::numbers::pi * f / kRate);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < count; ++i)
      s2 = std::exchange(s1, samples[i] + c * s1 - s2);
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    if (power > best_power)
      std::tie(best_power, best) = std::pair(power, f);
  }
  return best;
}

// Plays two seconds of a 440 Hz movie at 1/4 and records what the sound server renders.
std::vector<float> RecordQuarterRate(const char* movie_file, bool pitch_correction) {
  Recording recording;
  EXPECT_TRUE(recording.started());
  test::XTestWindow owner(320, 240);
  CMovie movie;
  const std::string path = test::Movie(movie_file);
  EXPECT_TRUE(movie.InitializeGraph(std::u16string(path.begin(), path.end()), owner.id()));
  movie.EnablePitchShift(pitch_correction);
  movie.Pause();
  int64_t from = 2 * media::kUnitsPerSecond, to = 4 * media::kUnitsPerSecond;
  EXPECT_EQ(movie.SetPositions(&from, media::AM_SEEKING_AbsolutePositioning, &to,
                               media::AM_SEEKING_AbsolutePositioning),
            media::S_OK);
  movie.SetRate(0.25);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // parec connected
  movie.Run();
  QElapsedTimer timer;
  timer.start();
  while (movie.IsPlaying() && timer.elapsed() < 30000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    movie.GraphNotifyProc();
  }
  EXPECT_FALSE(movie.IsPlaying()) << "the end of the excerpt was reached";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return recording.Stop();
}

// Checks the recording of two seconds of a 440 Hz tone at 1/4 that should sound at `frequency`.
void Check(const std::vector<float>& sound, bool pitch_correction, double frequency) {
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
  int quiet_run = 0, gaps = 0;
  for (size_t w = begin; w < end; ++w) {
    quiet_run = rms[w] < 0.1 * median ? quiet_run + 1 : 0;
    gaps += quiet_run == 3;
  }
  EXPECT_EQ(gaps, 0) << "silences of 30 ms in the sound, median level " << median;
  double largest_step = 0;
  for (size_t i = begin * kWindow + 1; i < end * kWindow; ++i)
    largest_step = std::max(largest_step, double(std::fabs(sound[i] - sound[i - 1])));
  // A sine of 440 Hz moves at most 2 pi 440 / 44100 = 0.063 of its peak per sample.
  EXPECT_LT(largest_step, 0.2 * median * std::sqrt(2.0)) << "a jump in the waveform";

  const size_t centre = (first + last) / 2 * kWindow;
  const double heard = DominantFrequency(&sound[centre - kRate / 2], kRate);
  EXPECT_NEAR(heard, frequency, 0.05 * frequency);
}

// With pitch correction the 440 Hz tone keeps its pitch; without, it sounds a quarter of it.
TEST(SoundTest, AQuarterRateSoundsFourTimesAsLongWithoutGaps) {
  if (std::system("pactl info >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no sound server (scripts/test starts one)";
  for (const auto& [pitch_correction, frequency] : {std::pair{true, 440.0}, {false, 110.0}}) {
    SCOPED_TRACE(pitch_correction);
    Check(RecordQuarterRate("mjpeg-pcm-4x3.avi", pitch_correction), pitch_correction, frequency);
  }
}

}  // namespace
}  // namespace quorvex
