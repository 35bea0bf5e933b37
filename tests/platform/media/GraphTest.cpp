// The media graph on the generated movies: real GStreamer pipelines, real decoders, pictures
// drawn into a real X window.

#include "platform/media/Graph.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/GstRef.h"
#include "platform/media/Picture.h"
#include "tests/support/TestEnv.h"
#include "tests/support/XTestWindow.h"

namespace quorvex::media {
namespace {

// One frame of the 29.97 fps test movies in ns (33,366,666.6...).
constexpr double kFrameNs = 1001e6 / 30.0;

int64_t FrameTime(int frame) {
  return int64_t(frame * kFrameNs + 0.5);
}

// The cache alone: what covers a time, the unbroken run before a picture, and what goes first
// when the bound is reached (the pictures farthest from where the user is, on either side).
TEST(PictureCacheTest, FindsRunsAndDropsWhatLiesFarthest) {
  constexpr int64_t kMs = 1'000'000;
  const auto picture = [](int64_t start, int64_t duration) {
    auto p = std::make_shared<Picture>();
    p->start_ns = start * kMs;
    p->duration_ns = duration * kMs;
    p->width = p->height = 4;
    p->pixels.resize(64);
    return p;
  };
  const size_t each = picture(0, 1)->bytes();
  PictureCache cache(each * 5);
  cache.Reset(4, 4);
  // 10..40 and 50..60 with a gap between 40 and 50; 60..65 is short (a variable rate).
  for (auto [start, duration] : {std::pair{10, 10}, {20, 10}, {30, 10}, {50, 10}, {60, 5}})
    cache.Insert(picture(start, duration), 30 * kMs);
  struct Find {
    int64_t at, start;  // -1: nothing covers it
  };
  for (const Find& f : {Find{9, -1}, {10, 10}, {29, 20}, {39, 30}, {40, -1}, {64, 60}, {65, -1}}) {
    auto found = cache.Find(f.at * kMs);
    EXPECT_EQ(found ? found->start_ns / kMs : -1, f.start) << f.at;
  }
  EXPECT_EQ(cache.RunStart(35 * kMs), 10 * kMs);
  EXPECT_EQ(cache.RunStart(62 * kMs), 50 * kMs) << "runs break at gaps";
  EXPECT_EQ(cache.RunStart(45 * kMs), 45 * kMs) << "nothing covers it";
  cache.Insert(picture(40, 10), 30 * kMs);  // one too many: 60 lies farthest from 30
  EXPECT_FALSE(cache.Find(60 * kMs));
  EXPECT_TRUE(cache.Find(10 * kMs) && cache.Find(50 * kMs));
  EXPECT_EQ(cache.RunStart(55 * kMs), 10 * kMs) << "the gap is filled";
  cache.Insert(picture(0, 10), 45 * kMs);  // from 45, 0 lies farther than 50
  EXPECT_FALSE(cache.Find(0));
  EXPECT_TRUE(cache.Find(10 * kMs) && cache.Find(50 * kMs));
  cache.Insert(picture(20, 10), 45 * kMs);  // the same start replaces, nothing else goes
  EXPECT_EQ(cache.count(), 5u);
  auto nudged = picture(20, 10);
  nudged->start_ns += 1;
  cache.Insert(nudged, 45 * kMs);
  EXPECT_EQ(cache.count(), 5u) << "a nanosecond of rounding is the same picture";
  EXPECT_LE(cache.bytes(), each * 5);
  auto other_size = picture(100, 10);
  other_size->width = 8;
  cache.Insert(other_size, 100 * kMs);
  EXPECT_FALSE(cache.Find(100 * kMs)) << "pictures of another size are refused";
  cache.Insert(picture(100, 0), 100 * kMs);
  EXPECT_FALSE(cache.Find(100 * kMs)) << "a picture without a span is refused";
}

class GraphTest : public testing::Test {
 protected:
  void Open(const char* movie, Graph& graph) {
    ASSERT_TRUE(graph.Open(test::Movie(movie))) << movie;
    ASSERT_TRUE(graph.SetOwner(owner_.id()));
    ASSERT_TRUE(graph.SetVideoArea(0, 0, owner_.width(), owner_.height()));
  }
  void Open(const char* movie) { Open(movie, graph_); }

  int64_t Position() { return graph_.Position().value_or(-1); }

