// The arrangement of movie windows in the main window's area: the grid shape with the largest
// picture, the cells, ties, and when arranging happens.
#include <gtest/gtest.h>

#include <QAction>

#include "tests/app/MainFormFixture.h"
#include "tests/ui/Printers.h"

namespace quorvex::test {
namespace {

QStringList Missing(int n) {
  QStringList paths;
  for (int i = 0; i < n; ++i)
    paths << QString("/nonexistent/layout-%1.mp4").arg(i);
  return paths;
}

class LayoutTest : public MainFormTest {
 protected:
  std::vector<QRect> Cells() const {
    std::vector<QRect> cells;
    for (VideoForm* vf : form_->vfs())
      cells.push_back(vf->geometry());
    return cells;
  }
  // The grid the main window would choose for the current client area.
  QSize Shape() {
    int32_t columns = 4;
    int32_t rows = 2;
    form_->GetOptimizedLayout(form_->mdi_area()->viewport(), columns, rows);
    return QSize(columns, rows);
  }
};

TEST_F(LayoutTest, OneMovieFillsTheClientArea) {
  Start(Missing(1));
  SetClientSize(900, 400);
  form_->AlignVideoForms();
  EXPECT_EQ(Cells(), std::vector<QRect>{QRect(0, 0, 900, 400)});
}

// Five windows in three columns: two rows, filled row by row, the sixth cell empty.
TEST_F(LayoutTest, FiveMoviesInThreeColumnsTakeTwoRows) {
  Start(Missing(5));
  SetClientSize(1200, 600);
  form_->AlignVideoForms();
  EXPECT_EQ(Shape(), QSize(3, 2));
  EXPECT_EQ(Cells(), (std::vector<QRect>{QRect(0, 0, 400, 300), QRect(400, 0, 400, 300),
                                         QRect(800, 0, 400, 300), QRect(0, 300, 400, 300),
                                         QRect(400, 300, 400, 300)}));
}

TEST_F(LayoutTest, WideAreaGivesOneRowTallAreaOneColumn) {
  Start(Missing(3));
  SetClientSize(1500, 300);
  form_->AlignVideoForms();
  EXPECT_EQ(Shape(), QSize(3, 1));
  EXPECT_EQ(Cells(), (std::vector<QRect>{QRect(0, 0, 500, 300), QRect(500, 0, 500, 300),
                                         QRect(1000, 0, 500, 300)}));
  SetClientSize(400, 900);
  form_->AlignVideoForms();
  EXPECT_EQ(Shape(), QSize(1, 3));
  EXPECT_EQ(Cells(), (std::vector<QRect>{QRect(0, 0, 400, 300), QRect(0, 300, 400, 300),
                                         QRect(0, 600, 400, 300)}));
}

// Two windows: one column of two rows against two columns of one row. Among client sizes
// where both pictures have the same area, the single column must win.
TEST_F(LayoutTest, EqualAreasKeepTheFewerColumns) {
  Start(Missing(2));
  VideoForm* first = form_->vfs()[0];
  const int h = 700;
  int tie_width = 0;
  for (int w = 300; w < 1500 && tie_width == 0; ++w) {
    const int one_column = first->CalcActualVideoArea(w, h / 2);
    if (one_column > 16 * 16 && one_column == first->CalcActualVideoArea(w / 2, h))
      tie_width = w;
  }
  ASSERT_NE(tie_width, 0) << "no client width gives equal areas";
  SetClientSize(tie_width, h);
  EXPECT_EQ(Shape(), QSize(1, 2));
  // One pixel wider and two columns give more.
  SetClientSize(tie_width + 2, h);
  EXPECT_EQ(Shape(), QSize(2, 1));
}

TEST_F(LayoutTest, NoWindowKeepsTheCallersShape) {
  Start();
  EXPECT_EQ(Shape(), QSize(4, 2));
}

TEST_F(LayoutTest, AutomaticArrangementFollowsResizesOnlyWhileChecked) {
  Start(Missing(2));
  SetClientSize(1000, 400);  // checked at start: arranged on every resize
  EXPECT_EQ(Cells(), (std::vector<QRect>{QRect(0, 0, 500, 400), QRect(500, 0, 500, 400)}));

  form_->auto_alignment_item()->trigger();  // off
  EXPECT_FALSE(form_->auto_alignment_item()->isChecked());
  SetClientSize(1200, 500);
  EXPECT_EQ(Cells(), (std::vector<QRect>{QRect(0, 0, 500, 400), QRect(500, 0, 500, 400)}));

  form_->auto_alignment_item()->trigger();  // on again: nothing moves until the next resize
  EXPECT_EQ(Cells(), (std::vector<QRect>{QRect(0, 0, 500, 400), QRect(500, 0, 500, 400)}));
  SetClientSize(1200, 480);
  EXPECT_EQ(Cells(), (std::vector<QRect>{QRect(0, 0, 600, 480), QRect(600, 0, 600, 480)}));

  form_->align_item()->trigger();  // arranging by hand works whatever the setting
  EXPECT_EQ(Cells(), (std::vector<QRect>{QRect(0, 0, 600, 480), QRect(600, 0, 600, 480)}));
}

TEST_F(LayoutTest, OpeningAndClosingRearrangeWhileChecked) {
  Start(Missing(1));
  SetClientSize(1200, 400);
  EXPECT_EQ(Cells(), std::vector<QRect>{QRect(0, 0, 1200, 400)});
  form_->OpenMovies(Missing(2));
  EXPECT_EQ(Cells(), (std::vector<QRect>{QRect(0, 0, 400, 400), QRect(400, 0, 400, 400),
                                         QRect(800, 0, 400, 400)}));
  form_->vfs()[0]->close();
  EXPECT_EQ(Cells(), (std::vector<QRect>{QRect(0, 0, 600, 400), QRect(600, 0, 600, 400)}));
}

// The client rectangle goes to the diagnostic output on every arrangement.
TEST_F(LayoutTest, ClientRectangleIsTraced) {
  Start(Missing(1));
  SetClientSize(800, 300);
  static QStringList messages;
  messages.clear();
  const QtMessageHandler previous =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& text) {
        messages << QString(context.category) + ": " + text;
      });
  form_->AlignVideoForms();
  qInstallMessageHandler(previous);
  EXPECT_TRUE(messages.contains("quorvex.layout: client rectangle QRect(0,0 800x300)"))
      << ::testing::PrintToString(messages);
}

}  // namespace
}  // namespace quorvex::test
