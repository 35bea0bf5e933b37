#include <gtest/gtest.h>

#include "engine/MovieUtils.h"

namespace quorvex {
namespace {

struct FitCase {
  int32_t area_width, area_height, aspect_x, aspect_y;
  int32_t width, height;
};

class CalcActualVideoSizeTest : public testing::TestWithParam<FitCase> {};

TEST_P(CalcActualVideoSizeTest, LargestSizeOfTheAspectThatFits) {
  const FitCase& c = GetParam();
  int32_t width = -1, height = -1;
  MovieUtils::CalcActualVideoSize(c.area_width, c.area_height, c.aspect_x, c.aspect_y, width,
                                  height);
  EXPECT_EQ(width, c.width);
  EXPECT_EQ(height, c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Areas, CalcActualVideoSizeTest,
    testing::Values(FitCase{640, 480, 16, 9, 640, 360},  // wider video: the width is kept
                    FitCase{640, 360, 4, 3, 480, 360},   // narrower video: the height is kept
                    FitCase{640, 480, 4, 3, 640, 480},   // equal aspects keep the width
                    FitCase{1000, 1000, 16, 9, 1000, 562}, FitCase{123, 77, 4, 3, 102, 77},
                    // Nothing to fit into, or no aspect: the area itself, no division by zero.
                    FitCase{0, 480, 16, 9, 0, 480}, FitCase{640, 0, 16, 9, 640, 0},
                    FitCase{640, 480, 0, 9, 640, 480}, FitCase{640, 480, 16, 0, 640, 480}));

}  // namespace
}  // namespace quorvex
