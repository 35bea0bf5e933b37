// The main window with real movie windows and server processes: construction, menus and
// dialogs, opening by command line, dialog and drop, numbering after closing, the control
// strips, and closing through the owned windows.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QUrl>

#include "laps/LapForm.h"
#include "tests/app/MainFormFixture.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"
#include "ui/ControlForm.h"

namespace quorvex::test {
namespace {

// Paths that no server can play: their windows stay without a movie.
QStringList Missing(int n) {
  QStringList paths;
  for (int i = 0; i < n; ++i)
    paths << QString("/nonexistent/movie-%1.mp4").arg(i);
  return paths;
}

QStringList MenuTexts(QMenuBar* bar) {
  QStringList texts;
  for (QAction* top : bar->actions()) {
    texts << top->text();
    for (QAction* item : top->menu()->actions()) {
      QString t = "  " + (item->isSeparator() ? QString("---") : item->text());
      if (!item->shortcut().isEmpty())
        t += " [" + item->shortcut().toString() + "]";
      if (item->isCheckable())
        t += item->isChecked() ? " (x)" : " ( )";
      texts << t;
    }
  }
  return texts;
}

TEST_F(MainFormTest, FillsTheUpperHalfWithPanelAndLapTableBelow) {
  MainForm& f = Start();
  const QRect work = f.screen()->availableGeometry();
  EXPECT_EQ(f.windowTitle(), "Quorvex");
  EXPECT_EQ(f.frameGeometry().width(), work.width());
  EXPECT_EQ(f.frameGeometry().height(), work.height() / 2);
  const int bottom = f.frameGeometry().y() + f.frameGeometry().height();
  EXPECT_EQ(f.cf()->frameGeometry().topLeft(), QPoint(0, bottom));
  EXPECT_EQ(f.lf()->frameGeometry().topLeft(),
            QPoint(f.cf()->frameGeometry().x() + f.cf()->frameGeometry().width(), bottom));
  EXPECT_TRUE(f.cf()->isVisible());
  EXPECT_TRUE(f.lf()->isVisible());
  EXPECT_EQ(f.cf()->parentWidget(), &f);  // owned: above the main window, closed with it
  EXPECT_EQ(f.lf()->parentWidget(), &f);
  EXPECT_TRUE(f.acceptDrops());
}

TEST_F(MainFormTest, MenusHaveTheirItemsShortcutsAndCheckMark) {
  MainForm& f = Start();
  EXPECT_EQ(MenuTexts(f.menuBar()),
            (QStringList{QString::fromUtf8("ﾌｧｲﾙ"), QString::fromUtf8("  動画を開く... [Ctrl+O]"),
                         "  ---", QString::fromUtf8("  ﾗｯﾌﾟを開く..."),
                         QString::fromUtf8("  ﾗｯﾌﾟを保存..."), QString::fromUtf8("ｳｨﾝﾄﾞｳ"),
                         QString::fromUtf8("  整列"), QString::fromUtf8("  自動整列 (x)")}));
}

TEST_F(MainFormTest, DialogsOfferTheirFilters) {
  MainForm& f = Start();
  const QString all = QString::fromUtf8("すべてのﾌｧｲﾙ (*)");
  EXPECT_EQ(f.open_movie_file_dialog()->nameFilters(),
            (QStringList{"Movie files (*.avi *.AVI *.mpg *.MPG *.mp4 *.MP4 *.mov *.MOV *.wmv "
                         "*.WMV)",
                         all}));
  EXPECT_EQ(f.open_movie_file_dialog()->fileMode(), QFileDialog::ExistingFiles);
  EXPECT_EQ(f.open_xml_file_dialog()->nameFilters(), (QStringList{"XML files (*.xml *.XML)", all}));
  EXPECT_EQ(f.open_xml_file_dialog()->fileMode(), QFileDialog::ExistingFile);
  EXPECT_EQ(f.save_file_dialog()->nameFilters(), (QStringList{"XML files (*.xml *.XML)", all}));
  EXPECT_EQ(f.save_file_dialog()->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(f.save_file_dialog()->defaultSuffix(), "xml");
}

TEST_F(MainFormTest, WithoutMovieWindowsEveryOperationDoesNothing) {
  MainForm& f = Start();
  f.Play();
  f.Pause();
  f.Stop();
  f.SeekCurrentPosition(1.0);
  f.SetRate(0.25);
  f.SetBaseTime();
  f.AddTime();
  f.AlignVideoForms();
  EXPECT_EQ(f.GetCountTime(), 0);
  EXPECT_EQ(f.GetCountRow(), 0);
  EXPECT_TRUE(f.IsVideoFormControlsShowing());
  f.ToggleVideoFormControlsShowing();
  EXPECT_FALSE(f.IsVideoFormControlsShowing());
  EXPECT_TRUE(f.vfs().empty());
}

TEST_F(MainFormTest, CommandLineFilesOpenNumberedWithOneColumnGroupEach) {
  MainForm& f = Start(Missing(3));
  ASSERT_EQ(f.vfs().size(), 3u);
  EXPECT_EQ(Titles(), (QStringList{"No.1", "No.2", "No.3"}));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(f.vfs()[size_t(i)]->GetNumber(), i);
  EXPECT_EQ(f.lf()->current_num_item(), 3);
  EXPECT_EQ(f.time_list(), (laps::LapLists{{}, {}, {}}));
  EXPECT_EQ(f.mdi_area()->subWindowList().size(), 3);
}

TEST_F(MainFormTest, ClosingNumberTwoRenumbersTheThird) {
  MainForm& f = Start(Missing(3));
  VideoForm* third = f.vfs()[2];
  f.vfs()[1]->close();
  ASSERT_EQ(f.vfs().size(), 2u);
  EXPECT_EQ(f.vfs()[1], third);
  EXPECT_EQ(third->GetNumber(), 1);
  EXPECT_EQ(Titles(), (QStringList{"No.1: ", "No.2: "}));  // every remaining window renumbered
  EXPECT_EQ(f.lf()->current_num_item(), 2);
  EXPECT_EQ(f.time_list().size(), 2u);
}

TEST_F(MainFormTest, ClosingEveryWindowLeavesEmptyListsAndNoColumns) {
  MainForm& f = Start(Missing(3));
  while (!f.vfs().empty())
    f.vfs().back()->close();
  EXPECT_TRUE(f.time_list().empty());
  EXPECT_EQ(f.lf()->current_num_item(), 0);
  QTest::qWait(20);
  EXPECT_TRUE(f.mdi_area()->subWindowList().isEmpty());
}

TEST_F(MainFormTest, CloseAllVideoFormsEmptiesEverything) {
  MainForm& f = Start(Missing(2));
  f.CloseAllVideoForms();
  EXPECT_TRUE(f.vfs().empty());
  EXPECT_TRUE(f.time_list().empty());
  EXPECT_EQ(f.lf()->current_num_item(), 0);
}

TEST_F(MainFormTest, DroppedFilesOpenInTheDroppedOrder) {
  MainForm& f = Start();
  const QStringList files{MoviePath("mjpeg-pcm-4x3.avi"), MoviePath("h264-aac-16x9.mp4")};
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(files[0]), QUrl::fromLocalFile(files[1])});
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&f, &enter);
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&f, &drop);
  ASSERT_TRUE(QTest::qWaitFor([&] { return f.vfs().size() == 2u; }, 60000));
  QTest::qWait(50);
  EXPECT_EQ(f.vfs()[0]->GetNumber(), 0);
  EXPECT_EQ(f.lf()->current_num_item(), 2);
  // Text is no file list: refused.
  QMimeData text;
  text.setText("hello");
  QDragEnterEvent refused(QPoint(100, 100), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&f, &refused);
  EXPECT_FALSE(refused.isAccepted());
}

