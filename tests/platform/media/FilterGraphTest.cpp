// The media graph on the generated movies: real GStreamer pipelines, real decoders and sinks.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/media/FilterGraph.h"
#include "platform/media/GstRef.h"
#include "tests/platform/media/TestWindow.h"
#include "tests/support/TestEnv.h"

namespace quorvex::media {
namespace {

constexpr int64_t kSecond = kUnitsPerSecond;
// One frame of the 29.97 fps test movies, in 100 ns units (333,666.6...).
constexpr double kFrameUnits = 10'010'000.0 / 30.0;

int64_t FrameTime(int frame) {
  return int64_t(frame * kFrameUnits + 0.5);
}

std::u16string Path(const std::string& movie) {
  const std::string path = test::Movie(movie);
  return std::u16string(path.begin(), path.end());
}

class FilterGraphTest : public testing::Test {
 protected:
  void Render(const char* movie) { ASSERT_EQ(graph_.RenderFile(Path(movie)), S_OK) << movie; }

  int64_t Position() {
    int64_t units = -1;
    EXPECT_EQ(graph_.GetCurrentPosition(&units), S_OK);
    return units;
  }

  // Seeks the current position with `flags`; the position the graph reports back.
  int64_t Seek(int64_t units, int32_t flags = AM_SEEKING_AbsolutePositioning) {
    EXPECT_EQ(graph_.SetPositions(&units, flags | AM_SEEKING_ReturnTime, nullptr, 0), S_OK);
    return units;
  }

  // Waits up to 20 s for an event; its code, or 0 when none came.
  int32_t WaitForEvent() {
    int32_t code = 0;
    intptr_t p1 = 0, p2 = 0;
    return graph_.GetEvent(&code, &p1, &p2, 20000) == S_OK ? code : 0;
  }

