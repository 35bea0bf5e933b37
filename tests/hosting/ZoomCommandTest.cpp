// The zoom command through a real movie server: the part asked for is what the window shows,
// and a rectangle a hostile or broken client sends that leaves the picture, is empty or enlarges
// beyond 8x is refused without changing the picture.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "engine/ChannelTerms.h"
#include "hosting/CMovieClient.h"
#include "tests/support/Quadrants.h"
#include "tests/support/TestEnv.h"
#include "tests/support/XTestWindow.h"

namespace quorvex {
namespace {

using namespace media;
constexpr int32_t kHalf = channel::kZoomUnits / 2;

TEST(ZoomCommandTest, ShowsThePartAskedForAndRefusesRectanglesOutsideThePicture) {
  CMovieClient client({.server_path = test::QuorvexExe()});
  EXPECT_EQ(client.SetZoom(0, 0, channel::kZoomUnits, channel::kZoomUnits), E_UNEXPECTED)
      << "no movie yet";
  test::XTestWindow window(256, 144);  // the movie's aspect ratio: the picture fills it
  ASSERT_TRUE(
      client.InitializeGraph(test::Utf16(test::Movie("quadrants.mp4")).c_str(), window.id()));
  client.SetVideoSize(window.width(), window.height());
  client.Pause();
  EXPECT_EQ(test::Corners(window), "rgby");

  EXPECT_EQ(client.SetZoom(0, 0, kHalf, kHalf), S_OK);
  EXPECT_EQ(test::Corners(window), "rrrr");
  const std::vector<uint32_t> red = window.Grab();
  struct Rect {
    int32_t left, top, width, height;
  };
  const Rect refused[] = {
      {-1, 0, kHalf, kHalf},         // left of the picture
      {0, -kHalf, kHalf, kHalf},     // above it
      {kHalf + 1, 0, kHalf, kHalf},  // past its right edge
      {0, kHalf, kHalf, kHalf + 1},  // past its bottom edge
      {0, 0, 0, 0},                  // empty
      {0, 0, kHalf, 0},              // empty one way
      {0, 0, 8191, 8191},            // beyond 8x
      {0, 0, channel::kZoomUnits + 1, channel::kZoomUnits},
      {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
      {1, 1, INT_MAX, INT_MAX},  // the sums wrap around in 32 bits
      {INT_MIN, INT_MIN, INT_MAX, INT_MAX},
      {kHalf, kHalf, INT_MIN, INT_MIN},
  };
  for (const Rect& r : refused) {
    SCOPED_TRACE(testing::Message() << r.left << " " << r.top << " " << r.width << " " << r.height);
    EXPECT_EQ(client.SetZoom(r.left, r.top, r.width, r.height), E_INVALIDARG);
    EXPECT_EQ(window.Grab(), red) << "a refused rectangle leaves the picture as it was";
  }
  EXPECT_FALSE(client.lost());

  EXPECT_EQ(client.SetZoom(kHalf, 0, kHalf, kHalf), S_OK);
  EXPECT_EQ(test::Corners(window), "gggg");
  // The smallest part taken: 1/8 of the picture, at its bottom-right corner.
  const int32_t eighth = channel::kZoomUnits / 8;
  EXPECT_EQ(
      client.SetZoom(channel::kZoomUnits - eighth, channel::kZoomUnits - eighth, eighth, eighth),
      S_OK);
  EXPECT_EQ(test::Corners(window), "yyyy");
}

}  // namespace
}  // namespace quorvex
