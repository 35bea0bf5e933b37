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

// What is wrong with the picture in `owner` for a video fitted to w by h at the top-left;
// empty when nothing is.
std::string CheckPicture(const test::TestWindow& owner, int w, int h) {
  const std::vector<test::Rgb> pixels = owner.Grab();
  if (pixels.size() != size_t(owner.width()) * owner.height())
    return "no picture grabbed";
  std::string wrong;
  const auto expect = [&](const auto& ok, const std::string& what, int x, int y) {
    const test::Rgb& p = pixels[size_t(y) * owner.width() + x];
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
void ExpectPicture(const test::TestWindow& owner, int w, int h) {
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

class VideoWindowTest : public testing::TestWithParam<FitCase> {};

// The picture is fitted by the movie's own aspect; a new size while paused is drawn at once.
TEST_P(VideoWindowTest, PictureFillsTheFittedRectangleAtTheTopLeft) {
  const FitCase& c = GetParam();
  test::TestWindow owner(c.owner_width, c.owner_height);
  ASSERT_TRUE(owner.ok());
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

INSTANTIATE_TEST_SUITE_P(Areas, VideoWindowTest,
                         testing::Values(FitCase{"h264-aac-16x9.mp4", 16, 9, 480, 360, 240, 200},
                                         FitCase{"mjpeg-pcm-4x3.avi", 4, 3, 400, 200, 200, 200},
                                         FitCase{"h264-aac-16x9.mp4", 16, 9, 320, 180, 160, 120}));

}  // namespace
}  // namespace quorvex