  test::TestWindow owner_{200, 100};  // before the graph: outlives it
  FilterGraph graph_;
};

TEST_F(FilterGraphTest, OperationsBeforeRenderingFailCleanly) {
  int64_t units = 0;
  int32_t x = 0, y = 0;
  EXPECT_EQ(graph_.Run(), E_UNEXPECTED);
  EXPECT_EQ(graph_.Pause(), E_UNEXPECTED);
  EXPECT_EQ(graph_.Stop(), E_UNEXPECTED);
  EXPECT_TRUE(FAILED(graph_.GetDuration(&units)));
  EXPECT_TRUE(FAILED(graph_.GetCurrentPosition(&units)));
  EXPECT_TRUE(FAILED(graph_.SetPositions(&units, AM_SEEKING_AbsolutePositioning, nullptr, 0)));
  EXPECT_EQ(graph_.put_Volume(0), E_NOTIMPL);
  EXPECT_EQ(graph_.put_Owner(1), E_FAIL);
  EXPECT_EQ(graph_.SetWindowPosition(0, 0, 10, 10), E_FAIL);
  EXPECT_EQ(graph_.GetPreferredAspectRatio(&x, &y), E_FAIL);
  EXPECT_EQ(graph_.GetPreferredAspectRatio(nullptr, &y), E_POINTER);
  EXPECT_EQ(graph_.AddFilter(nullptr, u"x"), E_POINTER);
}

// Seeks while paused, forward and back, onto frame starts and between them, are frame
// accurate: the picture shown is the frame that covers the position asked for. Relative and
// key-frame seeks, and positions beyond the movie's ends, on the same graph.
TEST_F(FilterGraphTest, SeeksWhilePaused) {
  Render("h264-aac-16x9.mp4");
  int64_t units = 0;
  ASSERT_EQ(graph_.GetDuration(&units), S_OK);
  EXPECT_NEAR(double(units), double(FrameTime(300)), 0.03 * kSecond);
  ASSERT_EQ(graph_.Pause(), S_OK);
  for (int frame : {100, 101, 45, 0, 299, 17, 200}) {
    for (int64_t target : {FrameTime(frame), FrameTime(frame) + int64_t(kFrameUnits / 2)}) {
      EXPECT_EQ(Seek(target), target) << "returned position, frame " << frame;
      EXPECT_EQ(Position(), target) << "frame " << frame;
      ASSERT_EQ(graph_.GetShownFrameStop(&units), S_OK);
      EXPECT_NEAR(double(units), double(FrameTime(frame + 1)), 2) << "frame " << frame;
    }
  }
  Seek(FrameTime(100));
  EXPECT_NEAR(double(Seek(-FrameTime(5), AM_SEEKING_RelativePositioning)), FrameTime(95), 1);
  // Key frames every 30 frames: frame 95 snaps back to frame 90.
  EXPECT_NEAR(
      double(Seek(FrameTime(95), AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame)),
      double(FrameTime(90)), 2);
  EXPECT_EQ(Seek(-kSecond), 0) << "held at the start";
  EXPECT_EQ(graph_.SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_POINTER);
  EXPECT_EQ(graph_.SetPositions(&units, AM_SEEKING_IncrementalPositioning, nullptr, 0),
            E_INVALIDARG);
}

// Stop keeps the position; Pause after Stop shows the frame at the kept position and stands.
TEST_F(FilterGraphTest, StopKeepsThePositionAndPauseShowsItsFrame) {
  Render("h264-aac-16x9.mp4");
  const int64_t start = FrameTime(60);
  Seek(start);
  EXPECT_EQ(Position(), start) << "a seek while stopped moves the kept position";
  ASSERT_EQ(graph_.Run(), S_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  ASSERT_EQ(graph_.Stop(), S_OK);
  const int64_t kept = Position();
  EXPECT_GT(kept, start + kSecond / 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Position(), kept);
  ASSERT_EQ(graph_.Pause(), S_OK);
  int64_t shown_stop = -1;
  ASSERT_EQ(graph_.GetShownFrameStop(&shown_stop), S_OK);
  EXPECT_GT(shown_stop, kept);
  EXPECT_LE(double(shown_stop), kept + kFrameUnits + 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Position(), kept) << "a paused movie stands";
}

// The volume in hundredths of a decibel; the owner must be an existing window.
TEST_F(FilterGraphTest, VolumeAndWindow) {
  Render("h264-aac-16x9.mp4");
  int32_t volume = 1;
  EXPECT_EQ(graph_.get_Volume(&volume), S_OK);
  EXPECT_EQ(volume, 0);
  for (int32_t v : {-10000, -600, 0}) {
    EXPECT_EQ(graph_.put_Volume(v), S_OK);
    EXPECT_EQ(graph_.get_Volume(&volume), S_OK);
    EXPECT_EQ(volume, v);
  }
  EXPECT_EQ(graph_.put_Volume(1), E_INVALIDARG);
  EXPECT_EQ(graph_.put_Volume(-10001), E_INVALIDARG);
  ASSERT_TRUE(owner_.ok());
  EXPECT_EQ(graph_.put_Owner(0x7ffffff0), E_FAIL);
  EXPECT_EQ(graph_.put_Owner(owner_.id()), S_OK);
  EXPECT_EQ(graph_.put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS), S_OK);
  EXPECT_EQ(graph_.SetWindowPosition(0, 0, -1, 5), E_INVALIDARG);
  EXPECT_EQ(graph_.SetWindowPosition(0, 0, 0, 0), S_OK) << "an empty panel is not an error";
  FilterGraph silent;
  ASSERT_EQ(silent.RenderFile(Path("h264-noaudio.mp4")), S_OK);
  EXPECT_EQ(silent.put_Volume(-600), E_NOTIMPL);
}

// Without a sound server the movie still plays to its end: its audio goes to a sink that does
// not wait.
TEST_F(FilterGraphTest, PlaysToTheEndWithoutASoundServer) {
  setenv("PULSE_SERVER", "unix:/nonexistent/quorvex-test", 1);
  Render("h264-aac-16x9.mp4");
  EXPECT_TRUE(graph_.has_audio());
  Seek(FrameTime(280));
  ASSERT_EQ(graph_.Run(), S_OK);
  EXPECT_EQ(WaitForEvent(), EC_COMPLETE);
}

// The graph holds the filters and the clock given to it, and lets them go with itself, also
// when the file could not be rendered.
TEST_F(FilterGraphTest, ReleasesWhatItWasGiven) {
  const auto watch = [](GstObject* object, bool* gone) {
    g_object_weak_ref(
        G_OBJECT(object), [](void* g, GObject*) { *static_cast<bool*>(g) = true; }, gone);
  };
  for (const char* movie : {"h264-aac-16x9.mp4", "truncated.mp4"}) {
    bool filter_gone = false, clock_gone = false;
    {
      FilterGraph graph;
      GstRef<GstElement> filter(
          GST_ELEMENT(gst_object_ref_sink(gst_element_factory_make("identity", nullptr))));
      GstRef<GstClock> clock(
          GST_CLOCK(gst_object_ref_sink(g_object_new(GST_TYPE_SYSTEM_CLOCK, nullptr))));
      watch(GST_OBJECT(filter.get()), &filter_gone);
      watch(GST_OBJECT(clock.get()), &clock_gone);
      ASSERT_EQ(graph.AddFilter(filter.get(), u"held"), S_OK);
      EXPECT_EQ(graph.AddFilter(filter.get(), u"again"), E_FAIL);
      ASSERT_EQ(graph.SetSyncSource(clock.get()), S_OK);
      graph.RenderFile(Path(movie));
      graph.Run();
      filter.reset();
      clock.reset();
      EXPECT_FALSE(filter_gone || clock_gone) << "the graph holds its filter and clock";
    }
    EXPECT_TRUE(filter_gone) << movie;
    EXPECT_TRUE(clock_gone) << movie;
  }
}

}  // namespace
}  // namespace quorvex::media
