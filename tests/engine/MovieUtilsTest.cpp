#include <gtest/gtest.h>

#include <array>

#include "engine/MovieUtils.h"

namespace quorvex {
namespace {

// Area, aspect, and the largest size of the aspect that fits.
class CalcActualVideoSizeTest : public testing::TestWithParam<std::array<int32_t, 6>> {};

TEST_P(CalcActualVideoSizeTest, LargestSizeOfTheAspectThatFits) {
  const auto [area_w, area_h, aspect_x, aspect_y, width, height] = GetParam();
  int32_t w = -1, h = -1;
  MovieUtils::CalcActualVideoSize(area_w, area_h, aspect_x, aspect_y, w, h);
  EXPECT_EQ(w, width);
  EXPECT_EQ(h, height);
}

INSTANTIATE_TEST_SUITE_P(
    Areas, CalcActualVideoSizeTest,
    testing::Values(std::array{640, 480, 16, 9, 640, 360},  // wider video: the width is kept
                    std::array{640, 360, 4, 3, 480, 360},   // narrower video: the height is kept
                    std::array{640, 480, 4, 3, 640, 480}, std::array{1000, 1000, 16, 9, 1000, 562},
                    std::array{123, 77, 4, 3, 102, 77},
                    // Nothing to fit into, or no aspect: the area itself, no division by zero.
                    std::array{0, 480, 16, 9, 0, 480}, std::array{640, 0, 16, 9, 640, 0},
                    std::array{640, 480, 0, 9, 640, 480}, std::array{640, 480, 16, 0, 640, 480}));

}  // namespace
}  // namespace quorvex
