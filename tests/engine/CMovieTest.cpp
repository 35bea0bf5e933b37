// The movie graph on the generated movies, with its video in an X window of this process
// standing in for the user interface's panel.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
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
using media::S_OK;
using std::chrono::milliseconds;

constexpr int64_t kSecond = media::kUnitsPerSecond;
constexpr double kFrameUnits = 10'010'000.0 / 30.0;  // 29.97 fps
constexpr uint32_t kGraphNotify = 0x8001;

int64_t FrameTime(int frame) {
  return int64_t(frame * kFrameUnits + 0.5);
}

std::u16string Path(const std::string& file) {
  return std::u16string(file.begin(), file.end());
}

// Runs the Qt event loop until `done` or `limit` has passed; true when done.
bool RunUntil(const std::function<bool()>& done, milliseconds limit) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < limit.count())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

// A short mono WAV: a playable file without a picture.
std::string WriteSoundOnlyFile() {
  const std::string path = testing::TempDir() + "sound-only.wav";
  std::system(("gst-launch-1.0 -q audiotestsrc num-buffers=20 ! wavenc ! filesink location=" +
               path + " >/dev/null 2>&1")
                  .c_str());
  return path;
}

// Finds the pitch filter when a graph adds it (GObject emits property notifications only to
// objects that have a handler): logs every rate given to it with the clock's rate at that
// moment, and notes when it is finalised. Must outlive the graphs it watches.
struct PitchFilterSpy {
  bool added = false, gone = false;
  std::vector<std::pair<double, double>> rates;  // (filter rate, clock rate)
  gulong hook = g_signal_add_emission_hook(Signal(), 0, &OnAdded, this, nullptr);

  ~PitchFilterSpy() { g_signal_remove_emission_hook(Signal(), hook); }
  static guint Signal() {
    gst_init(nullptr, nullptr);
    return g_signal_lookup("element-added", GST_TYPE_BIN);
  }
  static gboolean OnAdded(GSignalInvocationHint*, guint, const GValue* values, gpointer self) {
    GstElement* element = GST_ELEMENT(g_value_get_object(&values[1]));
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory || std::string(GST_OBJECT_NAME(factory)) != "quorvexpitchshift")
      return TRUE;
    static_cast<PitchFilterSpy*>(self)->added = true;
    g_signal_connect(element, "notify::rate", G_CALLBACK(&OnRate), self);
    g_object_weak_ref(
        G_OBJECT(element),
        [](gpointer s, GObject*) { static_cast<PitchFilterSpy*>(s)->gone = true; }, self);
    return TRUE;
  }
  static void OnRate(GObject* filter, GParamSpec*, gpointer self) {
    double rate = 0;
    g_object_get(filter, "rate", &rate, nullptr);
    GstObject* graph = gst_object_get_parent(GST_OBJECT(filter));
    GstClock* clock = gst_pipeline_get_pipeline_clock(GST_PIPELINE(graph));
    static_cast<PitchFilterSpy*>(self)->rates.emplace_back(rate, Clock::From(clock)->GetRate());
    gst_object_unref(clock);
    gst_object_unref(graph);
  }
};

// Counts what every video decoder that a graph adds puts out: how often it puts out the
// picture with the first time stamp it put out. Must outlive the graphs it watches.
struct DecoderSpy {
  std::mutex mutex;
  GstClockTime first = GST_CLOCK_TIME_NONE;  // guarded by mutex
  int first_count = 0;                       // guarded by mutex
  gulong hook = g_signal_add_emission_hook(PitchFilterSpy::Signal(), 0, &OnAdded, this, nullptr);

  ~DecoderSpy() { g_signal_remove_emission_hook(PitchFilterSpy::Signal(), hook); }
  int FirstCount() {
    std::lock_guard lock(mutex);
    return first_count;
  }
  static gboolean OnAdded(GSignalInvocationHint*, guint, const GValue* values, gpointer self) {
    GstElement* element = GST_ELEMENT(g_value_get_object(&values[1]));
    GstElementFactory* factory = gst_element_get_factory(element);
    const char* klass =
        factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : nullptr;
    if (!klass || !strstr(klass, "Decoder") || !strstr(klass, "Video"))
      return TRUE;
    GstPad* src = gst_element_get_static_pad(element, "src");
    if (src) {
      gst_pad_add_probe(src, GST_PAD_PROBE_TYPE_BUFFER, &OnBuffer, self, nullptr);
      gst_object_unref(src);
    }
    return TRUE;
  }
  static GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo* info, gpointer self) {
    auto* spy = static_cast<DecoderSpy*>(self);
    const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
    std::lock_guard lock(spy->mutex);
    if (spy->first == GST_CLOCK_TIME_NONE)
      spy->first = pts;
    if (pts == spy->first)
      ++spy->first_count;
    return GST_PAD_PROBE_OK;
  }
};

class CMovieTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(owner_.ok()); }

  // Builds the graph for `movie` and pauses it on its first picture, as the movie window does.
  void Open(const std::string& movie) {
    ASSERT_TRUE(movie_.InitializeGraph(Path(test::Movie(movie)), owner_.id()));
    movie_.SetVideoSize(owner_.width(), owner_.height());
    movie_.Pause();
  }

  int64_t Position() {
    int64_t units = -1;
    EXPECT_EQ(movie_.GetCurrentPosition(&units), S_OK);
    return units;
  }

  void SeekTo(int64_t units, int64_t stop = -1) {
    ASSERT_EQ(movie_.SetPositions(
                  &units, AM_SEEKING_AbsolutePositioning, stop < 0 ? nullptr : &stop,
                  stop < 0 ? media::AM_SEEKING_NoPositioning : AM_SEEKING_AbsolutePositioning),
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
    ASSERT_EQ(movie_.SetNotifyWindow(notify_window_->handle(), kGraphNotify, 7), S_OK);
  }

  test::TestWindow owner_{480, 360};
  PitchFilterSpy spy_;  // before the movie: outlives it
  CMovie movie_;
  std::unique_ptr<ipc::MessagePort> notify_window_;
  int notifications_ = 0;
};

TEST_F(CMovieTest, WithoutAGraphEveryOperationIsSafe) {
  int32_t x = 0, y = 0;
  movie_.GetAspectRatio(x, y);
  EXPECT_EQ(std::pair(x, y), std::pair(4, 3));
  int64_t units = 0;
  EXPECT_EQ(movie_.GetCurrentPosition(&units), media::E_FAIL);
  EXPECT_EQ(movie_.SetPositions(&units, AM_SEEKING_AbsolutePositioning, nullptr, 0),
            media::E_UNEXPECTED);
  EXPECT_EQ(movie_.SetNotifyWindow(1, kGraphNotify, 0), media::E_UNEXPECTED);
  EXPECT_EQ(movie_.put_Volume(0), media::E_NOTIMPL);
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

struct OpenCase {
  const char* file;
  bool opens, video, audio, through_filter;
};

// Every kind of audio with the real pitch filter in the graph; a file without a picture, or no
// movie at all, fails. The graph of a CMovie goes with it, also when the file could not be
// opened: the pitch filter that it held is finalised.
TEST_F(CMovieTest, OpensPlayableMoviesAndReleasesTheGraphWithTheMovie) {
  for (const OpenCase& c : {OpenCase{"h264-aac-16x9.mp4", true, true, true, true},
                            OpenCase{"mjpeg-pcm-4x3.avi", true, true, true, true},
                            OpenCase{"h264-vorbis-mono48k.mkv", true, true, true, true},
                            OpenCase{"h264-noaudio.mp4", true, true, false, false},
                            OpenCase{"h264-pcm-6ch.mkv", true, true, true, true},
                            OpenCase{"sound-only", false, false, true, true},
                            OpenCase{"text-file.mp4", false, false, false, false},
                            OpenCase{"truncated.mp4", false, false, false, false},
                            OpenCase{"no-such-file.mp4", false, false, false, false}}) {
    SCOPED_TRACE(c.file);
    spy_.added = spy_.gone = false;
    {
      CMovie movie;
      const std::string file =
          c.file == std::string("sound-only") ? WriteSoundOnlyFile() : test::Movie(c.file);
      EXPECT_EQ(movie.InitializeGraph(Path(file), owner_.id()), c.opens);
      EXPECT_FALSE(movie.InitializeGraph(Path(file), owner_.id())) << "one movie per graph";
      media::Graph* graph = movie.graph();
      ASSERT_NE(graph, nullptr);
      EXPECT_FALSE(graph->Open(file)) << "one file per graph";
      EXPECT_EQ(graph->has_video(), c.video);
      EXPECT_EQ(graph->has_audio(), c.audio);
      EXPECT_EQ(graph->audio_through_filter(), c.through_filter);
      EXPECT_EQ(movie.GetRate(), 1.0);
      if (c.opens)
        movie.Run();
      EXPECT_EQ(movie.IsPlaying(), c.opens);
      EXPECT_TRUE(spy_.added);
      EXPECT_FALSE(spy_.gone);
    }
    EXPECT_TRUE(spy_.gone);
  }
}

// Opening as the movie window does (InitializeGraph, SetVideoSize, Pause) decodes the first
// picture once and shows it: neither the sizing nor the Pause prerolls again.
TEST_F(CMovieTest, AnOpenDecodesTheFirstPictureOnce) {
  for (const char* file : {"h264-aac-16x9.mp4", "h264-mp2.ts", "long-gop-60fps.mp4"}) {
    SCOPED_TRACE(file);
    DecoderSpy decoded;
    CMovie movie;
    ASSERT_TRUE(movie.InitializeGraph(Path(test::Movie(file)), owner_.id()));
    movie.SetVideoSize(owner_.width(), owner_.height());
    movie.Pause();
    // The queue decodes ahead meanwhile: a second preroll would have come by now.
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(decoded.FirstCount(), 1);
    EXPECT_EQ(movie.graph()->pictures_received(), 1u) << "the sink took one picture";
    ASSERT_TRUE(movie.graph()->shown());
    std::lock_guard lock(decoded.mutex);
    EXPECT_EQ(uint64_t(movie.graph()->shown()->start_ns), decoded.first);
  }
}

// The movie window's rate change: Stop, SetRate, Pause, Run continues from the same frame.
TEST_F(CMovieTest, ARateChangeKeepsThePosition) {
  Open("h264-aac-16x9.mp4");
  SeekTo(FrameTime(90));
  EXPECT_EQ(Position(), FrameTime(90));
  movie_.Run();
  std::this_thread::sleep_for(milliseconds(400));
  for (double rate : {0.5, 0.25, 1.0, 0.0625}) {
    movie_.Stop();
    EXPECT_FALSE(movie_.IsPlaying());
    const int64_t kept = Position();
    movie_.SetRate(rate);
    EXPECT_EQ(movie_.GetRate(), rate);
    movie_.Pause();
    EXPECT_EQ(Position(), kept) << "rate " << rate;
    movie_.Run();
    std::this_thread::sleep_for(milliseconds(300));
  }
  // Changed while running: the movie goes on from where it was, at the new rate.
  const int64_t before = Position();
  movie_.SetRate(0.5);
  const int64_t after = Position();
  EXPECT_GE(after, before);
  EXPECT_LT(after, before + kSecond / 4);
}

// Slowing down sets the clock before the filter, speeding up the filter before the clock; the
// same rate again sets nothing, and rates that mean nothing are ignored.
TEST_F(CMovieTest, SetRateOrdersTheClockAndTheFilter) {
  Open("mjpeg-pcm-4x3.avi");
  movie_.SetRate(0.5);
  movie_.SetRate(0.5);
  movie_.SetRate(0.25);
  for (double bad : {0.0, -0.5, std::nan(""), double(INFINITY)})
    movie_.SetRate(bad);
  EXPECT_EQ(movie_.GetRate(), 0.25);
  movie_.SetRate(1.0);
  const std::vector<std::pair<double, double>> expected = {{0.5, 0.5}, {0.25, 0.25}, {1.0, 0.25}};
  EXPECT_EQ(spy_.rates, expected);
}

// Two seconds of movie at 1/4 take eight seconds: the whole graph runs on the slowed clock.
// Measured on the picture's position (the end of the movie also waits for the sound, whose
// start the test sound server may delay). The end posts the notification; answering it pauses
// on the last picture, and Run there completes at once again.
TEST_F(CMovieTest, AQuarterRateTakesFourTimesAsLongAndTheEndPauses) {
  Open("mjpeg-pcm-4x3.avi");
  AnswerNotifications();
  SeekTo(2 * kSecond, 4 * kSecond);
  movie_.SetRate(0.25);
  const auto began = std::chrono::steady_clock::now();
  movie_.Run();
  std::this_thread::sleep_until(began + milliseconds(1000));
  const int64_t first = Position();
  std::this_thread::sleep_until(began + milliseconds(5000));
  EXPECT_NEAR(double(Position() - first), double(kSecond), 0.05 * kSecond)
      << "four seconds of wall time are one second of movie";
  ASSERT_TRUE(RunUntil([&] { return !movie_.IsPlaying(); }, std::chrono::seconds(30)));
  EXPECT_GT(std::chrono::steady_clock::now() - began, milliseconds(7900));
  EXPECT_GE(notifications_, 1);
  const int64_t end = Position();
  EXPECT_NEAR(double(end), double(4 * kSecond), 2 * kFrameUnits);
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(Position(), end);
  movie_.Run();
  EXPECT_TRUE(RunUntil([&] { return !movie_.IsPlaying(); }, std::chrono::seconds(5)));
}

}  // namespace
}  // namespace quorvex