TEST_F(MainFormTest, StripsHiddenForAllAndForAWindowOpenedLater) {
  MainForm& f = Start(Missing(3));
  QMenu* menu = f.cf()->context_menu();
  f.cf()->show_video_form_controls_item()->trigger();
  EXPECT_FALSE(f.cf()->show_video_form_controls_item()->isChecked());
  (void)menu;
  for (VideoForm* vf : f.vfs())
    EXPECT_FALSE(vf->control_panel_shown());
  f.OpenMovies(Missing(1));
  ASSERT_EQ(f.vfs().size(), 4u);
  EXPECT_FALSE(f.vfs()[3]->control_panel_shown());
  f.cf()->show_video_form_controls_item()->trigger();
  for (VideoForm* vf : f.vfs())
    EXPECT_TRUE(vf->control_panel_shown());
}

TEST_F(MainFormTest, ActiveMovieWindowsMenusJoinTheMenuBar) {
  MainForm& f = Start(Missing(2));
  f.mdi_area()->setActiveSubWindow(f.vfs()[0]);
  QStringList tops;
  for (QAction* a : f.menuBar()->actions())
    tops << a->text();
  EXPECT_EQ(tops, (QStringList{QString::fromUtf8("ﾌｧｲﾙ"), QString::fromUtf8("ｳｨﾝﾄﾞｳ"),
                               QString::fromUtf8("ﾌｧｲﾙ"), QString::fromUtf8("ｵﾌﾟｼｮﾝ")}));
}

class OwnedWindowCloseTest : public MainFormTest, public testing::WithParamInterface<bool> {};

// A user's close of the panel or of the lap table closes the main window, and with it both.
TEST_P(OwnedWindowCloseTest, ClosingAnOwnedWindowClosesTheProgramWindows) {
  MainForm& f = Start(Missing(1));
  QWidget* owned = GetParam() ? static_cast<QWidget*>(f.cf()) : static_cast<QWidget*>(f.lf());
  EXPECT_FALSE(owned->close());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !f.isVisible(); }, 10000));
  EXPECT_FALSE(f.cf()->isVisible());
  EXPECT_FALSE(f.lf()->isVisible());
  EXPECT_TRUE(f.vfs().empty());
}

INSTANTIATE_TEST_SUITE_P(PanelAndLapTable, OwnedWindowCloseTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Panel" : "LapTable");
                         });

}  // namespace
}  // namespace quorvex::test
