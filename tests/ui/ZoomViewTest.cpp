// The part of the picture a movie window shows: zooming keeps the spot under the pointer, stays
// within 1x..8x, panning stops at the picture's edges, and whatever the wheel, drags and keys do,
// the rectangle sent is one the server takes.
#include "ui/ZoomView.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "hosting/Channel.h"

namespace quorvex {
namespace {

constexpr double kEps = 1e-12;

TEST(ZoomViewTest, ZoomKeepsTheSpotUnderThePointerWithinItsLimits) {
  ZoomView z;
  // The spot a quarter in from the left, three quarters down stays where the pointer is.
  ASSERT_TRUE(z.ZoomAround(2, 0.25, 0.75));
  EXPECT_NEAR(z.size(), 0.5, kEps);
  EXPECT_NEAR(z.left() + 0.25 * z.size(), 0.25, kEps);
  EXPECT_NEAR(z.top() + 0.75 * z.size(), 0.75, kEps);
  // A spot of the part now shown, zoomed again: that spot of the picture stays too.
  const double spot_x = z.left() + 0.6 * z.size(), spot_y = z.top() + 0.1 * z.size();
  ASSERT_TRUE(z.ZoomAround(ZoomView::kNotch, 0.6, 0.1));
  EXPECT_NEAR(z.left() + 0.6 * z.size(), spot_x, kEps);
  EXPECT_NEAR(z.top() + 0.1 * z.size(), spot_y, kEps);

  for (int notch = 0; notch < 10; ++notch)
    z.ZoomAround(ZoomView::kNotch, 0.5, 0.5);
  EXPECT_EQ(z.scale(), 8) << "the most is 8x";
  EXPECT_FALSE(z.ZoomAround(ZoomView::kNotch, 0.5, 0.5)) << "nothing changes at 8x";
  // Out again near a corner: the part stays inside the picture.
  while (z.ZoomAround(1 / ZoomView::kNotch, 1.0, 1.0)) {
    EXPECT_GE(z.left(), 0);
    EXPECT_LE(z.left() + z.size(), 1 + kEps);
  }
  EXPECT_TRUE(z.whole());
  // Nonsense from an event changes nothing.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(z.ZoomAround(nan, 0.5, 0.5) || z.ZoomAround(2, nan, 0.5) ||
               z.ZoomAround(inf, 0.5, 0.5) || z.ZoomAround(0, 0.5, 0.5) ||
               z.ZoomAround(-2, 0.5, 0.5) || z.PanBy(nan, 0));
  EXPECT_TRUE(z.whole());
}

TEST(ZoomViewTest, PanStopsAtThePicturesEdges) {
  ZoomView z;
  EXPECT_FALSE(z.PanBy(0.3, 0.3)) << "the whole picture cannot move";
  ASSERT_TRUE(z.ZoomAround(4, 0.5, 0.5));  // left and top at 0.375
  // Half the part shown to the right and up.
  ASSERT_TRUE(z.PanBy(0.5, -0.5));
  EXPECT_NEAR(z.left(), 0.5, kEps);
  EXPECT_NEAR(z.top(), 0.25, kEps);
  ASSERT_TRUE(z.PanBy(10, -10));
  EXPECT_NEAR(z.left(), 0.75, kEps) << "stops at the right edge";
  EXPECT_EQ(z.top(), 0) << "stops at the top edge";
  EXPECT_FALSE(z.PanBy(1, -1));
  ASSERT_TRUE(z.PanBy(-10, 10));
  EXPECT_EQ(z.left(), 0);
  EXPECT_NEAR(z.top(), 0.75, kEps);
}

// The rectangle the window sends must be one the server takes, after any mix of moves.
TEST(ZoomViewTest, EveryRectangleSentIsOneTheServerTakes) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> spot(-0.2, 1.2), notches(-3, 3), pan(-2, 2);
  ZoomView z;
  for (int i = 0; i < 5000; ++i) {
    switch (random() % 3) {
      case 0:
        z.ZoomAround(std::pow(ZoomView::kNotch, notches(random)), spot(random), spot(random));
        break;
      case 1:
        z.PanBy(pan(random), pan(random));
        break;
      default:
        if (random() % 10 == 0)
          z.Reset();
    }
    const ZoomView::Units u = z.ToUnits(channel::kZoomUnits);
    ASSERT_TRUE(channel::ZoomInRange(u.left, u.top, u.width, u.height))
        << i << ": " << u.left << " " << u.top << " " << u.width << " " << u.height;
    ASSERT_EQ(u.width, u.height) << "the picture keeps its aspect ratio";
  }
}

}  // namespace
}  // namespace quorvex