  test::XTestWindow owner_{200, 100};  // before the graph: outlives it
  Graph graph_;
};

// Seeks while paused onto frame starts and between them show the frame that covers the
// position asked for; key-frame seeks land on the key frame before. Stop keeps the position,
// and Pause after it shows the frame there and stands.
TEST_F(GraphTest, SeeksWhilePausedAndStopKeepsThePosition) {
  Open("h264-aac-16x9.mp4");
  EXPECT_NEAR(double(graph_.Duration().value_or(0)), double(FrameTime(300)), 0.03e9);
  ASSERT_TRUE(graph_.Pause());
  for (int frame : {100, 101, 45, 0, 299}) {
    for (int64_t target : {FrameTime(frame), FrameTime(frame) + int64_t(kFrameNs / 2)}) {
      ASSERT_TRUE(graph_.Seek(target, std::nullopt, false));
      EXPECT_EQ(Position(), target) << frame;
      EXPECT_NEAR(double(graph_.shown()->start_ns), double(FrameTime(frame)), 1e3) << frame;
    }
  }
  ASSERT_TRUE(graph_.Seek(FrameTime(95), std::nullopt, true));  // key frames every 30
  EXPECT_NEAR(double(Position()), double(FrameTime(90)), 1e3);
  ASSERT_TRUE(graph_.Play());
  // The sound server's clock may take a few hundred milliseconds to start on a busy machine.
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  ASSERT_TRUE(graph_.Stop());
  const int64_t kept = Position();
  EXPECT_GT(kept, FrameTime(90) + int64_t(0.25e9));
  ASSERT_TRUE(graph_.Pause());
  EXPECT_LE(graph_.shown()->start_ns, kept);
  EXPECT_GT(graph_.shown()->start_ns + graph_.shown()->duration_ns, kept);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Position(), kept) << "a paused movie stands";
}

// A seek while paused decodes from the key frame (here 4 s before its target) and keeps what
// it decodes; a Play from there starts at the target at once, not after the stretch from the
// key frame has run by.
TEST_F(GraphTest, APlayAfterASeekStartsAtOnce) {
  Open("long-gop-60fps.mp4");
  ASSERT_TRUE(graph_.Pause());
  ASSERT_TRUE(graph_.Seek(int64_t(4.0e9), std::nullopt, false));
  EXPECT_TRUE(graph_.cache().Find(int64_t(3.85e9))) << "the pictures on the way are kept";
  ASSERT_TRUE(graph_.Play());
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_GT(Position(), int64_t(4.2e9)) << "it plays from the target";
  ASSERT_TRUE(graph_.Pause());
}

// Volume only where there is sound; the owner must be an existing window; areas beyond any
// screen are refused.
TEST_F(GraphTest, VolumeAndWindow) {
  Open("h264-aac-16x9.mp4");
  EXPECT_TRUE(graph_.SetVolume(0.5));
  EXPECT_FALSE(graph_.SetOwner(0x7ffffff0));
  EXPECT_FALSE(graph_.SetVideoArea(0, 0, -1, 5));
  EXPECT_FALSE(graph_.SetVideoArea(0, 0, 1 << 20, 5));
  EXPECT_FALSE(graph_.SetVideoArea(0, 0, 16384, 16384)) << "1 GiB a picture";
  EXPECT_TRUE(graph_.SetVideoArea(0, 0, 16384, 2025)) << "a long side, a screen's area";
  EXPECT_TRUE(graph_.SetVideoArea(0, 0, 0, 0)) << "an empty panel is not an error";
  Graph silent;
  ASSERT_TRUE(silent.Open(test::Movie("h264-noaudio.mp4")));
  EXPECT_FALSE(silent.SetVolume(0.5));
}

// Without a sound server the movie still plays to its end, in time: its sound goes to a sink
// that follows the clock.
TEST_F(GraphTest, PlaysToTheEndInTimeWithoutASoundServer) {
  setenv("PULSE_SERVER", "unix:/nonexistent/quorvex-test", 1);
  Open("h264-aac-16x9.mp4");
  ASSERT_TRUE(graph_.Seek(FrameTime(270), std::nullopt, false));
  ASSERT_TRUE(graph_.Pause());
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(graph_.Play());
  const std::optional<GraphEvent> event = graph_.events().Take(20000);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->kind, GraphEvent::Kind::kEndOfStream) << event->text;
  EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(800))
      << "30 frames take a second; a sink that does not wait races through them";
}

