// The fixed-lower-panel split container: the lower panel keeps its height across resizes, the
// splitter distance and the minimum size interact as the control strip needs.
#include <gtest/gtest.h>

#include "tests/ui/Printers.h"
#include "ui/SplitContainer.h"

namespace quorvex {
namespace {

TEST(SplitContainer, PanelsTakeTheirHeights) {
  struct Case {
    const char* name;
    int panel2_min, distance, resize_to;  // resize_to 0: no resize
    int upper, lower;
  };
  for (const Case& c :
       {Case{"Designed", 42, 230, 0, 230, 42},
        // The show rule asks for height - 41; the minimum size wins.
        Case{"MinimumWins", 42, 232, 0, 230, 42}, Case{"ResizeKeepsLower", 42, 230, 400, 357, 42},
        Case{"Hidden", 0, 273, 0, 272, 0}, Case{"HiddenResized", 0, 273, 500, 499, 0},
        Case{"TooSmallForLower", 42, 230, 30, 0, 29}}) {
    SCOPED_TRACE(c.name);
    SplitContainer s;
    s.resize(401, 273);
    s.show();  // a hidden widget gets its resize events only when shown
    s.SetPanel2MinSize(c.panel2_min);
    s.SetSplitterDistance(c.distance);
    if (c.resize_to > 0)
      s.resize(401, c.resize_to);
    EXPECT_EQ(s.Panel1()->geometry(), QRect(0, 0, 401, c.upper));
    EXPECT_EQ(s.Panel2()->geometry(),
              QRect(0, c.upper + SplitContainer::kSplitterWidth, 401, c.lower));
    EXPECT_EQ(s.SplitterDistance(), c.upper);
  }
}

TEST(SplitContainer, RaisingTheMinimumGrowsTheLowerPanel) {
  SplitContainer s;
  s.resize(401, 273);
  s.SetPanel2MinSize(0);
  s.SetSplitterDistance(273);
  EXPECT_EQ(s.Panel2()->height(), 0);
  s.SetSplitterDistance(232);
  s.SetPanel2MinSize(42);
  EXPECT_EQ(s.Panel2()->height(), 42);
  EXPECT_EQ(s.Panel1()->height(), 230);
}

}  // namespace
}  // namespace quorvex
