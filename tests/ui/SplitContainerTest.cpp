// The fixed-lower-panel split container: the lower panel keeps its height across resizes, the
// splitter distance and the minimum size interact as the control strip needs.
#include <gtest/gtest.h>

#include "ui/SplitContainer.h"

namespace quorvex {
namespace {

TEST(SplitContainer, PanelsTakeTheirHeights) {
  // panel 2's minimum, the distance asked for, the height resized to (0: none), the heights.
  const int cases[][5] = {{42, 232, 0, 230, 42},  // the minimum size wins
                          {42, 230, 400, 357, 42},
                          {0, 273, 500, 499, 0},
                          {42, 230, 30, 0, 29}};
  for (const auto& [panel2_min, distance, resize_to, upper, lower] : cases) {
    SplitContainer s;
    s.resize(401, 273);
    s.show();  // a hidden widget gets its resize events only when shown
    s.SetPanel2MinSize(panel2_min);
    s.SetSplitterDistance(distance);
    if (resize_to > 0)
      s.resize(401, resize_to);
    EXPECT_EQ(s.Panel2()->geometry(), QRect(0, upper + SplitContainer::kSplitterWidth, 401, lower))
        << resize_to;
    EXPECT_EQ(s.SplitterDistance(), upper);
  }
  SplitContainer s;  // raising the minimum grows the lower panel
  s.resize(401, 273);
  s.SetPanel2MinSize(0);
  s.SetSplitterDistance(232);
  s.SetPanel2MinSize(42);
  EXPECT_EQ(s.Panel2()->height(), 42);
}

}  // namespace
}  // namespace quorvex