// A graph in a window of its own that shows a target by a fresh, frame-accurate seek: what a
// step must show and report.
struct Reference {
  Reference(const std::string& movie, int width, int height, size_t cache_bytes)
      : window(width, height) {
    graph.cache().set_limit_bytes(cache_bytes);
    ok = graph.Open(test::Movie(movie)) && graph.SetOwner(window.id()) &&
         graph.SetVideoArea(0, 0, width, height) && graph.Pause();
  }
  void SeekFresh(int64_t target) {
    graph.Stop();  // a stopped graph keeps the target and seeks the pipeline on Pause
    graph.Seek(target, std::nullopt, false);
    graph.Pause();
  }
  test::XTestWindow window;
  Graph graph;
  bool ok = false;
};

// Steps of 1, 5 and 10 frames of 29.97 fps both ways, repeated and mixed, across a key frame
// and at both ends, show and report exactly what a fresh accurate seek to the same target
// shows: served from the cache, by decoding on, or (with no cache at all) by seeking.
TEST_F(GraphTest, StepsShowWhatAFreshSeekShows) {
  struct Case {
    const char* movie;
    double start_s;
    size_t cache_bytes;
  };
  for (const Case& c : {Case{"long-gop-60fps.mp4", 4.25, Graph::kDefaultCacheBytes},
                        Case{"h264-aac-16x9.mp4", 0.1, Graph::kDefaultCacheBytes},
                        Case{"long-gop-60fps.mp4", 4.0, 0},
                        Case{"long-gop-60fps.mp4", 4.0, 400 << 10}}) {  // about five pictures
    SCOPED_TRACE(std::string(c.movie) + (c.cache_bytes ? "" : ", no cache"));
    Graph graph;
    graph.cache().set_limit_bytes(c.cache_bytes);
    Open(c.movie, graph);
    ASSERT_TRUE(graph.Pause());
    Reference reference(c.movie, owner_.width(), owner_.height(), Graph::kDefaultCacheBytes);
    ASSERT_TRUE(reference.ok);
    const int64_t duration = graph.Duration().value_or(0);
    int64_t position = int64_t(c.start_s * 1e9);
    ASSERT_TRUE(graph.Seek(position, std::nullopt, false));
    graph.WaitForCacheFill(5000);
    if (c.cache_bytes == Graph::kDefaultCacheBytes && c.start_s >= 2.0) {
      EXPECT_GE(graph.cache().count(), 100u) << "the two seconds before the paused picture";
    }
    for (int step : {+1,  -1,  +5,  -5,  -10, -10, +10, +10, -1,  -10, +5,
                     +10, +10, -10, -10, -10, -10, -10, +1,  -10, +10}) {
      const int64_t target =
          std::clamp<int64_t>(position + int64_t(std::llround(step * kFrameNs)), 0, duration);
      ASSERT_TRUE(graph.Seek(target, std::nullopt, false)) << step;
      graph.WaitForCacheFill(5000);
      reference.SeekFresh(target);
      position = graph.Position().value_or(-1);
      EXPECT_EQ(position, reference.graph.Position()) << step << " to " << target;
      // The same picture (a fresh seek's decoder clips its start to the target).
      const Graph::Shown shown = graph.shown().value_or(Graph::Shown{});
      EXPECT_GE(reference.graph.shown()->start_ns, shown.start_ns) << target;
      EXPECT_LT(reference.graph.shown()->start_ns, shown.start_ns + shown.duration_ns) << target;
      EXPECT_TRUE(owner_.Grab() == reference.window.Grab()) << target;
    }
    EXPECT_LE(graph.cache().peak_bytes(), c.cache_bytes) << "the cache keeps to its bound";
    if (c.cache_bytes == 0)
      continue;
    EXPECT_GT(graph.cache().count(), 0u);
    // Pictures of the old size are not drawn again after a resize.
    ASSERT_TRUE(graph.SetVideoArea(0, 0, owner_.width() / 2, owner_.height() / 2));
    ASSERT_TRUE(reference.graph.SetVideoArea(0, 0, owner_.width() / 2, owner_.height() / 2));
    ASSERT_TRUE(graph.StepPictures(-1));
    reference.SeekFresh(graph.Position().value_or(-1));
    EXPECT_TRUE(owner_.Grab() == reference.window.Grab()) << "a step after a resize";
  }
}

