// The zoom in the graph on the quadrant movie, drawn into a real X window: the part shown is
// cut from the full decoded picture (the checkers stay sharp at 4x), and it stays over steps
// (from the cache, from the background fill, by decoding), play, a rate change and a resize.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/media/Graph.h"
#include "tests/support/Quadrants.h"
#include "tests/support/TestEnv.h"
#include "tests/support/XTestWindow.h"

namespace quorvex::media {
namespace {

constexpr Crop kRed{0, 0, 0.5, 0.5}, kGreen{0.5, 0, 0.5, 0.5}, kBlue{0, 0.5, 0.5, 0.5};
constexpr Crop kCheckers{test::kCheckersLeft, test::kCheckersTop, test::kCheckersSize,
                         test::kCheckersSize};

// The crop in pixels stays inside the picture whatever it is given, and the cache takes only
// pictures of its current crop: a back fill still running for the last one cannot put its
// pictures in.
TEST(CropTest, PixelsStayInsideAndTheCacheKeepsToOneCrop) {
  struct Case {
    Crop crop;
    Crop::Pixels pixels;
  };
  for (const Case& c :
       {Case{{}, {0, 0, 1280, 720}}, Case{{0.5, 0.25, 0.25, 0.5}, {640, 180, 320, 360}},
        Case{{0.9, 0.9, 0.5, 0.5}, {1152, 648, 128, 72}}, Case{{-1, 2, 0, 0}, {0, 719, 1, 1}}}) {
    EXPECT_EQ(c.crop.InPixels(1280, 720), c.pixels) << c.crop.left << " " << c.crop.top;
  }
  const auto picture = [](const Crop& crop) {
    auto p = std::make_shared<Picture>();
    p->duration_ns = p->nominal_ns = 33'000'000;
    p->width = p->height = 4;
    p->pixels.resize(64);
    p->crop = crop;
    return p;
  };
  PictureCache cache(1 << 20);
  cache.Reset(4, 4, {0, 0, 0.5, 0.5});
  cache.Insert(picture({}), 0);
  EXPECT_EQ(cache.count(), 0u) << "cut for another part";
  cache.Insert(picture({0, 0, 0.5, 0.5}), 0);
  EXPECT_EQ(cache.count(), 1u);
}

class ZoomTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(graph_.Open(test::Movie("quadrants.mp4")));
    ASSERT_TRUE(graph_.SetOwner(owner_.id()));
    ASSERT_TRUE(graph_.SetVideoArea(0, 0, owner_.width(), owner_.height()));
    ASSERT_TRUE(graph_.Pause());
  }
  // The colours near the corners of the area the picture is drawn in.
  std::string Corners(int width = 256, int height = 144) {
    return test::Corners(owner_, width, height);
  }

  test::XTestWindow owner_{256, 144};  // the movie's aspect ratio: the picture fills it
  Graph graph_;
};

TEST_F(ZoomTest, ThePartShownStaysOverStepsPlayRateChangesAndResizes) {
  EXPECT_EQ(Corners(), "rgby");
  ASSERT_TRUE(graph_.SetZoom(kRed));
  EXPECT_EQ(Corners(), "rrrr") << "the held picture is made again at once";

  // What the background fill decodes before a paused position is cut as well: steps back
  // through it decode nothing.
  ASSERT_TRUE(graph_.Seek(int64_t(1.5e9), std::nullopt, false));
  ASSERT_TRUE(graph_.WaitForCacheFill(10000));
  const uint64_t decoded = graph_.pictures_received();
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(graph_.StepPictures(-3));
    EXPECT_EQ(Corners(), "rrrr") << i;
  }
  EXPECT_EQ(graph_.pictures_received(), decoded) << "the steps came from the cache";

  // The picture on screen came from the cache, not from the sink: a zoom decodes it again.
  ASSERT_TRUE(graph_.SetZoom(kGreen));
  EXPECT_EQ(Corners(), "gggg");
  const int64_t at = graph_.Position().value_or(-1);
  EXPECT_EQ(graph_.shown()->start_ns, at) << "the same picture, made again";

  ASSERT_TRUE(graph_.Seek(0, std::nullopt, false));
  ASSERT_TRUE(graph_.Play());
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(graph_.SetZoom(kBlue));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(Corners(), "bbbb") << "while playing";
  ASSERT_TRUE(graph_.Pause());
  ASSERT_TRUE(graph_.RateChanged());
  EXPECT_EQ(Corners(), "bbbb") << "after a rate change";
  ASSERT_TRUE(graph_.SetVideoArea(0, 0, 128, 72));
  EXPECT_EQ(Corners(128, 72), "bbbb") << "after a resize";
  ASSERT_TRUE(graph_.SetZoom({}));
  EXPECT_EQ(Corners(128, 72), "rgby");
}

// The share of pixels across the middle row of `window` that are plainly one of the checkers'
// colours, and how often the colour changes along that row.
struct Sharpness {
  double pure = 0;
  int changes = 0;
};
Sharpness Measure(const test::XTestWindow& window) {
  const std::vector<uint32_t> pixels = window.Grab();
  Sharpness s;
  int pure = 0;
  char last = 0;
  for (int x = 0; x < window.width(); ++x) {
    const test::Rgb c = test::ToRgb(pixels[size_t(window.height() / 2 * window.width() + x)]);
    const char colour = c.r > 200 && c.g < 70 ? 'r' : c.g > 200 && c.r < 70 ? 'g' : 0;
    pure += colour != 0;
    if (colour && last && colour != last)
      ++s.changes;
    if (colour)
      last = colour;
  }
  s.pure = double(pure) / window.width();
  return s;
}

// 4x onto the checkers: cut from the 1280x720 picture (320x180 scaled to 256x144, squares of
// 6.4 pixels), they stay as crisp as the source. An enlargement of the picture drawn small
// (squares of 1.6 pixels, blurred into each other) shows muddy colours and loses squares.
TEST_F(ZoomTest, CheckersStaySharpAtFourTimes) {
  ASSERT_TRUE(graph_.SetZoom(kCheckers));
  const Sharpness zoomed = Measure(owner_);
  EXPECT_GT(zoomed.pure, 0.6);
  // 320 pixels hold 40 squares: 39 changes of colour across the row.
  EXPECT_GE(zoomed.changes, 36);
  EXPECT_LE(zoomed.changes, 42);
  // A step (decoded) and back (cached) keep it.
  ASSERT_TRUE(graph_.StepPictures(1));
  EXPECT_GT(Measure(owner_).pure, 0.6);
  ASSERT_TRUE(graph_.StepPictures(-1));
  EXPECT_GT(Measure(owner_).pure, 0.6);
}

}  // namespace
}  // namespace quorvex::media
