// Sound as a user hears it: the movie plays at 1/4 through the engine's real audio sink into
// the test sound server's null sink, whose monitor is recorded with parec. The recording must
// last four times the excerpt, without gaps or jumps, at the tone's own pitch with pitch
// correction and a quarter of it without.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "engine/CMovie.h"
#include "tests/platform/media/TestWindow.h"
#include "tests/support/TestEnv.h"

extern char** environ;

namespace quorvex {
namespace {

constexpr int kRate = 44100;
constexpr int kWindow = kRate / 100;  // 10 ms
constexpr int64_t kSecond = media::kUnitsPerSecond;

bool SoundServerRuns() {
  return std::system("pactl info >/dev/null 2>&1") == 0;
}

// A null sink of this test's own, made the default for the streams of this process, so that
// other tests playing sound at the same time are not recorded.
class PrivateSink {
 public:
  PrivateSink() : name_("quorvex_sound_test_" + std::to_string(getpid())) {
    const std::string load = "pactl load-module module-null-sink sink_name=" + name_;
    FILE* out = popen(load.c_str(), "r");
    if (out && std::fscanf(out, "%d", &module_) != 1)
      module_ = -1;
    if (out)
      pclose(out);
    if (module_ >= 0)
      setenv("PULSE_SINK", name_.c_str(), 1);
  }
  ~PrivateSink() {
    if (module_ >= 0)
      std::system(("pactl unload-module " + std::to_string(module_)).c_str());
  }
  bool ok() const { return module_ >= 0; }
  std::string monitor() const { return name_ + ".monitor"; }