// On MPEG-TS (no index), without a cache, seeks while paused forward, backward, onto a key
// frame, just before and after one and across several show the picture that covers the target;
// with the cache on, native steps go to the stream's neighbours both ways across key frames.
// Both show the pixels that decoding on from the key frame gives: nothing damaged by a demuxer
// that started between key frames is kept and shown again.
TEST_F(GraphTest, TransportStreamSeeksAndStepsLandOnTheFrame) {
  Reference reference("h264-mp2.ts", owner_.width(), owner_.height(), 0);
  ASSERT_TRUE(reference.ok);
  int64_t first = 0;  // stamps in MPEG-TS rarely start at 0
  // The reference lands on the key frame (every 30 frames) and decodes on to the middle of
  // `frame`, without a seek.
  const auto decoded_on = [&](int frame) {
    EXPECT_TRUE(reference.graph.Seek(first + FrameTime(frame / 30 * 30), std::nullopt, false));
    EXPECT_TRUE(reference.graph.Seek(first + FrameTime(frame) + int64_t(kFrameNs / 2),
                                     std::nullopt, false));
    return reference.window.Grab();
  };
  {
    Graph graph;
    graph.cache().set_limit_bytes(0);
    Open("h264-mp2.ts", graph);
    ASSERT_TRUE(graph.Pause());
    first = graph.shown()->start_ns;
    // 90 is a key frame, 89 the last picture before it.
    for (int frame : {100, 101, 90, 89, 91, 60, 59, 150, 131, 29, 250, 5, 119}) {
      const int64_t target = first + FrameTime(frame) + int64_t(kFrameNs / 2);
      ASSERT_TRUE(graph.Seek(target, std::nullopt, false)) << frame;
      EXPECT_EQ(graph.Position(), target) << frame;
      const Graph::Shown shown = graph.shown().value_or(Graph::Shown{});
      EXPECT_GE(shown.start_ns, first + FrameTime(frame) - 20'000) << frame;
      EXPECT_GT(shown.start_ns + shown.duration_ns, target) << frame;
      EXPECT_TRUE(owner_.Grab() == decoded_on(frame)) << frame;
    }
    // The stamps' span ends a first picture's start later: the last picture can be reached.
    ASSERT_TRUE(graph.Seek(graph.Duration().value_or(0) - 1, std::nullopt, false));
    EXPECT_NEAR(double(graph.shown()->start_ns), double(first + FrameTime(299)), 20'000);
  }
  Open("h264-mp2.ts");  // the fixture's graph, with the cache on
  ASSERT_TRUE(graph_.Pause());
  int k = 92;
  ASSERT_TRUE(graph_.Seek(first + FrameTime(k) + int64_t(kFrameNs / 2), std::nullopt, false));
  for (int step : {-1, -1, -1, -1, 1, 1, 10, -10, -5, 1, 1}) {
    ASSERT_TRUE(graph_.StepPictures(step)) << k << " by " << step;
    k += step;
    EXPECT_NEAR(double(graph_.shown()->start_ns), double(first + FrameTime(k)), 20'000) << k;
    EXPECT_EQ(Position(), graph_.shown()->start_ns) << k;
    EXPECT_TRUE(owner_.Grab() == decoded_on(k)) << k;
  }
}

// The graph holds the filters and the clock given to it, and lets them go with itself, also
// when the file could not be opened; then it tells why.
TEST_F(GraphTest, ReleasesWhatItWasGiven) {
  const auto watch = [](GstObject* object, bool* gone) {
    g_object_weak_ref(
        G_OBJECT(object), [](void* g, GObject*) { *static_cast<bool*>(g) = true; }, gone);
  };
  for (const char* movie : {"h264-aac-16x9.mp4", "truncated.mp4"}) {
    bool filter_gone = false, clock_gone = false;
    {
      Graph graph;
      GstRef<GstElement> filter(
          GST_ELEMENT(gst_object_ref_sink(gst_element_factory_make("identity", nullptr))));
      GstRef<GstClock> clock(
          GST_CLOCK(gst_object_ref_sink(g_object_new(GST_TYPE_SYSTEM_CLOCK, nullptr))));
      watch(GST_OBJECT(filter.get()), &filter_gone);
      watch(GST_OBJECT(clock.get()), &clock_gone);
      ASSERT_TRUE(graph.AddFilter(filter.get(), "held"));
      EXPECT_FALSE(graph.AddFilter(filter.get(), "again"));
      graph.UseClock(clock.get());
      if (!graph.Open(test::Movie(movie))) {
        // What made the open fail stays queued, with the decoder's own words.
        const std::optional<GraphEvent> why = graph.events().Take(0);
        ASSERT_TRUE(why) << movie;
        EXPECT_EQ(why->kind, GraphEvent::Kind::kError);
        EXPECT_FALSE(why->text.empty());
      }
      graph.Play();
      filter.reset();
      clock.reset();
      EXPECT_FALSE(filter_gone || clock_gone) << "the graph holds its filter and clock";
    }
    EXPECT_TRUE(filter_gone && clock_gone) << movie;
  }
}

}  // namespace
}  // namespace quorvex::media