namespace quorvex {
namespace {


struct PlayCase {
  const char* movie;
  bool sound_server;
  double rate;
};

// While playing, the position read is that of the picture on screen, within one frame, for
// every way the sound leaves the graph (a sound server, none, no sound at all) and at 1 and 1/4:
// each picture grabbed while playing is the one a seek to the position read shows, or the next.
TEST_F(CMovieTest, ThePositionWhilePlayingIsThatOfThePictureOnScreen) {
  const char* pulse = std::getenv("PULSE_SERVER");
  const std::string saved = pulse ? pulse : "";
  for (const PlayCase& c : {PlayCase{"h264-aac-16x9.mp4", true, 1.0},
                            PlayCase{"h264-aac-16x9.mp4", false, 1.0},
                            PlayCase{"h264-aac-16x9.mp4", false, 0.25},
                            PlayCase{"h264-noaudio.mp4", true, 0.25}}) {
    SCOPED_TRACE(std::string(c.movie) + (c.sound_server ? "" : ", no sound server") + " at " +
                 std::to_string(c.rate));
    if (c.sound_server && pulse)
      setenv("PULSE_SERVER", saved.c_str(), 1);
    else if (c.sound_server)
      unsetenv("PULSE_SERVER");
    else
      setenv("PULSE_SERVER", "unix:/nonexistent/quorvex-test", 1);
    CMovie movie;
    const std::string path = test::Movie(c.movie);
    ASSERT_TRUE(movie.InitializeGraph(Path(path), owner_.id()));
    movie.SetVideoSize(owner_.width(), owner_.height());
    movie.Pause();
    movie.SetRate(c.rate);
    int64_t start = media::kUnitsPerSecond;
    ASSERT_EQ(movie.SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    movie.Run();
    std::vector<std::pair<int64_t, std::vector<test::Rgb>>> seen;
    for (int i = 0; i < 5; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      int64_t at = -1;
      ASSERT_EQ(movie.GetCurrentPosition(&at), S_OK);
      seen.emplace_back(at, owner_.Grab());
    }
    movie.Pause();
    EXPECT_GT(seen.back().first, seen.front().first) << "it played";
    for (auto& [at, picture] : seen) {
      bool shown = false;
      for (int64_t frame : {at, at + int64_t(kFrameUnits)}) {
        int64_t target = frame;
        movie.SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0);
        shown = shown || picture == owner_.Grab();
      }
      EXPECT_TRUE(shown) << "the picture on screen at " << at;
    }
  }
  if (pulse)
    setenv("PULSE_SERVER", saved.c_str(), 1);
  else
    unsetenv("PULSE_SERVER");
}

// A portrait clip stored on its side with a rotation tag stands upright: 9:16, its red marker
// along the top edge.
TEST_F(CMovieTest, ARotationTaggedClipStandsUpright) {
  ASSERT_TRUE(movie_.InitializeGraph(Path(test::Movie("portrait-rot90.mp4")), owner_.id()));
  int32_t x = 0, y = 0;
  movie_.GetAspectRatio(x, y);
  EXPECT_EQ(std::pair(x, y), std::pair(9, 16));
  movie_.SetVideoSize(owner_.width(), owner_.height());
  movie_.Pause();
  const std::vector<test::Rgb> picture = owner_.Grab();
  const int width = owner_.height() * 9 / 16;  // fitted into the window's height
  const auto at = [&](int px, int py) { return picture[size_t(py * owner_.width() + px)]; };
  const test::Rgb top = at(width / 2, 3), bottom = at(width / 2, owner_.height() - 3);
  EXPECT_TRUE(top.r > 200 && top.g < 60 && top.b < 60) << "red along the top";
  EXPECT_TRUE(bottom.r < 60) << "not red at the bottom";
}

}  // namespace
}  // namespace quorvex

