// The track bar's two user events: Scroll after every user move with the new value in place,
// Click with the pointer's x after a press and release, and no paging on a press beside the
// handle.
#include <gtest/gtest.h>

#include <QtTest>

#include "platform/ui/TrackBar.h"

namespace quorvex::ui {
namespace {

class TrackBarTest : public testing::Test {
 protected:
  void SetUp() override {
    bar_.setRange(0, 100);
    bar_.setPageStep(10);
    bar_.resize(288, 19);
    bar_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar_));
    QObject::connect(&bar_, &TrackBar::Scroll, [this] { scrolled_.push_back(bar_.value()); });
  }
  TrackBar bar_{Qt::Horizontal, TrackBar::Clicks::kReportsClicks};
  std::vector<int> scrolled_;
  QSignalSpy clicks_{&bar_, &TrackBar::Click};
};

TEST_F(TrackBarTest, KeysScrollWithTheNewValueProgramNeverDoes) {
  bar_.setValue(50);
  EXPECT_TRUE(scrolled_.empty());
  bar_.setFocus();
  // A move that changes nothing is still the user's move.
  for (Qt::Key key : {Qt::Key_Right, Qt::Key_PageUp, Qt::Key_Home, Qt::Key_Home})
    QTest::keyClick(&bar_, key);
  EXPECT_EQ(scrolled_, (std::vector<int>{51, 61, 0, 0}));
  EXPECT_EQ(clicks_.count(), 0);
}

// A click beside the handle reports its x without paging; a drag scrolls and ends with a click;
// the right button is no click.
TEST_F(TrackBarTest, MouseClicksReportXAndDragsScroll) {
  QTest::mouseClick(&bar_, Qt::LeftButton, {}, QPoint(200, 9));
  EXPECT_EQ(bar_.value(), 0);
  EXPECT_TRUE(scrolled_.empty());
  QTest::mousePress(&bar_, Qt::LeftButton, {}, QPoint(5, 9));
  QTest::mouseMove(&bar_, QPoint(150, 9));
  QTest::mouseRelease(&bar_, Qt::LeftButton, {}, QPoint(150, 9));
  EXPECT_FALSE(scrolled_.empty());
  EXPECT_GT(bar_.value(), 30);
  QTest::mouseClick(&bar_, Qt::RightButton, {}, QPoint(100, 9));
  ASSERT_EQ(clicks_.count(), 2);
  EXPECT_EQ(clicks_.at(0).at(0).toInt(), 200);
  EXPECT_EQ(clicks_.at(1).at(0).toInt(), 150);
}

}  // namespace
}  // namespace quorvex::ui
