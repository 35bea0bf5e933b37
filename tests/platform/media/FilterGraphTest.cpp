// The media graph on the generated movies: real GStreamer pipelines, real decoders and sinks.

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

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
  void SetUp() override { test::InitXThreads(); }

  // Waits up to `limit` for an event; its code, or 0 when none came.
  int32_t WaitForEvent(FilterGraph& graph, std::chrono::milliseconds limit) {
    int32_t code = 0;
    intptr_t p1 = 0, p2 = 0;
    return graph.GetEvent(&code, &p1, &p2, int32_t(limit.count())) == S_OK ? code : 0;
  }

  int64_t Position(FilterGraph& graph) {
    int64_t units = -1;
    EXPECT_EQ(graph.GetCurrentPosition(&units), S_OK);
    return units;
  }
};

struct RenderCase {
  const char* movie;
  HRESULT result;
  bool video;
  bool audio;
  bool through_filter;  // decoded audio is mono or stereo
};

class RenderFileTest : public FilterGraphTest, public testing::WithParamInterface<RenderCase> {};

// A filter with a free input offered the audio: the graph's own identity element stands in.
TEST_P(RenderFileTest, RendersWhatTheFileHolds) {
  const RenderCase& c = GetParam();
  FilterGraph graph;
  ASSERT_EQ(graph.AddFilter(gst_element_factory_make("identity", nullptr), u"stand-in"), S_OK);
  EXPECT_EQ(graph.RenderFile(Path(c.movie)), c.result);
  EXPECT_EQ(graph.has_video(), c.video);
  EXPECT_EQ(graph.has_audio(), c.audio);
  EXPECT_EQ(graph.audio_through_filter(), c.through_filter);
  EXPECT_EQ(graph.RenderFile(Path(c.movie)), E_UNEXPECTED) << "one file per graph";
}

INSTANTIATE_TEST_SUITE_P(
    Movies, RenderFileTest,
    testing::Values(RenderCase{"h264-aac-16x9.mp4", S_OK, true, true, true},
                    RenderCase{"mjpeg-pcm-4x3.avi", S_OK, true, true, true},
                    RenderCase{"h264-vorbis-mono48k.mkv", S_OK, true, true, true},
                    RenderCase{"h264-noaudio.mp4", S_OK, true, false, false},
                    RenderCase{"h264-pcm-6ch.mkv", S_OK, true, true, false},
                    RenderCase{"text-file.mp4", E_FAIL, false, false, false},
                    RenderCase{"truncated.mp4", E_FAIL, false, false, false},
                    RenderCase{"no-such-file.mp4", E_FAIL, false, false, false}),
    [](const testing::TestParamInfo<RenderCase>& info) {
      std::string name = info.param.movie;
      for (char& ch : name) {
        if (!isalnum(static_cast<unsigned char>(ch)))
          ch = '_';
      }
      return name;
    });

TEST_F(FilterGraphTest, OperationsBeforeRenderingFailCleanly) {
  FilterGraph graph;
  int64_t units = 0;
  int32_t x = 0, y = 0;
  EXPECT_EQ(graph.Run(), E_UNEXPECTED);
  EXPECT_EQ(graph.Pause(), E_UNEXPECTED);
  EXPECT_EQ(graph.Stop(), E_UNEXPECTED);
  EXPECT_TRUE(FAILED(graph.GetDuration(&units)));
  EXPECT_TRUE(FAILED(graph.GetCurrentPosition(&units)));
  EXPECT_TRUE(FAILED(graph.SetPositions(&units, AM_SEEKING_AbsolutePositioning, nullptr, 0)));
  EXPECT_EQ(graph.put_Volume(0), E_NOTIMPL);
  EXPECT_EQ(graph.put_Owner(1), E_FAIL);
  EXPECT_EQ(graph.SetWindowPosition(0, 0, 10, 10), E_FAIL);
  EXPECT_EQ(graph.GetPreferredAspectRatio(&x, &y), E_FAIL);
  EXPECT_EQ(graph.GetPreferredAspectRatio(nullptr, &y), E_POINTER);
  EXPECT_EQ(graph.AddFilter(nullptr, u"x"), E_POINTER);
}

TEST_F(FilterGraphTest, AspectRatioIsTheDisplayAspectReduced) {
  for (auto [movie, ax, ay] :
       {std::tuple{"h264-aac-16x9.mp4", 16, 9}, std::tuple{"mjpeg-pcm-4x3.avi", 4, 3}}) {
    FilterGraph graph;
    ASSERT_EQ(graph.RenderFile(Path(movie)), S_OK);
    int32_t x = 0, y = 0;
    ASSERT_EQ(graph.GetPreferredAspectRatio(&x, &y), S_OK);
    EXPECT_EQ(x, ax) << movie;
    EXPECT_EQ(y, ay) << movie;
  }
}

