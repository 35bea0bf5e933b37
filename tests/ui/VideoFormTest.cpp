// The movie window without a movie: controls, titles, menus, the control strip, drag
// acceptance, the layout's area estimate and a client that cannot be started.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <memory>

#include "platform/ui/Fonts.h"
#include "platform/ui/MenuMerge.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"
#include "tests/ui/RecordingControl.h"
#include "ui/SplitContainer.h"
#include "ui/VideoForm.h"

namespace quorvex {
namespace {

class VideoFormTest : public testing::Test {
 protected:
  void SetUp() override {
    ui::SubstituteUiGothicFont();
    window_.setCentralWidget(area_);
    window_.resize(1000, 700);
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }
  VideoForm* Add(int number) {
    auto* vf = new VideoForm(ctrl_, number, area_);
    vf->show();
    return vf;
  }

  test::RecordingControl ctrl_;
  QMainWindow window_;
  QMdiArea* area_ = new QMdiArea;
};

TEST_F(VideoFormTest, NewWindowIsEmptyAndTitledByItsNumber) {
  VideoForm* vf = Add(2);
  EXPECT_EQ(vf->windowTitle(), "No.3");
  EXPECT_FALSE(vf->IsValid());
  EXPECT_EQ(vf->GetFileName(), "");
  EXPECT_EQ(vf->GetNumber(), 2);
  EXPECT_EQ(vf->time_text()->text(), "");
  EXPECT_EQ(vf->GetCurrentPosition(), 0.0);
  EXPECT_EQ(ctrl_.calls, QStringList{"IsVideoFormControlsShowing"});
  // No maximise or minimise box.
  EXPECT_FALSE(vf->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(vf->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(vf->windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(VideoFormTest, SetNumberRetitlesEvenWithoutAFile) {
  VideoForm* vf = Add(0);
  vf->SetNumber(2);
  EXPECT_EQ(vf->GetNumber(), 2);
  EXPECT_EQ(vf->windowTitle(), "No.3: ");
}

TEST_F(VideoFormTest, ControlsHaveTheDesignedRangesTextsAndPlaces) {
  VideoForm* vf = Add(0);
  QTest::qWait(20);
  EXPECT_EQ(vf->video_panel()->size(), QSize(401, 230));
  EXPECT_EQ(vf->track_bar()->minimum(), 0);
  EXPECT_EQ(vf->track_bar()->maximum(), 100);
  EXPECT_EQ(vf->track_bar()->pageStep(), 10);
  EXPECT_EQ(vf->track_bar()->size(), QSize(288, 19));
  EXPECT_EQ(vf->volume_bar()->minimum(), -10000);
  EXPECT_EQ(vf->volume_bar()->maximum(), 0);
  EXPECT_EQ(vf->volume_bar()->value(), 0);
  EXPECT_EQ(vf->volume_bar()->singleStep(), 100);
  EXPECT_EQ(vf->volume_bar()->pageStep(), 1000);
  EXPECT_EQ(vf->volume_bar()->orientation(), Qt::Vertical);
  EXPECT_TRUE(vf->time_text()->isReadOnly());
  EXPECT_EQ(vf->time_text()->focusPolicy(), Qt::NoFocus);
  const char* texts[6] = {"-0.33", "-0.17", "-0.03", "+0.03", "+0.17", "+0.33"};
  const int xs[6] = {50, 90, 130, 175, 215, 255};
  QWidget* strip = vf->track_bar()->parentWidget();
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(vf->step_button(i)->text(), texts[i]);
    EXPECT_EQ(vf->step_button(i)->geometry(), QRect(xs[i], 21, 40, 21)) << i;
    const bool gothic = (i == 0 || i == 2 || i == 3 || i == 4);
    EXPECT_EQ(vf->step_button(i)->font().family() == ui::kUiGothicFamily, gothic) << i;
  }
  EXPECT_EQ(vf->time_text()->geometry(), QRect(0, 21, 45, 19));
  EXPECT_EQ(vf->volume_bar()->geometry(), QRect(300, 0, 20, 42));
  EXPECT_EQ(strip->mapTo(vf, QPoint(0, 0)).y() - vf->video_panel()->mapTo(vf, QPoint(0, 0)).y(),
            231);  // the panel, then the 1-pixel splitter
  // The panel is a native window of its own: its id goes to the server.
  EXPECT_NE(vf->video_panel()->winId(), vf->winId());
  EXPECT_TRUE(vf->video_panel()->testAttribute(Qt::WA_NativeWindow));
}

TEST_F(VideoFormTest, ResizingGrowsOnlyTheVideoPanel) {
  VideoForm* vf = Add(0);
  vf->resize(vf->width() + 100, vf->height() + 80);
  QTest::qWait(20);
  EXPECT_EQ(vf->video_panel()->size(), QSize(501, 310));
  EXPECT_EQ(vf->track_bar()->parentWidget()->height(), 42);
  EXPECT_EQ(vf->width() - vf->video_panel()->width(), vf->width_difference());
  EXPECT_EQ(vf->height() - vf->video_panel()->height(), vf->height_difference());
}

TEST_F(VideoFormTest, ControlStripHidesAndShowsByCallAndByTheTestItem) {
  VideoForm* vf = Add(0);
  QTest::qWait(20);
  const int full = vf->split()->height();
  vf->ShowControlPanel(false);
  EXPECT_FALSE(vf->control_panel_shown());
  EXPECT_EQ(vf->video_panel()->height(), full - 1);
  EXPECT_FALSE(vf->track_bar()->isVisible());
  vf->test_item()->trigger();  // shows it again
  EXPECT_TRUE(vf->control_panel_shown());
  EXPECT_EQ(vf->video_panel()->height(), full - 43);
  EXPECT_TRUE(vf->track_bar()->isVisible());
  vf->test_item()->trigger();
  EXPECT_FALSE(vf->control_panel_shown());
}

TEST_F(VideoFormTest, NewWindowFollowsTheControllersStripSetting) {
  ctrl_.controls_showing = false;
  VideoForm* vf = Add(0);
  QTest::qWait(20);
  EXPECT_FALSE(vf->control_panel_shown());
  EXPECT_EQ(vf->video_panel()->height(), vf->split()->height() - 1);
}

// The area the layout compares: the outer size less the frame and the strip, at least 16 on each
// side, fitted at 4:3 without a movie.
TEST_F(VideoFormTest, VideoAreaForAnOuterSize) {
  VideoForm* vf = Add(0);
  const int dw = vf->width_difference();
  const int dh = vf->height_difference();
  EXPECT_GT(dw, 0);
  EXPECT_GE(dh, 43);
  EXPECT_EQ(vf->CalcActualVideoArea(400 + dw, 300 + dh), 400 * 300);
  EXPECT_EQ(vf->CalcActualVideoArea(800 + dw, 300 + dh), 400 * 300);  // wide: height limits
  EXPECT_EQ(vf->CalcActualVideoArea(400 + dw, 900 + dh), 400 * 300);  // tall: width limits
  EXPECT_EQ(vf->CalcActualVideoArea(0, 0), 16 * 12);                  // 16 x 16 at least
}

TEST_F(VideoFormTest, PitchItemsStayEqualAndStartOff) {
  VideoForm* vf = Add(0);
  EXPECT_FALSE(vf->const_pitch_item()->isChecked());
  EXPECT_FALSE(vf->const_pitch2_item()->isChecked());
  vf->const_pitch2_item()->trigger();
  EXPECT_TRUE(vf->const_pitch_item()->isChecked());
  EXPECT_TRUE(vf->const_pitch2_item()->isChecked());
  vf->const_pitch_item()->trigger();
  EXPECT_FALSE(vf->const_pitch_item()->isChecked());
  EXPECT_FALSE(vf->const_pitch2_item()->isChecked());
}

TEST_F(VideoFormTest, MenusAndContextMenuCarryTheirTexts) {
  VideoForm* vf = Add(0);
  QStringList strip;
  for (QAction* a : vf->MainMenuStrip()->actions()) {
    strip << a->text();
    for (QAction* item : a->menu()->actions())
      strip << "  " + item->text();
  }
  EXPECT_EQ(strip, (QStringList{QString::fromUtf8("ﾌｧｲﾙ"), QString::fromUtf8("  開く"),
                                QString::fromUtf8("ｵﾌﾟｼｮﾝ"), QString::fromUtf8("  音声ﾋﾟｯﾁ一定"),
                                "  test"}));
  EXPECT_FALSE(vf->MainMenuStrip()->isVisible());
  QStringList context;
  for (QAction* a : vf->context_menu()->actions()) {
    context << a->text();
    if (a->menu())
      for (QAction* item : a->menu()->actions())
        context << "  " + item->text();
  }
  EXPECT_EQ(context, (QStringList{QString::fromUtf8("ﾌｧｲﾙ"), QString::fromUtf8("  動画を開く..."),
                                  QString::fromUtf8("ｵﾌﾟｼｮﾝ"), QString::fromUtf8("  音声ﾋﾟｯﾁ一定"),
                                  QString::fromUtf8("この動画を基準にする")}));
}

TEST_F(VideoFormTest, RightClickOnTheVideoOffersTheContextMenuWhoseBaseItemCallsTheMainWindow) {
  VideoForm* vf = Add(4);
  QTest::qWait(20);
  QTest::mouseClick(vf->video_panel()->windowHandle(), Qt::RightButton, {}, QPoint(50, 50));
  ASSERT_TRUE(QTest::qWaitFor([&] { return vf->context_menu()->isVisible(); }, 5000));
  QMenu* menu = vf->context_menu();
  QTest::mouseClick(menu, Qt::LeftButton, {},
                    menu->actionGeometry(vf->set_lap_base_item()).center());
  EXPECT_TRUE(ctrl_.calls.contains("SetBaseMovieIndex 4"));
}

TEST_F(VideoFormTest, ActiveWindowsMenusJoinTheMainMenuBar) {
  window_.menuBar()->addMenu("Main");
  new ui::MdiMenuMerger(window_.menuBar(), area_);
  VideoForm* one = Add(0);
  VideoForm* two = Add(1);
  area_->setActiveSubWindow(one);
  QStringList titles;
  for (QAction* a : window_.menuBar()->actions())
    titles << a->text();
  EXPECT_EQ(titles, (QStringList{"Main", QString::fromUtf8("ﾌｧｲﾙ"), QString::fromUtf8("ｵﾌﾟｼｮﾝ")}));
  area_->setActiveSubWindow(two);
  EXPECT_EQ(window_.menuBar()->actions().at(1)->menu(),
            two->MainMenuStrip()->actions().at(0)->menu());
}

TEST_F(VideoFormTest, EmptyWindowIgnoresDriveOperationsAndSnapsItsBarBack) {
  VideoForm* vf = Add(0);
  vf->Play();
  vf->Pause();
  vf->Stop();
  vf->SetRate(0.5);
  vf->SeekCurrentPosition(1.0);
  vf->SetCurrentPosition(3.0);
  vf->SetBaseTime(2.5);
  EXPECT_EQ(vf->base_time_units(), 25'000'000);
  EXPECT_FALSE(vf->IsValid());
  QTest::qWait(20);
  QTest::mouseClick(vf->track_bar(), Qt::LeftButton, {}, QPoint(200, 9));
  EXPECT_EQ(vf->track_bar()->value(), 0);
  vf->track_bar()->setFocus();
  QTest::keyClick(vf->track_bar(), Qt::Key_PageUp);
  EXPECT_EQ(vf->track_bar()->value(), 0);
}

// What the video area accepts while a file is dragged over it: exactly one existing file.
TEST_F(VideoFormTest, DragOverTheVideoAcceptsExactlyOneExistingFile) {
  VideoForm* vf = Add(0);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString a = dir.filePath("a.mp4");
  const QString b = dir.filePath("b.mp4");
  for (const QString& p : {a, b}) {
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  QTest::qWait(20);
  auto accepts = [&](const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(vf->video_panel(), &enter);
    return enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
  };
  EXPECT_TRUE(accepts({QUrl::fromLocalFile(a)}));
  EXPECT_FALSE(accepts({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)}));
  EXPECT_FALSE(accepts({QUrl::fromLocalFile(dir.path())}));
  EXPECT_FALSE(accepts({QUrl::fromLocalFile(dir.filePath("missing.mp4"))}));
  EXPECT_FALSE(accepts({QUrl("http://example.invalid/a.mp4")}));
  EXPECT_FALSE(accepts({}));
}

struct VolumeCase {
  int bar;
  int32_t volume;
};

class VolumeTest : public testing::TestWithParam<VolumeCase> {};

TEST_P(VolumeTest, BarMapsToHalfItsValueAndSilenceAtTheEnd) {
  EXPECT_EQ(VolumeFromBar(GetParam().bar), GetParam().volume);
}

INSTANTIATE_TEST_SUITE_P(Values, VolumeTest,
                         testing::Values(VolumeCase{-10000, -10000}, VolumeCase{-9999, -4999},
                                         VolumeCase{-10, -5}, VolumeCase{-1, 0}, VolumeCase{0, 0}));

// A server that cannot be started: the window says why, in a warning box with its title as
// caption, and stays empty.
TEST(VideoFormStart, ServerThatCannotStartIsReportedAndLeavesTheWindowEmpty) {
  test::RecordingControl ctrl;
  QMainWindow window;
  auto* area = new QMdiArea;
  window.setCentralWidget(area);
  window.show();
  ClientOptions options;
  options.server_path = "/nonexistent/quorvex";
  auto* vf = new VideoForm(ctrl, 1, area, options);
  vf->show();
  std::vector<test::SeenBox> seen;
  std::unique_ptr<test::ModalWatcher> w(test::ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
  vf->OpenMovie("/tmp/whatever.mp4");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "No.2");
  EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
  EXPECT_FALSE(seen[0].text.isEmpty());
  EXPECT_FALSE(vf->IsValid());
  EXPECT_EQ(vf->windowTitle(), "No.2");
  EXPECT_EQ(vf->GetFileName(), "");
}

}  // namespace
}  // namespace quorvex