 private:
  std::string name_;
  int module_ = -1;
};

// parec recording `source` into a file while it lives.
class Recorder {
 public:
  Recorder(const std::string& source, const std::string& path) : path_(path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // A short latency keeps the null sink rendering in small blocks.
    const std::string device = "--device=" + source;
    const char* argv[] = {"parec",        "--raw",        "--format=s16le",
                          "--rate=44100", "--channels=2", "--latency-msec=20",
                          device.c_str(), nullptr};
    started_ =
        posix_spawnp(&pid_, "parec", &actions, nullptr, const_cast<char**>(argv), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Recorder() { Stop(); }

  bool started() const { return started_; }

  // Ends the recording; the left channel as floats in [-1, 1).
  std::vector<float> Stop() {
    if (started_) {
      kill(pid_, SIGINT);
      waitpid(pid_, nullptr, 0);
      started_ = false;
    }
    std::ifstream in(path_, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<float> left;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
      int16_t sample;
      std::memcpy(&sample, &bytes[i], 2);
      left.push_back(sample / 32768.0f);
    }
    return left;
  }

 private:
  std::string path_;
  pid_t pid_ = 0;
  bool started_ = false;
};

double Rms(const float* samples, int count) {
  double sum = 0;
  for (int i = 0; i < count; ++i)
    sum += double(samples[i]) * samples[i];
  return std::sqrt(sum / count);
}

// The frequency (Hz, 1 Hz steps from 50 to 1000) with the most energy, by Goertzel.
double DominantFrequency(const float* samples, int count) {
  double best = 0, best_power = -1;
  for (int f = 50; f <= 1000; ++f) {
    const double w = 2 * std::numbers::pi * f / kRate, c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (int i = 0; i < count; ++i) {
      const double s0 = samples[i] + c * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    if (power > best_power) {
      best_power = power;
      best = f;
    }
  }
  return best;
}

struct SoundCase {
  bool pitch_correction;
  double frequency;  // what the 440 Hz tone should sound like
};

class SoundTest : public testing::TestWithParam<SoundCase> {
 protected:
  void SetUp() override {
    test::InitXThreads();
    if (!SoundServerRuns())
      GTEST_SKIP() << "no sound server (scripts/test starts one)";
  }
};

TEST_P(SoundTest, AQuarterRateSoundsFourTimesAsLongWithoutGaps) {
  PrivateSink sink;
  ASSERT_TRUE(sink.ok());
  test::TestWindow owner(320, 240);
  ASSERT_TRUE(owner.ok());
  CMovie movie;
  const std::string path = test::Movie("mjpeg-pcm-4x3.avi");
  ASSERT_TRUE(movie.InitializeGraph(std::u16string(path.begin(), path.end()), owner.id()));
  movie.EnablePitchShift(GetParam().pitch_correction);
  movie.Pause();
  int64_t from = 2 * kSecond, to = 4 * kSecond;
  ASSERT_EQ(movie.GetMediaSeeking()->SetPositions(&from, media::AM_SEEKING_AbsolutePositioning, &to,
                                                  media::AM_SEEKING_AbsolutePositioning),
            media::S_OK);
  movie.SetRate(0.25);

  Recorder recorder(sink.monitor(), testing::TempDir() + "sound-" + sink.monitor() + ".raw");
  ASSERT_TRUE(recorder.started());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // parec connected
  movie.Run();
  QElapsedTimer timer;
  timer.start();
  while (movie.IsPlaying() && timer.elapsed() < 30000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    movie.GraphNotifyProc();
  }
  ASSERT_FALSE(movie.IsPlaying()) << "the end of the excerpt was reached";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::vector<float> sound = recorder.Stop();
  ASSERT_GT(sound.size(), size_t(6 * kRate));

  // Where the sound is: 10 ms windows well above silence.
  std::vector<double> rms;
  for (size_t i = 0; i + kWindow <= sound.size(); i += kWindow)
    rms.push_back(Rms(&sound[i], kWindow));
  const double loudest = *std::max_element(rms.begin(), rms.end());
  ASSERT_GT(loudest, 0.05) << "something was heard";
  const auto loud = [&](double r) { return r > 0.1 * loudest; };
  const size_t first = std::find_if(rms.begin(), rms.end(), loud) - rms.begin();
  const size_t last = rms.rend() - std::find_if(rms.rbegin(), rms.rend(), loud) - 1;
  const double seconds = double(last - first + 1) / 100;
  // Eight seconds, less what the filter holds back: its block (up to 4095 frames) at the end
  // and, with pitch correction, the vocoder's delay of 4096 frames at the start, each stretched.
  EXPECT_LE(seconds, 8.3) << "two seconds of movie at a quarter of the rate";
  EXPECT_GE(seconds, GetParam().pitch_correction ? 7.0 : 7.5);

  // The steady middle: the sound never stops. The vocoder's output of a pure tone swells and
  // fades (its shifted spectrum fills only every fourth bin), with troughs of up to 20 ms;
  // a gap is 30 ms or more far below the median level.
  const size_t begin_window = first + 50, end_window = last - 50;
  std::vector<double> middle(rms.begin() + begin_window, rms.begin() + end_window);
  std::nth_element(middle.begin(), middle.begin() + middle.size() / 2, middle.end());
  const double median = middle[middle.size() / 2];
  int quiet_run = 0, gaps = 0;
  for (size_t w = begin_window; w < end_window; ++w) {
    quiet_run = rms[w] < 0.1 * median ? quiet_run + 1 : 0;
    gaps += quiet_run == 3;
  }
  EXPECT_EQ(gaps, 0) << "silences of 30 ms in the sound, median level " << median;
  const double peak = median * std::sqrt(2.0);
  double largest_step = 0;
  for (size_t i = begin_window * kWindow + 1; i < end_window * kWindow; ++i)
    largest_step = std::max(largest_step, double(std::fabs(sound[i] - sound[i - 1])));
  // A sine of 440 Hz moves at most 2 pi 440 / 44100 = 0.063 of its peak per sample.
  EXPECT_LT(largest_step, 0.2 * peak) << "a jump in the waveform";

  const size_t centre = (first + last) / 2 * kWindow;
  const double heard = DominantFrequency(&sound[centre - kRate / 2], kRate);
  EXPECT_NEAR(heard, GetParam().frequency, 0.05 * GetParam().frequency);
}

INSTANTIATE_TEST_SUITE_P(Pitch, SoundTest,
                         testing::Values(SoundCase{true, 440.0}, SoundCase{false, 110.0}),
                         [](const testing::TestParamInfo<SoundCase>& info) {
                           return info.param.pitch_correction ? "Corrected" : "Uncorrected";
                         });

}  // namespace
}  // namespace quorvex