TEST_F(FilterGraphTest, DurationIsTheContainers) {
  FilterGraph graph;
  ASSERT_EQ(graph.RenderFile(Path("h264-aac-16x9.mp4")), S_OK);
  int64_t duration = 0;
  ASSERT_EQ(graph.GetDuration(&duration), S_OK);
  EXPECT_NEAR(double(duration), double(FrameTime(300)), 0.03 * kSecond);
}

// Frame-accurate absolute seeks while paused, forward and back, onto frame starts and between
// them: the picture shown is the frame that covers the position asked for.
TEST_F(FilterGraphTest, AbsoluteSeeksWhilePausedAreFrameAccurate) {
  FilterGraph graph;
  ASSERT_EQ(graph.RenderFile(Path("h264-aac-16x9.mp4")), S_OK);
  ASSERT_EQ(graph.Pause(), S_OK);
  for (int frame : {100, 101, 45, 0, 299, 17, 200}) {
    for (int64_t offset : {int64_t(0), int64_t(kFrameUnits / 2)}) {
      int64_t target = FrameTime(frame) + offset;
      ASSERT_EQ(graph.SetPositions(&target, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime,
                                   nullptr, AM_SEEKING_NoPositioning),
                S_OK);
      EXPECT_EQ(target, FrameTime(frame) + offset) << "returned position, frame " << frame;
      EXPECT_EQ(Position(graph), FrameTime(frame) + offset) << "frame " << frame;
      int64_t shown_stop = -1;
      ASSERT_EQ(graph.GetShownFrameStop(&shown_stop), S_OK);
      EXPECT_NEAR(double(shown_stop), double(FrameTime(frame + 1)), 2) << "frame " << frame;
    }
  }
}