namespace quorvex {
namespace {

// Values from the channel that would overflow are held or refused: relative seeks beyond the
// 64-bit range stop at the ends of the movie, an absurd rate changes nothing, an area larger
// than any screen draws nothing and breaks nothing (UBSan watches the arithmetic).
TEST_F(CMovieTest, ValuesThatWouldOverflowAreHeldOrRefused) {
  Open("h264-aac-16x9.mp4");
  int64_t duration = 0;
  ASSERT_EQ(movie_.GetDuration(&duration), S_OK);
  SeekTo(kSecond);
  int64_t far = std::numeric_limits<int64_t>::max();
  ASSERT_EQ(movie_.SetPositions(&far, media::AM_SEEKING_RelativePositioning |
                                          media::AM_SEEKING_ReturnTime,
                                nullptr, 0),
            S_OK);
  EXPECT_EQ(Position(), duration);
  far = std::numeric_limits<int64_t>::min();
  ASSERT_EQ(movie_.SetPositions(&far, media::AM_SEEKING_RelativePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(Position(), 0);
  for (double rate : {1e300, -1.0, 0.0, 1e-300, std::numeric_limits<double>::quiet_NaN()}) {
    movie_.SetRate(rate);
    EXPECT_EQ(movie_.GetRate(), 1.0) << rate;
  }
  movie_.SetVideoSize(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max());
  movie_.SetVideoSize(owner_.width(), owner_.height());
  EXPECT_EQ(Position(), 0) << "still there";
}

}  // namespace
}  // namespace quorvex
