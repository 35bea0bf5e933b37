// The movie graph on the generated movies, with its video in an X window of this process
// standing in for the user interface's panel: the picture fitted to the requested area at its
// top-left corner, the rest of the owner black.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>

#include <gst/gst.h>
#include <unistd.h>

#include "engine/CMovie.h"
#include "engine/Clock.h"
#include "engine/MovieUtils.h"
#include "platform/ipc/MessagePort.h"
#include "tests/support/TestEnv.h"
#include "tests/support/XTestWindow.h"

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

// A movie under a name with U+FFFD in it, written as a char16_t with the name as UTF-8.
std::string LoneSurrogateName() {
  const std::string path = testing::TempDir() + "lone-\xEF\xBF\xBD.mp4";
  std::remove(path.c_str());
  EXPECT_EQ(symlink(test::Movie("h264-aac-16x9.mp4").c_str(), path.c_str()), 0);
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

class CMovieTest : public testing::Test {
 protected:
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

  test::XTestWindow owner_{480, 360};
  PitchFilterSpy spy_;  // before the movie: outlives it
  CMovie movie_;
  std::unique_ptr<ipc::MessagePort> notify_window_;
  int notifications_ = 0;
};

struct OpenCase {
  const char* file;
  bool opens, video, audio, through_filter;
};

// Every kind of audio with the real pitch filter in the graph; a file without a picture fails.
// A lone surrogate in a name stands for the replacement character. The graph of a CMovie goes with
// it, also when the file could not be opened: the pitch filter that it held is finalised.
TEST_F(CMovieTest, OpensPlayableMoviesAndReleasesTheGraphWithTheMovie) {
  for (const OpenCase& c : {OpenCase{"h264-aac-16x9.mp4", true, true, true, true},
                            OpenCase{"h264-vorbis-mono48k.mkv", true, true, true, true},
                            OpenCase{"h264-noaudio.mp4", true, true, false, false},
                            OpenCase{"h264-pcm-6ch.mkv", true, true, true, true},
                            OpenCase{"lone-surrogate", true, true, true, true},
                            OpenCase{"sound-only", false, false, true, true}}) {
    SCOPED_TRACE(c.file);
    spy_.added = spy_.gone = false;
    {
      CMovie movie;
      const std::string name = c.file, file = name == "sound-only"       ? WriteSoundOnlyFile()
                                              : name == "lone-surrogate" ? LoneSurrogateName()
                                                                         : test::Movie(name);
      const std::u16string path = name == "lone-surrogate"
                                      ? Path(testing::TempDir() + "lone-") + u"\xD800.mp4"
                                      : Path(file);
      EXPECT_EQ(movie.InitializeGraph(path, owner_.id()), c.opens);
      EXPECT_FALSE(movie.InitializeGraph(path, owner_.id())) << "one movie per graph";
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

// Opening as the movie window does (InitializeGraph, SetVideoSize, Pause) takes and shows the
// first picture once: neither the sizing nor the Pause prerolls again.
TEST_F(CMovieTest, AnOpenTakesTheFirstPictureOnce) {
  for (const char* file : {"h264-mp2.ts", "long-gop-60fps.mp4"}) {
    SCOPED_TRACE(file);
    CMovie movie;
    ASSERT_TRUE(movie.InitializeGraph(Path(test::Movie(file)), owner_.id()));
    movie.SetVideoSize(owner_.width(), owner_.height());
    movie.Pause();
    // The queue decodes ahead meanwhile: a second preroll would have come by now.
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(movie.graph()->pictures_received(), 1u);
    EXPECT_TRUE(movie.graph()->shown());
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
  for (const PlayCase& c :
       {PlayCase{"h264-aac-16x9.mp4", true, 1.0}, PlayCase{"h264-aac-16x9.mp4", false, 1.0},
        PlayCase{"h264-aac-16x9.mp4", false, 0.25}, PlayCase{"h264-noaudio.mp4", true, 0.25}}) {
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
    std::vector<std::pair<int64_t, std::vector<uint32_t>>> seen;
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
  const std::vector<uint32_t> picture = owner_.Grab();
  const int width = owner_.height() * 9 / 16;  // fitted into the window's height
  const auto at = [&](int px, int py) {
    return test::ToRgb(picture[size_t(py * owner_.width() + px)]);
  };
  const test::Rgb top = at(width / 2, 3), bottom = at(width / 2, owner_.height() - 3);
  EXPECT_TRUE(top.r > 200 && top.g < 60 && top.b < 60) << "red along the top";
  EXPECT_TRUE(bottom.r < 60) << "not red at the bottom";
}

// Values from the channel that would overflow are held or refused: relative seeks beyond the
// 64-bit range stop at the ends of the movie, an absurd rate changes nothing, an area larger
// than any screen draws nothing and breaks nothing (UBSan watches the arithmetic).
TEST_F(CMovieTest, ValuesThatWouldOverflowAreHeldOrRefused) {
  Open("h264-aac-16x9.mp4");
  int64_t duration = 0;
  ASSERT_EQ(movie_.GetDuration(&duration), S_OK);
  SeekTo(kSecond);
  int64_t far = std::numeric_limits<int64_t>::max();
  ASSERT_EQ(
      movie_.SetPositions(
          &far, media::AM_SEEKING_RelativePositioning | media::AM_SEEKING_ReturnTime, nullptr, 0),
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

// What is wrong with the picture in `owner` for a video fitted to w by h at the top-left;
// empty when nothing is.
std::string CheckPicture(const test::XTestWindow& owner, int w, int h) {
  const std::vector<uint32_t> pixels = owner.Grab();
  if (pixels.size() != size_t(owner.width()) * owner.height())
    return "no picture grabbed";
  std::string wrong;
  const auto expect = [&](const auto& ok, const std::string& what, int x, int y) {
    const test::Rgb p = test::ToRgb(pixels[size_t(y) * owner.width() + x]);
    if (!ok(p))
      wrong += what + " at (" + std::to_string(x) + "," + std::to_string(y) + ") is " +
               std::to_string(p.r) + "/" + std::to_string(p.g) + "/" + std::to_string(p.b) + "; ";
  };
  // The SMPTE bars across the top of the picture, left to right (75 % intensity): grey,
  // yellow, cyan, green, magenta, red, blue; each where it belongs across the fitted width.
  static constexpr int kBars[7] = {0b111, 0b110, 0b011, 0b010, 0b101, 0b100, 0b001};
  const auto bar = [](int b) {
    return [b](const test::Rgb& p) {
      return ((p.r > 120) << 2 | (p.g > 120) << 1 | (p.b > 120)) == kBars[b];
    };
  };
  for (int b = 0; b < 7; ++b)
    expect(bar(b), "bar " + std::to_string(b), w * (2 * b + 1) / 14, h / 4);
  expect(bar(0), "top-left corner", 1, 1);
  expect(bar(6), "right edge", w - 2, h / 4);
  expect([](const test::Rgb& p) { return !p.IsBlack(); }, "bottom edge", 2, h - 2);
  // Outside the rectangle: the black container, not the owner's white.
  const auto black = [](const test::Rgb& p) { return p.IsBlack(); };
  if (w + 2 < owner.width())
    expect(black, "right of the picture", w + 1, h / 4);
  if (h + 2 < owner.height())
    expect(black, "below the picture", w / 2, h + 1);
  if (w + 2 < owner.width() || h + 2 < owner.height())
    expect(black, "bottom-right corner", owner.width() - 1, owner.height() - 1);
  return wrong;
}

// The X server shows the sink's drawing a moment later under load.
void ExpectPicture(const test::XTestWindow& owner, int w, int h) {
  std::string wrong;
  for (int attempt = 0; attempt < 50 && !(wrong = CheckPicture(owner, w, h)).empty(); ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(wrong, "") << w << "x" << h;
}

struct FitCase {
  const char* movie;
  int aspect_x, aspect_y;
  int owner_width, owner_height;  // the first area given to SetVideoSize
  int width, height;              // the area given while paused
};

// The picture is fitted by the movie's own aspect; a new size while paused is drawn at once.
TEST(VideoWindowTest, PictureFillsTheFittedRectangleAtTheTopLeft) {
  for (const FitCase& c : {FitCase{"h264-aac-16x9.mp4", 16, 9, 480, 360, 240, 200},
                           FitCase{"mjpeg-pcm-4x3.avi", 4, 3, 400, 200, 200, 200}}) {
    SCOPED_TRACE(c.movie);
    test::XTestWindow owner(c.owner_width, c.owner_height);
    CMovie movie;
    const std::string path = test::Movie(c.movie);
    ASSERT_TRUE(movie.InitializeGraph(std::u16string(path.begin(), path.end()), owner.id()));
    int32_t x = 0, y = 0;
    movie.GetAspectRatio(x, y);
    EXPECT_EQ(std::pair(x, y), std::pair(c.aspect_x, c.aspect_y));
    movie.SetVideoSize(c.owner_width, c.owner_height);
    movie.Pause();
    for (auto [area_w, area_h] :
         {std::pair{c.owner_width, c.owner_height}, std::pair{c.width, c.height}}) {
      movie.SetVideoSize(area_w, area_h);
      int32_t w = 0, h = 0;
      MovieUtils::CalcActualVideoSize(area_w, area_h, c.aspect_x, c.aspect_y, w, h);
      ExpectPicture(owner, w, h);
    }
  }
}

}  // namespace
}  // namespace quorvex