TEST_F(FilterGraphTest, RelativeAndKeyFrameSeeks) {
  FilterGraph graph;
  ASSERT_EQ(graph.RenderFile(Path("h264-aac-16x9.mp4")), S_OK);
  ASSERT_EQ(graph.Pause(), S_OK);
  int64_t target = FrameTime(100);
  ASSERT_EQ(graph.SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  int64_t step = -FrameTime(5);
  ASSERT_EQ(
      graph.SetPositions(&step, AM_SEEKING_RelativePositioning | AM_SEEKING_ReturnTime, nullptr, 0),
      S_OK);
  EXPECT_NEAR(double(step), double(FrameTime(95)), 1);
  // Key frames every 30 frames: frame 95 snaps back to frame 90.
  int64_t key = FrameTime(95);
  ASSERT_EQ(
      graph.SetPositions(
          &key, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame | AM_SEEKING_ReturnTime,
          nullptr, 0),
      S_OK);
  EXPECT_NEAR(double(key), double(FrameTime(90)), 2);
  // Before the start and past the end are held at the movie's ends.
  int64_t before = -kSecond;
  ASSERT_EQ(graph.SetPositions(&before, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime,
                               nullptr, 0),
            S_OK);
  EXPECT_EQ(before, 0);
  EXPECT_EQ(graph.SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_POINTER);
  EXPECT_EQ(graph.SetPositions(&before, AM_SEEKING_IncrementalPositioning, nullptr, 0),
            E_INVALIDARG);
}

// Stop keeps the position; Pause after Stop shows the frame at the kept position.
TEST_F(FilterGraphTest, StopKeepsThePositionAndPauseShowsItsFrame) {
  FilterGraph graph;
  ASSERT_EQ(graph.RenderFile(Path("h264-aac-16x9.mp4")), S_OK);
  int64_t start = FrameTime(60);
  ASSERT_EQ(graph.SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  EXPECT_EQ(Position(graph), start) << "a seek while stopped moves the kept position";
  ASSERT_EQ(graph.Run(), S_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  ASSERT_EQ(graph.Stop(), S_OK);
  const int64_t kept = Position(graph);
  EXPECT_GT(kept, start + kSecond / 4);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Position(graph), kept);
  ASSERT_EQ(graph.Pause(), S_OK);
  EXPECT_EQ(Position(graph), kept);
  int64_t shown_stop = -1;
  ASSERT_EQ(graph.GetShownFrameStop(&shown_stop), S_OK);
  EXPECT_GT(shown_stop, kept);
  EXPECT_LE(double(shown_stop), kept + kFrameUnits + 1);
}

TEST_F(FilterGraphTest, EndOfStreamQueuesComplete) {
  FilterGraph graph;
  ASSERT_EQ(graph.RenderFile(Path("h264-aac-16x9.mp4")), S_OK);
  int64_t near_end = FrameTime(285);
  ASSERT_EQ(graph.SetPositions(&near_end, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  ASSERT_EQ(graph.Run(), S_OK);
  EXPECT_EQ(WaitForEvent(graph, std::chrono::seconds(20)), EC_COMPLETE);
}

TEST_F(FilterGraphTest, StopPositionEndsThePlaybackThere) {
  FilterGraph graph;
  ASSERT_EQ(graph.RenderFile(Path("mjpeg-pcm-4x3.avi")), S_OK);
  int64_t from = 2 * kSecond, to = FrameTime(70);
  ASSERT_EQ(graph.SetPositions(&from, AM_SEEKING_AbsolutePositioning, &to,
                               AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime),
            S_OK);
  EXPECT_EQ(to, FrameTime(70));
  const auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(graph.Run(), S_OK);
  EXPECT_EQ(WaitForEvent(graph, std::chrono::seconds(20)), EC_COMPLETE);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(8))
      << "stopped at the stop position, not at the end";
  EXPECT_NEAR(double(Position(graph)), double(to), kFrameUnits * 2);
}

TEST_F(FilterGraphTest, VolumeInHundredthsOfADecibel) {
  FilterGraph graph;
  ASSERT_EQ(graph.RenderFile(Path("h264-aac-16x9.mp4")), S_OK);
  int32_t volume = 1;
  EXPECT_EQ(graph.get_Volume(&volume), S_OK);
  EXPECT_EQ(volume, 0);
  for (int32_t v : {-10000, -600, 0}) {
    EXPECT_EQ(graph.put_Volume(v), S_OK);
    EXPECT_EQ(graph.get_Volume(&volume), S_OK);
    EXPECT_EQ(volume, v);
  }
  EXPECT_EQ(graph.put_Volume(1), E_INVALIDARG);
  EXPECT_EQ(graph.put_Volume(-10001), E_INVALIDARG);

  FilterGraph silent;
  ASSERT_EQ(silent.RenderFile(Path("h264-noaudio.mp4")), S_OK);
  EXPECT_EQ(silent.put_Volume(-600), E_NOTIMPL);
}

// Without a sound server the movie still plays: its audio goes to a sink that does not wait.
TEST_F(FilterGraphTest, PlaysWithoutASoundServer) {
  setenv("PULSE_SERVER", "unix:/nonexistent/quorvex-test", 1);
  FilterGraph graph;
  ASSERT_EQ(graph.RenderFile(Path("h264-aac-16x9.mp4")), S_OK);
  EXPECT_TRUE(graph.has_audio());
  int64_t near_end = FrameTime(280);
  ASSERT_EQ(graph.SetPositions(&near_end, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
  ASSERT_EQ(graph.Run(), S_OK);
  EXPECT_EQ(WaitForEvent(graph, std::chrono::seconds(20)), EC_COMPLETE);
}

TEST_F(FilterGraphTest, OwnerMustBeAnExistingWindow) {
  test::TestWindow owner(200, 100);
  ASSERT_TRUE(owner.ok());
  FilterGraph graph;
  ASSERT_EQ(graph.RenderFile(Path("mjpeg-pcm-4x3.avi")), S_OK);
  EXPECT_EQ(graph.put_Owner(0x7ffffff0), E_FAIL);
  EXPECT_EQ(graph.put_Owner(owner.id()), S_OK);
  EXPECT_EQ(graph.put_WindowStyle(WS_CHILD | WS_CLIPSIBLINGS), S_OK);
  EXPECT_EQ(graph.SetWindowPosition(0, 0, -1, 5), E_INVALIDARG);
  EXPECT_EQ(graph.SetWindowPosition(0, 0, 0, 0), S_OK) << "an empty panel is not an error";
}

// The graph holds the filters and the clock given to it, and lets them go with itself, also
// when the file could not be rendered.
TEST_F(FilterGraphTest, ReleasesWhatItWasGiven) {
  for (const char* movie : {"h264-aac-16x9.mp4", "truncated.mp4"}) {
    bool filter_gone = false, clock_gone = false;
    {
      FilterGraph graph;
      GstRef<GstElement> filter(
          GST_ELEMENT(gst_object_ref_sink(gst_element_factory_make("identity", nullptr))));
      GstRef<GstClock> clock(GST_CLOCK(
          gst_object_ref_sink(g_object_new(GST_TYPE_SYSTEM_CLOCK, "name", "test-clock", nullptr))));
      g_object_weak_ref(
          G_OBJECT(filter.get()), [](void* gone, GObject*) { *static_cast<bool*>(gone) = true; },
          &filter_gone);
      g_object_weak_ref(
          G_OBJECT(clock.get()), [](void* gone, GObject*) { *static_cast<bool*>(gone) = true; },
          &clock_gone);
      ASSERT_EQ(graph.AddFilter(filter.get(), u"held"), S_OK);
      EXPECT_EQ(graph.AddFilter(filter.get(), u"again"), E_FAIL);
      ASSERT_EQ(graph.SetSyncSource(clock.get()), S_OK);
      graph.RenderFile(Path(movie));
      graph.Run();
      filter.reset();
      clock.reset();
      EXPECT_FALSE(filter_gone) << "the graph holds its filter";
      EXPECT_FALSE(clock_gone) << "the graph holds its clock";
    }
    EXPECT_TRUE(filter_gone) << movie;
    EXPECT_TRUE(clock_gone) << movie;
  }
}

}  // namespace
}  // namespace quorvex::media
