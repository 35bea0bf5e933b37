// The movie graph on the generated movies, with its video in an X window of this process
// standing in for the user interface's panel.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include <gst/gst.h>

#include "engine/CMovie.h"
#include "engine/Clock.h"
#include "platform/ipc/MessagePort.h"
#include "tests/platform/media/TestWindow.h"
#include "tests/support/TestEnv.h"

namespace quorvex {
namespace {

using media::AM_SEEKING_AbsolutePositioning;
using media::AM_SEEKING_NoPositioning;
using media::AM_SEEKING_ReturnTime;
using media::S_OK;

constexpr int64_t kSecond = media::kUnitsPerSecond;
constexpr double kFrameUnits = 10'010'000.0 / 30.0;  // 29.97 fps
constexpr uint32_t kGraphNotify = 0x8001;

int64_t FrameTime(int frame) {
  return int64_t(frame * kFrameUnits + 0.5);
}

std::u16string Path(const std::string& file) {
  return std::u16string(file.begin(), file.end());
}

std::u16string Movie(const std::string& name) {
  return Path(test::Movie(name));
}

// Runs the Qt event loop until `done` or `limit` has passed; true when done.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < limit.count())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

class CMovieTest : public testing::Test {
 protected:
  void SetUp() override { test::InitXThreads(); }

  // Builds the graph for `movie` into `owner_` and pauses it on its first picture, as the
  // movie window does.
  void Open(const std::string& movie) {
    ASSERT_TRUE(owner_.ok());
    ASSERT_TRUE(movie_.InitializeGraph(Movie(movie), owner_.id()));
    movie_.SetVideoSize(owner_.width(), owner_.height());
    movie_.Pause();
  }

  int64_t Position() {
    int64_t units = -1;
    EXPECT_EQ(movie_.GetMediaSeeking()->GetCurrentPosition(&units), S_OK);
    return units;
  }

  void SeekTo(int64_t units, int64_t stop = -1) {
    ASSERT_EQ(movie_.GetMediaSeeking()->SetPositions(
                  &units, AM_SEEKING_AbsolutePositioning, stop < 0 ? nullptr : &stop,
                  stop < 0 ? AM_SEEKING_NoPositioning : AM_SEEKING_AbsolutePositioning),
              S_OK);
  }

  // Registers a window that answers the graph's notification as the movie window does.
  void AnswerNotifications() {
    notify_window_ = std::make_unique<ipc::MessagePort>([this](const ipc::Message& m) {
      if (m.code == kGraphNotify && m.lparam == 7) {
        ++notifications_;
        movie_.GraphNotifyProc();
      }
      return int64_t(0);
    });
    ASSERT_EQ(movie_.GetMediaEvent()->SetNotifyWindow(notify_window_->handle(), kGraphNotify, 7),
              S_OK);
  }

