// The movie graph on the generated movies, with its video in an X window of this process
// standing in for the user interface's panel: the picture fitted to the requested area at its
// top-left corner, the rest of the owner black.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <gst/gst.h>
#include <unistd.h>

#include <QLoggingCategory>

#include "engine/CMovie.h"
#include "engine/Clock.h"
#include "engine/MovieUtils.h"
#include "platform/media/Deadline.h"
#include "tests/support/TestEnv.h"
#include "tests/support/XTestWindow.h"

namespace quorvex {
namespace {

using media::AM_SEEKING_AbsolutePositioning;
using media::S_OK;
using std::chrono::milliseconds;

constexpr int64_t kSecond = media::kUnitsPerSecond;
constexpr double kFrameUnits = 10'010'000.0 / 30.0;  // 29.97 fps

// Finds the pitch filter when a graph adds it (GObject emits property notifications only to
// objects that have a handler): logs every rate given to it with the clock's rate at that
// moment. Must outlive the graphs it watches.
struct PitchFilterSpy {
  std::vector<std::pair<double, double>> rates;  // (filter rate, clock rate)
  guint signal = (gst_init(nullptr, nullptr), g_signal_lookup("element-added", GST_TYPE_BIN));
  gulong hook = g_signal_add_emission_hook(signal, 0, &OnAdded, this, nullptr);

  ~PitchFilterSpy() { g_signal_remove_emission_hook(signal, hook); }
  static gboolean OnAdded(GSignalInvocationHint*, guint, const GValue* values, gpointer self) {
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
    static_cast<PitchFilterSpy*>(self)->rates.emplace_back(rate, Clock::From(clock)->GetRate());
    gst_object_unref(clock);
    gst_object_unref(graph);
  }
};

class CMovieTest : public testing::Test {
 protected:
  // Builds the graph for `movie` and pauses it on its first picture, as the movie window does.
  void Open(const std::string& movie) {
    ASSERT_TRUE(movie_.InitializeGraph(test::Utf16(test::Movie(movie)), owner_.id()));
    movie_.SetVideoSize(owner_.width(), owner_.height());
    movie_.Pause();
  }

  int64_t Position() {
    int64_t units = -1;
    EXPECT_EQ(movie_.GetCurrentPosition(&units), S_OK);
    return units;
  }

  void SeekTo(int64_t units, int64_t stop = -1, uint32_t flags = AM_SEEKING_AbsolutePositioning) {
    ASSERT_EQ(movie_.SetPositions(
                  &units, flags, stop < 0 ? nullptr : &stop,
                  stop < 0 ? media::AM_SEEKING_NoPositioning : AM_SEEKING_AbsolutePositioning),
              S_OK);
  }

