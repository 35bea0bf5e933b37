// The track bar's two user events: Scroll after every user move with the new value in place,
// Click with the pointer's x after a press and release, and no paging on a press beside the
// handle.
#include <gtest/gtest.h>

#include "tests/ui/Printers.h"

#include <QSignalSpy>
#include <QTest>

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
    QObject::connect(&bar_, &TrackBar::Scroll,
                     [this] { scrolled_values_.push_back(bar_.value()); });
  }
  TrackBar bar_{Qt::Horizontal};
  std::vector<int> scrolled_values_;
};

TEST_F(TrackBarTest, KeysAndWheelScrollWithTheNewValueProgramNeverDoes) {
  bar_.setValue(50);
  EXPECT_TRUE(scrolled_values_.empty());
  bar_.setFocus();
  QTest::keyClick(&bar_, Qt::Key_Right);
  QTest::keyClick(&bar_, Qt::Key_PageUp);
  QTest::keyClick(&bar_, Qt::Key_Home);
  EXPECT_EQ(scrolled_values_, (std::vector<int>{51, 61, 0}));
  // A move that changes nothing is still the user's move.
  QTest::keyClick(&bar_, Qt::Key_Home);
  EXPECT_EQ(scrolled_values_.size(), 4u);
}

TEST_F(TrackBarTest, ClickBesideTheHandleReportsXWithoutPaging) {
  bar_.setValue(0);
  QSignalSpy clicks(&bar_, &TrackBar::Click);
  QTest::mouseClick(&bar_, Qt::LeftButton, {}, QPoint(200, 9));
  ASSERT_EQ(clicks.count(), 1);
  EXPECT_EQ(clicks.at(0).at(0).toInt(), 200);
  EXPECT_EQ(bar_.value(), 0);  // no page step toward the pointer
  EXPECT_TRUE(scrolled_values_.empty());
}

TEST_F(TrackBarTest, DraggingTheHandleScrollsAndEndsWithAClick) {
  bar_.setValue(0);
  QSignalSpy clicks(&bar_, &TrackBar::Click);
  QTest::mousePress(&bar_, Qt::LeftButton, {}, QPoint(5, 9));
  QTest::mouseMove(&bar_, QPoint(150, 9));
  QTest::mouseRelease(&bar_, Qt::LeftButton, {}, QPoint(150, 9));
  EXPECT_FALSE(scrolled_values_.empty());
  EXPECT_GT(bar_.value(), 30);
  ASSERT_EQ(clicks.count(), 1);
  EXPECT_EQ(clicks.at(0).at(0).toInt(), 150);
}

TEST_F(TrackBarTest, RightButtonIsNoClick) {
  QSignalSpy clicks(&bar_, &TrackBar::Click);
  QTest::mouseClick(&bar_, Qt::RightButton, {}, QPoint(100, 9));
  EXPECT_EQ(clicks.count(), 0);
}

}  // namespace
}  // namespace quorvex::ui
