// The movie's picture drawn into an X window of another client: fitted to the requested
// area at its top-left corner, the rest of the owner black.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine/CMovie.h"
#include "engine/MovieUtils.h"
#include "tests/platform/media/TestWindow.h"
#include "tests/support/TestEnv.h"

namespace quorvex {
namespace {

using test::Rgb;

struct Picture {
  std::vector<Rgb> pixels;
  int width;
  const Rgb& at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// The SMPTE bars across the top of the picture, left to right: grey, yellow, cyan, green,
// magenta, red, blue (75 % intensity).
bool LooksLikeBar(const Rgb& p, int bar) {
  const bool r = p.r > 120, g = p.g > 120, b = p.b > 120;
  static constexpr bool kBars[7][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0},
                                       {1, 0, 1}, {1, 0, 0}, {0, 0, 1}};
  return r == kBars[bar][0] && g == kBars[bar][1] && b == kBars[bar][2];
}

struct FitCase {
  const char* movie;
  int owner_width, owner_height;  // the area given to SetVideoSize is the owner's
  int aspect_x, aspect_y;
};

class VideoWindowTest : public testing::TestWithParam<FitCase> {
 protected:
  void SetUp() override { test::InitXThreads(); }
};

// What is wrong with the picture in `owner` for a video fitted to w by h at the top-left;
// empty when nothing is.
std::string CheckPicture(const Picture& picture, int owner_width, int owner_height, int w, int h) {
  std::string wrong;
  const auto expect = [&](bool ok, const std::string& what, int x, int y) {
    if (!ok) {
      const Rgb& p = picture.at(x, y);
      wrong += what + " at (" + std::to_string(x) + "," + std::to_string(y) + ") is " +
               std::to_string(p.r) + "/" + std::to_string(p.g) + "/" + std::to_string(p.b) + "; ";
    }
  };
  // Every bar where it belongs, across exactly the fitted width.
  for (int bar = 0; bar < 7; ++bar) {
    const int x = w * (2 * bar + 1) / 14;
    expect(LooksLikeBar(picture.at(x, h / 4), bar), "bar " + std::to_string(bar), x, h / 4);
  }
  expect(LooksLikeBar(picture.at(1, 1), 0), "top-left corner", 1, 1);
  expect(LooksLikeBar(picture.at(w - 2, h / 4), 6), "right edge", w - 2, h / 4);
  expect(!picture.at(2, h - 2).IsBlack(), "bottom edge", 2, h - 2);
  // Outside the rectangle: the black container, not the owner's white.
  if (w + 2 < owner_width)
    expect(picture.at(w + 1, h / 4).IsBlack(), "right of the picture", w + 1, h / 4);
  if (h + 2 < owner_height)
    expect(picture.at(w / 2, h + 1).IsBlack(), "below the picture", w / 2, h + 1);
  if (w + 2 < owner_width || h + 2 < owner_height)
    expect(picture.at(owner_width - 1, owner_height - 1).IsBlack(), "bottom-right corner",
           owner_width - 1, owner_height - 1);
  return wrong;
}

TEST_P(VideoWindowTest, PictureFillsTheFittedRectangleAtTheTopLeft) {
  const FitCase& c = GetParam();
  test::TestWindow owner(c.owner_width, c.owner_height);
  ASSERT_TRUE(owner.ok());
  CMovie movie;
  const std::string path = test::Movie(c.movie);
  ASSERT_TRUE(movie.InitializeGraph(std::u16string(path.begin(), path.end()), owner.id()));
  movie.SetVideoSize(c.owner_width, c.owner_height);
  movie.Pause();
  int32_t w = 0, h = 0;
  MovieUtils::CalcActualVideoSize(c.owner_width, c.owner_height, c.aspect_x, c.aspect_y, w, h);

  // The X server shows the sink's drawing a moment later under load.
  std::string wrong;
  for (int attempt = 0; attempt < 50; ++attempt) {
    const Picture picture{owner.Grab(), c.owner_width};
    ASSERT_EQ(picture.pixels.size(), size_t(c.owner_width) * c.owner_height);
    wrong = CheckPicture(picture, c.owner_width, c.owner_height, w, h);
    if (wrong.empty())
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(wrong, "");
}

INSTANTIATE_TEST_SUITE_P(Areas, VideoWindowTest,
                         testing::Values(FitCase{"h264-aac-16x9.mp4", 480, 360, 16, 9},
                                         FitCase{"mjpeg-pcm-4x3.avi", 400, 200, 4, 3},
                                         FitCase{"h264-aac-16x9.mp4", 320, 180, 16, 9}));

// A new size while paused redraws the picture at that size.
TEST(VideoWindowResize, ANewSizeWhilePausedIsDrawnAtOnce) {
  test::InitXThreads();
  test::TestWindow owner(480, 360);
  ASSERT_TRUE(owner.ok());
  CMovie movie;
  const std::string path = test::Movie("h264-aac-16x9.mp4");
  ASSERT_TRUE(movie.InitializeGraph(std::u16string(path.begin(), path.end()), owner.id()));
  movie.SetVideoSize(480, 360);
  movie.Pause();
  movie.SetVideoSize(240, 200);
  std::string wrong;
  for (int attempt = 0; attempt < 50; ++attempt) {
    wrong = CheckPicture(Picture{owner.Grab(), 480}, 480, 360, 240, 135);
    if (wrong.empty())
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(wrong, "");
}

}  // namespace
}  // namespace quorvex