  test::XTestWindow owner_{480, 360};
  PitchFilterSpy spy_;  // before the movie: outlives it
  CMovie movie_;
};

// What the engine logged in its category (its failures, with their reasons).
std::vector<std::string> engine_log;
void KeepEngineLog(QtMsgType, const QMessageLogContext& context, const QString& message) {
  if (context.category && std::string(context.category) == "quorvex.engine")
    engine_log.push_back(message.toStdString());
}

// Every kind of audio with the real pitch filter in the graph; a file without a picture fails,
// and so does one that is no movie: the log says why, in the decoder's words where it has them.
// A lone surrogate in a name stands for the replacement character.
TEST_F(CMovieTest, OpensPlayableMovies) {
  // A short mono WAV: a playable file without a picture; a movie under a name with U+FFFD.
  const std::string sound_only = testing::TempDir() + "sound-only.wav",
                    lone = testing::TempDir() + "lone-\xEF\xBF\xBD.mp4";
  std::system(
      ("gst-launch-1.0 -q audiotestsrc num-buffers=20 ! wavenc ! filesink location=" + sound_only)
          .c_str());
  std::remove(lone.c_str());
  ASSERT_EQ(symlink(test::Movie("h264-aac-16x9.mp4").c_str(), lone.c_str()), 0);
  const std::tuple<std::u16string, bool, bool, bool, std::string> cases[] = {
      // opens, video, audio, why not
      {test::Utf16(test::Movie("h264-aac-16x9.mp4")), true, true, true, ""},
      {test::Utf16(test::Movie("h264-noaudio.mp4")), true, true, false, ""},
      {test::Utf16(test::Movie("h264-pcm-6ch.mkv")), true, true, true, ""},
      {test::Utf16(testing::TempDir() + "lone-") + u"\xD800.mp4", true, true, true, ""},
      {test::Utf16(sound_only), false, false, true, "sound-only.wav: it has no picture"},
      {test::Utf16(test::Movie("text-file.mp4")), false, false, false,
       "text-file.mp4: Could not determine type of stream"}};
  const QtMessageHandler previous = qInstallMessageHandler(&KeepEngineLog);
  for (const auto& [path, opens, video, audio, why] : cases) {
    SCOPED_TRACE(std::string(path.begin(), path.end()));
    engine_log.clear();
    CMovie movie;
    EXPECT_EQ(movie.InitializeGraph(path, owner_.id()), opens);
    const media::Graph& graph = *movie.graph();
    EXPECT_EQ(std::tuple(graph.has_video(), graph.has_audio(), graph.audio_through_filter()),
              std::tuple(video, audio, audio));
    if (!opens) {
      ASSERT_EQ(engine_log.size(), 1u);
      EXPECT_NE(engine_log[0].find(why), std::string::npos) << engine_log[0];
    }
  }
  qInstallMessageHandler(previous);
}

// Opening as the movie window does (InitializeGraph, SetVideoSize, Pause) takes and shows the
// first picture once: neither the sizing nor the Pause prerolls again. The movie window's rate
// change (Stop, SetRate, Pause, Run) continues from the same frame.
TEST_F(CMovieTest, AnOpenTakesTheFirstPictureOnceAndARateChangeKeepsThePosition) {
  Open("long-gop-60fps.mp4");
  // The queue decodes ahead meanwhile: a second preroll would have come by now.
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_EQ(movie_.graph()->pictures_received(), 1u);
  EXPECT_TRUE(movie_.graph()->shown());
  movie_.Run();
  std::this_thread::sleep_for(milliseconds(400));
  for (double rate : {0.25, 1.0}) {
    movie_.Stop();
    const int64_t kept = Position();
    movie_.SetRate(rate);
    movie_.Pause();
    EXPECT_EQ(Position(), kept) << "rate " << rate;
    movie_.Run();
    std::this_thread::sleep_for(milliseconds(300));
  }
}

// Slowing down sets the clock before the filter, speeding up the filter before the clock; the
// same rate again sets nothing, and rates that mean nothing are ignored. Values from the channel
// that would overflow are held or refused: relative seeks beyond the 64-bit range stop at the
// ends of the movie, an area larger than any screen breaks nothing (UBSan watches).
TEST_F(CMovieTest, SetRateOrdersTheClockAndTheFilterAndOverflowsAreHeld) {
  Open("h264-aac-16x9.mp4");
  for (double rate : {0.5, 0.5, 0.25, 0.0, -0.5, 1e300, 1e-300, std::nan("")})
    movie_.SetRate(rate);
  EXPECT_EQ(movie_.GetRate(), 0.25);
  movie_.SetRate(1.0);
  const std::vector<std::pair<double, double>> expected = {{0.5, 0.5}, {0.25, 0.25}, {1.0, 0.25}};
  EXPECT_EQ(spy_.rates, expected);
  int64_t duration = 0;
  ASSERT_EQ(movie_.GetDuration(&duration), S_OK);
  SeekTo(kSecond);
  SeekTo(INT64_MAX, -1, media::AM_SEEKING_RelativePositioning);
  EXPECT_EQ(Position(), duration);
  SeekTo(INT64_MIN, -1, media::AM_SEEKING_RelativePositioning);
  EXPECT_EQ(Position(), 0);
  movie_.SetVideoSize(INT32_MAX, INT32_MAX);
  movie_.SetVideoSize(owner_.width(), owner_.height());
  EXPECT_EQ(Position(), 0) << "still there";
}

// Two seconds of movie at 1/4 take eight seconds: the whole graph runs on the slowed clock.
// Measured on the picture's position (the end of the movie also waits for the sound, whose
// start the test sound server may delay). The end posts the notification; answering it pauses
// on the last picture.
TEST_F(CMovieTest, AQuarterRateTakesFourTimesAsLongAndTheEndPauses) {
  Open("mjpeg-pcm-4x3.avi");
  SeekTo(2 * kSecond, 4 * kSecond);
  movie_.SetRate(0.25);
  const auto began = std::chrono::steady_clock::now();
  movie_.Run();
  std::this_thread::sleep_until(began + milliseconds(1000));
  const int64_t first = Position();
  std::this_thread::sleep_until(began + milliseconds(5000));
  EXPECT_NEAR(double(Position() - first), double(kSecond), 0.05 * kSecond);
  for (int i = 0; i < 300 && movie_.IsPlaying(); ++i) {
    std::this_thread::sleep_for(milliseconds(100));
    movie_.GraphNotifyProc();  // as the movie window does on the graph's notification
  }
  EXPECT_GT(std::chrono::steady_clock::now() - began, milliseconds(7900));
  const int64_t end = Position();
  EXPECT_NEAR(double(end), double(4 * kSecond), 2 * kFrameUnits);
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_EQ(Position(), end);
}

// While playing, the position read is that of the picture on screen, within one frame, at 1
// and 1/4: each picture grabbed while playing is the one a seek to the position read shows, or
// the next. (Without a sound server: the graph's own tests.)
TEST_F(CMovieTest, ThePositionWhilePlayingIsThatOfThePictureOnScreen) {
  Open("h264-aac-16x9.mp4");
  for (const double rate : {1.0, 0.25}) {
    movie_.SetRate(rate);
    SeekTo(kSecond);
    movie_.Run();
    std::vector<std::pair<int64_t, std::vector<uint32_t>>> seen;
    for (int i = 0; i < 5; ++i) {
      std::this_thread::sleep_for(milliseconds(300));
      const int64_t at = Position();  // then the picture
      seen.emplace_back(at, owner_.Grab());
    }
    movie_.Pause();
    EXPECT_GT(seen.back().first, seen.front().first) << "it played";
    for (auto& [at, picture] : seen) {
      bool shown = false;
      for (int64_t frame : {at, at + int64_t(kFrameUnits)})
        SeekTo(frame), shown = shown || picture == owner_.Grab();
      EXPECT_TRUE(shown) << "at rate " << rate << ", the picture on screen at " << at;
    }
  }
}

// A portrait clip stored on its side with a rotation tag stands upright: 9:16, its red marker
// along the top edge.
TEST_F(CMovieTest, ARotationTaggedClipStandsUpright) {
  Open("portrait-rot90.mp4");
  int32_t x = 0, y = 0;
  movie_.GetAspectRatio(x, y);
  EXPECT_EQ(std::pair(x, y), std::pair(9, 16));
  const std::vector<uint32_t> picture = owner_.Grab();
  const int middle = owner_.height() * 9 / 32;  // fitted into the window's height
  const test::Rgb top = test::ToRgb(picture[size_t(3 * owner_.width() + middle)]);
  EXPECT_TRUE(top.r > 200 && top.g < 60 && top.b < 60) << "red along the top";
}

// Whether `owner` shows a video fitted to w by h at the top-left: the SMPTE bars across the top
// of the picture, left to right (75 % intensity: grey, yellow, cyan, green, magenta, red, blue),
// each where it belongs across the fitted width; outside, the black container, not the
// owner's white.
bool ShowsPicture(const test::XTestWindow& owner, int w, int h) {
  const std::vector<uint32_t> pixels = owner.Grab();
  const auto at = [&](int x, int y) { return test::ToRgb(pixels[size_t(y) * owner.width() + x]); };
  static constexpr int kBars[7] = {0b111, 0b110, 0b011, 0b010, 0b101, 0b100, 0b001};
  bool ok = pixels.size() == size_t(owner.width()) * owner.height();
  for (int b = 0; ok && b < 7; ++b) {
    const test::Rgb p = at(w * (2 * b + 1) / 14, h / 4);
    ok = ((p.r > 120) << 2 | (p.g > 120) << 1 | (p.b > 120)) == kBars[b];
  }
  return ok && !at(2, h - 2).IsBlack() && (w + 2 >= owner.width() || at(w + 1, h / 4).IsBlack()) &&
         (h + 2 >= owner.height() || at(w / 2, h + 1).IsBlack());
}

// The picture is fitted by the movie's own aspect; a new size while paused is drawn at once
// (the X server shows the sink's drawing a moment later under load).
TEST_F(CMovieTest, PictureFillsTheFittedRectangleAtTheTopLeft) {
  Open("mjpeg-pcm-4x3.avi");
  for (auto [area_w, area_h] : {std::pair{400, 200}, std::pair{200, 300}}) {
    movie_.SetVideoSize(area_w, area_h);
    int32_t w = 0, h = 0;
    MovieUtils::CalcActualVideoSize(area_w, area_h, 4, 3, w, h);
    bool shown = false;
    for (int attempt = 0; attempt < 50 && !(shown = ShowsPicture(owner_, w, h)); ++attempt)
      std::this_thread::sleep_for(milliseconds(100));
    EXPECT_TRUE(shown) << w << "x" << h;
  }
}

// A seek that reaches no picture (into the lost half of a file whose index survived) and a seek
// whose command deadline has passed fail, and the position stays at the picture on screen: a
// lap taken then stores the time the user sees.
TEST_F(CMovieTest, AFailedSeekLeavesThePositionAtThePictureShown) {
  Open("truncated-indexed.mp4");
  SeekTo(2 * kSecond);
  const int64_t shown_units = movie_.graph()->shown()->start_ns / 100;
  EXPECT_NEAR(double(shown_units), 2.0 * kSecond, kFrameUnits);
  int64_t target = 8 * kSecond;
  EXPECT_EQ(
      movie_.SetPositions(&target, AM_SEEKING_AbsolutePositioning | media::AM_SEEKING_ReturnTime,
                          nullptr, media::AM_SEEKING_NoPositioning),
      media::E_FAIL);
  EXPECT_EQ(target, shown_units) << "the time returned";
  EXPECT_EQ(Position(), shown_units);
  EXPECT_EQ(movie_.graph()->shown()->start_ns / 100, shown_units);
  SeekTo(1 * kSecond);  // the movie goes on where it can
  EXPECT_NEAR(double(Position()), 1.0 * kSecond, 1);
}

// A movie whose length is not known when it opens (no container): a relative seek by any
// amount neither overflows (UBSan watches) nor leaves the picture on screen behind.
TEST_F(CMovieTest, AMovieOfUnknownLengthTakesAnySeek) {
  Open("h264-raw.h264");
  int64_t duration = 0;
  ASSERT_NE(movie_.GetDuration(&duration), S_OK) << "the fixture's length must be unknown";
  SeekTo(kSecond);
  const int64_t shown = movie_.graph()->shown()->start_ns / 100;
  EXPECT_NEAR(double(shown), double(kSecond), kFrameUnits);
  int64_t far = INT64_MAX;
  movie_.SetPositions(&far, media::AM_SEEKING_RelativePositioning, nullptr,
                      media::AM_SEEKING_NoPositioning);
  EXPECT_EQ(Position(), movie_.graph()->shown()->start_ns / 100);
}

TEST_F(CMovieTest, ASeekPastItsCommandsDeadlineFails) {
  Open("long-gop-60fps.mp4");
  int64_t target = 4 * kSecond;  // 240 pictures to decode from the key frame at 0
  {
    const media::CommandDeadline spent(std::chrono::milliseconds(0));
    EXPECT_EQ(movie_.SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr,
                                  media::AM_SEEKING_NoPositioning),
              media::E_FAIL);
  }
  SeekTo(2 * kSecond);  // without a deadline it is reached again
  EXPECT_NEAR(double(Position()), 2.0 * kSecond, 1);
}

}  // namespace
}  // namespace quorvex