  test::TestWindow owner_{480, 360};
  CMovie movie_;
  std::unique_ptr<ipc::MessagePort> notify_window_;
  int notifications_ = 0;
};

TEST_F(CMovieTest, WithoutAGraphEveryOperationIsSafe) {
  int32_t x = 0, y = 0;
  movie_.GetAspectRatio(x, y);
  EXPECT_EQ(x, 4);
  EXPECT_EQ(y, 3);
  EXPECT_EQ(movie_.GetRate(), 1.0);
  EXPECT_FALSE(movie_.IsPlaying());
  EXPECT_EQ(movie_.GetMediaEvent(), nullptr);
  EXPECT_EQ(movie_.GetMediaSeeking(), nullptr);
  EXPECT_EQ(movie_.GetBasicAudio(), nullptr);
  movie_.SetVideoSize(640, 480);
  movie_.SetRate(0.5);
  movie_.EnablePitchShift(true);
  movie_.Run();
  movie_.Pause();
  movie_.Stop();
  movie_.GraphNotifyProc();
  EXPECT_FALSE(movie_.IsPlaying());
  EXPECT_EQ(movie_.GetRate(), 1.0);
}

// A one-second mono WAV: a playable file without a picture.
std::string WriteSoundOnlyFile() {
  const std::string path = testing::TempDir() + "sound-only.wav";
  FILE* file = std::fopen(path.c_str(), "wb");
  const uint32_t rate = 8000, bytes = rate * 2;
  const uint32_t header[] = {0x46464952, 36 + bytes, 0x45564157, 0x20746d66, 16,   0x00010001,
                             rate,       rate * 2,   0x00100002, 0x61746164, bytes};
  std::fwrite(header, sizeof header, 1, file);
  for (uint32_t i = 0; i < rate; ++i) {
    const int16_t sample = int16_t(8000 * ((i / 20) % 2 ? 1 : -1));
    std::fwrite(&sample, 2, 1, file);
  }
  std::fclose(file);
  return path;
}

struct InitCase {
  const char* movie;
  bool plays;
};

class InitializeGraphTest : public CMovieTest, public testing::WithParamInterface<InitCase> {};

TEST_P(InitializeGraphTest, OpensWhatIsAPlayableMovie) {
  ASSERT_TRUE(owner_.ok());
  const std::string name = GetParam().movie;
  const std::u16string path = name == "sound-only" ? Path(WriteSoundOnlyFile()) : Movie(name);
  EXPECT_EQ(movie_.InitializeGraph(path, owner_.id()), GetParam().plays);
  EXPECT_FALSE(movie_.InitializeGraph(path, owner_.id())) << "one movie per graph";
  EXPECT_EQ(movie_.GetRate(), 1.0);
  EXPECT_FALSE(movie_.IsPlaying());
}

INSTANTIATE_TEST_SUITE_P(
    Movies, InitializeGraphTest,
    testing::Values(InitCase{"h264-aac-16x9.mp4", true}, InitCase{"mjpeg-pcm-4x3.avi", true},
                    InitCase{"h264-vorbis-mono48k.mkv", true}, InitCase{"h264-noaudio.mp4", true},
                    InitCase{"h264-pcm-6ch.mkv", true}, InitCase{"sound-only", false},
                    InitCase{"text-file.mp4", false}, InitCase{"truncated.mp4", false}),
    [](const testing::TestParamInfo<InitCase>& info) {
      std::string name = info.param.movie;
      for (char& ch : name) {
        if (!isalnum(static_cast<unsigned char>(ch)))
          ch = '_';
      }
      return name;
    });

TEST_F(CMovieTest, AnOwnerThatIsNoWindowFails) {
  EXPECT_FALSE(movie_.InitializeGraph(Movie("h264-aac-16x9.mp4"), 0x7ffffff0));
}

TEST_F(CMovieTest, AspectRatioOfTheMovie) {
  for (auto [name, ax, ay] :
       {std::tuple{"h264-aac-16x9.mp4", 16, 9}, std::tuple{"mjpeg-pcm-4x3.avi", 4, 3}}) {
    CMovie movie;
    ASSERT_TRUE(movie.InitializeGraph(Movie(name), owner_.id()));
    int32_t x = 0, y = 0;
    movie.GetAspectRatio(x, y);
    EXPECT_EQ(x, ax) << name;
    EXPECT_EQ(y, ay) << name;
  }
}

TEST_F(CMovieTest, RunPauseAndStop) {
  Open("h264-aac-16x9.mp4");
  EXPECT_FALSE(movie_.IsPlaying());
  EXPECT_EQ(Position(), 0);
  movie_.Run();
  EXPECT_TRUE(movie_.IsPlaying());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  movie_.Pause();
  EXPECT_FALSE(movie_.IsPlaying());
  const int64_t paused_at = Position();
  EXPECT_GT(paused_at, kSecond / 5);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Position(), paused_at) << "a paused movie stands";
  movie_.Run();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  movie_.Stop();
  EXPECT_FALSE(movie_.IsPlaying());
  const int64_t stopped_at = Position();
  EXPECT_GT(stopped_at, paused_at);
  movie_.Pause();
  EXPECT_EQ(Position(), stopped_at) << "Stop keeps the position";
}

TEST_F(CMovieTest, SeekToAFrameWhilePaused) {
  Open("h264-aac-16x9.mp4");
  for (int frame : {150, 151, 149, 30, 299}) {
    int64_t target = FrameTime(frame);
    ASSERT_EQ(movie_.GetMediaSeeking()->SetPositions(
                  &target, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, nullptr,
                  AM_SEEKING_NoPositioning),
              S_OK);
    EXPECT_EQ(target, FrameTime(frame));
    EXPECT_EQ(Position(), FrameTime(frame));
  }
  int64_t duration = 0;
  ASSERT_EQ(movie_.GetMediaSeeking()->GetDuration(&duration), S_OK);
  EXPECT_NEAR(double(duration), double(FrameTime(300)), 0.03 * kSecond);
}

// The movie window's rate change: Stop, SetRate, Pause, Run continues from the same frame.
TEST_F(CMovieTest, ARateChangeKeepsThePosition) {
  Open("h264-aac-16x9.mp4");
  SeekTo(FrameTime(90));
  movie_.Run();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  for (double rate : {0.5, 0.25, 1.0, 0.0625}) {
    movie_.Stop();
    const int64_t kept = Position();
    movie_.SetRate(rate);
    EXPECT_EQ(movie_.GetRate(), rate);
    movie_.Pause();
    EXPECT_EQ(Position(), kept) << "rate " << rate;
    movie_.Run();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  // Changed while running: the movie goes on from where it was, at the new rate.
  const int64_t before = Position();
  movie_.SetRate(0.5);
  const int64_t after = Position();
  EXPECT_GE(after, before);
  EXPECT_LT(after, before + kSecond / 4);
}

// Every rate given to the pitch filter, with the clock's rate at that moment. The filter is
// found when the graph adds it (GObject emits property notifications only to objects that
// have a handler).
struct FilterRateLog {
  std::vector<std::pair<double, double>> entries;  // (filter rate, clock rate)

  static gboolean OnElementAdded(GSignalInvocationHint*, guint, const GValue* values,
                                 gpointer self) {
    GstElement* element = GST_ELEMENT(g_value_get_object(&values[1]));
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory && std::string(GST_OBJECT_NAME(factory)) == "quorvexpitchshift")
      g_signal_connect(element, "notify::rate", G_CALLBACK(&OnRate), self);
    return TRUE;
  }
  static void OnRate(GObject* filter, GParamSpec*, gpointer self) {
    double rate = 0;
    g_object_get(filter, "rate", &rate, nullptr);
    GstObject* graph = gst_object_get_parent(GST_OBJECT(filter));
    GstClock* clock = gst_pipeline_get_pipeline_clock(GST_PIPELINE(graph));
    static_cast<FilterRateLog*>(self)->entries.emplace_back(rate, Clock::From(clock)->GetRate());
    gst_object_unref(clock);
    gst_object_unref(graph);
  }
};

// Slowing down sets the clock before the filter, speeding up the filter before the clock; the
// same rate again sets nothing.
TEST_F(CMovieTest, SetRateOrdersTheClockAndTheFilter) {
  FilterRateLog log;
  gst_init(nullptr, nullptr);
  const guint added = g_signal_lookup("element-added", GST_TYPE_BIN);
  const gulong hook =
      g_signal_add_emission_hook(added, 0, &FilterRateLog::OnElementAdded, &log, nullptr);
  Open("mjpeg-pcm-4x3.avi");
  g_signal_remove_emission_hook(added, hook);
  movie_.SetRate(0.5);
  movie_.SetRate(0.5);
  movie_.SetRate(0.25);
  movie_.SetRate(1.0);
  const std::vector<std::pair<double, double>> expected = {{0.5, 0.5}, {0.25, 0.25}, {1.0, 0.25}};
  EXPECT_EQ(log.entries, expected);
}

// The graph goes with the CMovie, also when the file could not be opened: the pitch filter
// that it held is finalised.
TEST_F(CMovieTest, TheGraphIsReleasedWithTheMovie) {
  struct Watch {
    bool added = false, gone = false;
    static gboolean OnElementAdded(GSignalInvocationHint*, guint, const GValue* values,
                                   gpointer self) {
      GstElement* element = GST_ELEMENT(g_value_get_object(&values[1]));
      GstElementFactory* factory = gst_element_get_factory(element);
      auto* watch = static_cast<Watch*>(self);
      if (factory && std::string(GST_OBJECT_NAME(factory)) == "quorvexpitchshift") {
        watch->added = true;
        g_object_weak_ref(
            G_OBJECT(element), [](gpointer w, GObject*) { static_cast<Watch*>(w)->gone = true; },
            self);
      }
      return TRUE;
    }
  };
  gst_init(nullptr, nullptr);
  const guint added = g_signal_lookup("element-added", GST_TYPE_BIN);
  for (auto [name, opens] :
       {std::pair{"h264-aac-16x9.mp4", true}, std::pair{"truncated.mp4", false}}) {
    Watch watch;
    const gulong hook =
        g_signal_add_emission_hook(added, 0, &Watch::OnElementAdded, &watch, nullptr);
    {
      CMovie movie;
      EXPECT_EQ(movie.InitializeGraph(Movie(name), owner_.id()), opens) << name;
      g_signal_remove_emission_hook(added, hook);
      if (opens) {
        movie.Run();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
      EXPECT_TRUE(watch.added) << name;
      EXPECT_FALSE(watch.gone) << name;
    }
    EXPECT_TRUE(watch.gone) << name;
  }
}

TEST_F(CMovieTest, UnusableRatesAreIgnored) {
  Open("mjpeg-pcm-4x3.avi");
  movie_.SetRate(0.25);
  for (double bad : {0.0, -0.5, std::nan("")})
    movie_.SetRate(bad);
  EXPECT_EQ(movie_.GetRate(), 0.25);
}

// The end of the movie posts the notification; answering it pauses on the last picture.
TEST_F(CMovieTest, EndOfMoviePausesThroughTheNotification) {
  Open("h264-aac-16x9.mp4");
  AnswerNotifications();
  SeekTo(FrameTime(280));
  movie_.Run();
  ASSERT_TRUE(RunUntil([&] { return !movie_.IsPlaying(); }, std::chrono::seconds(20)));
  EXPECT_GE(notifications_, 1);
  const int64_t end = Position();
  EXPECT_GT(end, FrameTime(295));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Position(), end);
  // Run at the end: the movie is complete at once again.
  movie_.Run();
  EXPECT_TRUE(RunUntil([&] { return !movie_.IsPlaying(); }, std::chrono::seconds(5)));
}

TEST_F(CMovieTest, VolumeThroughTheAudioInterface) {
  Open("mjpeg-pcm-4x3.avi");
  EXPECT_EQ(movie_.GetBasicAudio()->put_Volume(-10000), S_OK);
  EXPECT_EQ(movie_.GetBasicAudio()->put_Volume(0), S_OK);
  EXPECT_EQ(movie_.GetBasicAudio()->put_Volume(100), media::E_INVALIDARG);
}

// Two seconds of movie at 1/4 take eight seconds: the whole graph runs on the slowed clock.
// Measured on the picture's position (the end of the movie also waits for the sound, whose
// start the test sound server may delay).
TEST_F(CMovieTest, AQuarterRateTakesFourTimesAsLong) {
  Open("mjpeg-pcm-4x3.avi");
  AnswerNotifications();
  SeekTo(2 * kSecond, 4 * kSecond);
  movie_.SetRate(0.25);
  const auto began = std::chrono::steady_clock::now();
  movie_.Run();
  std::this_thread::sleep_until(began + std::chrono::milliseconds(1000));
  const int64_t first = Position();
  std::this_thread::sleep_until(began + std::chrono::milliseconds(5000));
  const int64_t second = Position();
  EXPECT_NEAR(double(second - first), double(kSecond), 0.05 * kSecond)
      << "four seconds of wall time are one second of movie";
  ASSERT_TRUE(RunUntil([&] { return !movie_.IsPlaying(); }, std::chrono::seconds(30)));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  EXPECT_GT(seconds, 7.9);
  EXPECT_NEAR(double(Position()), double(4 * kSecond), 2 * kFrameUnits);
}

}  // namespace
}  // namespace quorvex
