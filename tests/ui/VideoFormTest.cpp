// The movie window, first without a movie (titles, menus, the control strip, drag
// acceptance, the layout's area estimate, a server that cannot be started), then with a real
// server process and generated movies (opening, the time field, stepping, the position bar, the
// rate change, graph notices, the picture in the panel and a server that dies).
#include <gtest/gtest.h>
#include <signal.h>

#include <QtTest>
#include <QtWidgets>

#include <cmath>
#include <memory>
#include <set>

#include "platform/ui/Fonts.h"
#include "tests/support/TestEnv.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"
#include "tests/ui/RecordingControl.h"
#include "ui/SplitContainer.h"
#include "ui/VideoForm.h"

namespace quorvex {
namespace {

constexpr int64_t kUnits = 10'000'000;
constexpr double kFrame = 1 / 29.97;
constexpr double kNear = 0.002 * kUnits;  // position tolerance, in units

QString MoviePath(const char* name) {
  return QString::fromStdString(test::Movie(name));
}

class VideoFormTest : public testing::Test {
 protected:
  void SetUp() override {
    ui::SubstituteUiGothicFont();
    window_.setCentralWidget(area_);
    window_.resize(1000, 700);
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }
  VideoForm* Make(int number = 0, const std::string& server = test::QuorvexExe()) {
    ClientOptions options;
    options.server_path = server;
    auto* vf = new VideoForm(ctrl_, number, area_, options);
    vf->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(vf));
    return vf;
  }
  VideoForm* Open(const char* name, int number = 0) {
    VideoForm* vf = Make(number);
    vf->OpenMovie(MoviePath(name));
    EXPECT_TRUE(vf->IsValid()) << name;
    return vf;
  }
  static int64_t Position(VideoForm* vf) {
    int64_t p = -1;
    EXPECT_GE(vf->client()->GetCurrentPosition(&p), 0);
    return p;
  }
  static int64_t Duration(VideoForm* vf) {
    int64_t d = -1;
    EXPECT_GE(vf->client()->GetDuration(&d), 0);
    return d;
  }

  test::RecordingControl ctrl_;
  QMainWindow window_;
  QMdiArea* area_ = new QMdiArea;
};

TEST_F(VideoFormTest, NewWindowHasItsTitleMenusAndAreaEstimate) {
  VideoForm* vf = Make(2);
  EXPECT_EQ(vf->windowTitle(), "No.3");
  EXPECT_FALSE(vf->IsValid());
  EXPECT_EQ(ctrl_.calls, QStringList{"IsVideoFormControlsShowing"});

  // The area the layout compares: the outer size less the frame and the strip, at least 16 on
  // each side, fitted at 4:3 without a movie.
  const int dw = vf->width_difference();
  const int dh = vf->height_difference();
  EXPECT_EQ(vf->CalcActualVideoArea(400 + dw, 300 + dh), 400 * 300);
  EXPECT_EQ(vf->CalcActualVideoArea(800 + dw, 300 + dh), 400 * 300);  // wide: height limits
  EXPECT_EQ(vf->CalcActualVideoArea(400 + dw, 900 + dh), 400 * 300);  // tall: width limits
  EXPECT_EQ(vf->CalcActualVideoArea(0, 0), 16 * 12);

  // A right click on the video offers the context menu, whose base item calls the main window.
  QTest::mouseClick(vf->video_panel()->windowHandle(), Qt::RightButton, {}, QPoint(50, 50));
  ASSERT_TRUE(QTest::qWaitFor([&] { return vf->context_menu()->isVisible(); }, 5000));
  QMenu* menu = vf->context_menu();
  QTest::mouseClick(menu, Qt::LeftButton, {},
                    menu->actionGeometry(vf->set_lap_base_item()).center());
  EXPECT_TRUE(ctrl_.calls.contains("SetBaseMovieIndex 2"));

  vf->SetNumber(4);  // retitled, even without a file
  EXPECT_EQ(vf->GetNumber(), 4);
  EXPECT_EQ(vf->windowTitle(), "No.5: ");
}

TEST_F(VideoFormTest, ResizesGrowOnlyTheVideoAndTheStripHidesAsTheControllerSays) {
  VideoForm* vf = Make();
  const QSize panel = vf->video_panel()->size();
  vf->resize(vf->width() + 100, vf->height() + 80);
  QTest::qWait(20);
  EXPECT_EQ(vf->video_panel()->size(), panel + QSize(100, 80));
  EXPECT_EQ(vf->height() - vf->video_panel()->height(), vf->height_difference());

  const int full = vf->split()->height();
  vf->ShowControlPanel(false);
  EXPECT_FALSE(vf->control_panel_shown());
  EXPECT_EQ(vf->video_panel()->height(), full - 1);
  vf->test_item()->trigger();  // shows it again
  EXPECT_TRUE(vf->control_panel_shown());
  EXPECT_EQ(vf->video_panel()->height(), full - 43);

  ctrl_.controls_showing = false;  // a new window follows the controller's setting
  VideoForm* hidden = Make(1);
  QTest::qWait(20);
  EXPECT_FALSE(hidden->control_panel_shown());
  EXPECT_EQ(hidden->video_panel()->height(), hidden->split()->height() - 1);
}

// Without a movie the drive operations do nothing and the position bar snaps back; a drag over the
// video is accepted for exactly one existing file.
TEST_F(VideoFormTest, EmptyWindowIgnoresDrivingAndAcceptsOneExistingFileDragged) {
  VideoForm* vf = Make();
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

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString a = dir.filePath("a.mp4");
  const QString b = dir.filePath("b.mp4");
  for (const QString& p : {a, b}) {
    QFile f(p);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
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
  QDragEnterEvent no_data(QPoint(20, 20), Qt::CopyAction, nullptr, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(vf->video_panel(), &no_data);
  EXPECT_FALSE(no_data.isAccepted());
  // The file is tested when the drag enters and again at the drop, not on every move: one
  // that has gone meanwhile makes the drop not done.
  ASSERT_TRUE(accepts({QUrl::fromLocalFile(a)}));
  ASSERT_TRUE(QFile::remove(a));
  QMimeData gone;
  gone.setUrls({QUrl::fromLocalFile(a)});
  QDragMoveEvent move(QPoint(30, 30), Qt::CopyAction, &gone, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(vf->video_panel(), &move);
  EXPECT_TRUE(move.isAccepted());
  QDropEvent drop(QPointF(30, 30), Qt::CopyAction, &gone, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(vf->video_panel(), &drop);
  EXPECT_FALSE(drop.isAccepted());
  EXPECT_EQ(drop.dropAction(), Qt::IgnoreAction);
}

TEST(VolumeFromBar, HalfTheBarAndSilenceAtTheEnd) {
  for (auto [bar, volume] : {std::pair{-10000, -10000}, {-9999, -4999}, {-10, -5}, {-1, 0}, {0, 0}})
    EXPECT_EQ(VolumeFromBar(bar), volume) << bar;
}

// A server that cannot be started: the window says why, in a warning box with its title as
// caption, and stays empty.
TEST_F(VideoFormTest, ServerThatCannotStartIsReportedAndLeavesTheWindowEmpty) {
  VideoForm* vf = Make(1, "/nonexistent/quorvex");
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

// Opened paused on its first picture, keeping the pitch switch set before; the time field
// counts from the base; clicks on the bar jump to the clicked place (the dead margins to the
// ends) and keys scroll it, the movie following; the step buttons move by frames within the
// movie. A rate change keeps the frame and the playing state; switching the pitch while a movie
// plays reaches the server without disturbing it.
TEST_F(VideoFormTest, OpenedMovieFollowsTheTimeFieldTheBarStepsAndRates) {
  VideoForm* vf = Make(2);
  vf->const_pitch2_item()->trigger();
  vf->OpenMovie(MoviePath("h264-aac-16x9.mp4"));
  ASSERT_TRUE(vf->IsValid());
  EXPECT_TRUE(vf->const_pitch_item()->isChecked());
  EXPECT_EQ(vf->windowTitle(), "No.3: h264-aac-16x9.mp4");
  EXPECT_EQ(vf->GetFileName(), MoviePath("h264-aac-16x9.mp4"));
  EXPECT_FALSE(vf->client()->IsPlaying());
  vf->timer1_Tick();
  EXPECT_EQ(vf->time_text()->text(), "0.00");
  EXPECT_EQ(vf->track_bar()->value(), 0);
  const int64_t dur = Duration(vf);
  EXPECT_NEAR(double(dur) / kUnits, 10.01, 0.05);
  // The layout's estimate uses the movie's own aspect ratio.
  EXPECT_EQ(vf->CalcActualVideoArea(640 + vf->width_difference(), 640 + vf->height_difference()),
            640 * 360);

  vf->SetCurrentPosition(1.0);
  vf->SetBaseTime(3.4);
  vf->timer1_Tick();
  EXPECT_EQ(vf->time_text()->text(), "-2.40");
  EXPECT_EQ(vf->track_bar()->value(), int(100.0 * 1.0 * kUnits / double(dur)));
  vf->SetBaseTime(0.0);
  vf->SetCurrentPosition(5.0);
  vf->timer1_Tick();
  EXPECT_EQ(vf->time_text()->text(), "5.00");

  QSlider* bar = vf->track_bar();
  for (auto [x, value] :
       {std::pair{bar->width() - 1, 100}, {5, 0}, {10 + (bar->width() - 20) / 2, 50}}) {
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(x, 9));
    EXPECT_EQ(bar->value(), value) << x;
    EXPECT_NEAR(double(Position(vf)), value / 100.0 * double(dur), kNear) << x;
  }
  bar->setFocus();
  QTest::keyClick(bar, Qt::Key_PageUp);
  EXPECT_EQ(bar->value(), 60);
  EXPECT_NEAR(double(Position(vf)), 0.6 * double(dur), kNear);
  const double end = double(dur) / kUnits;
  for (auto [start, button, expected] : {std::tuple{0.2, 0, 0.0},
                                         {end - 0.1, 5, end},
                                         {1.0, 3, 1.0 + kFrame},
                                         {2.0, 1, 2.0 - 5 * kFrame},
                                         {2.0, 4, 2.0 + 5 * kFrame},
                                         {2.0, 2, 2.0 - kFrame}}) {
    vf->SetCurrentPosition(start);
    QTest::mouseClick(vf->step_button(button), Qt::LeftButton);
    EXPECT_NEAR(double(Position(vf)), std::trunc(expected * kUnits), kNear)
        << start << " " << button;
  }
  vf->SetCurrentPosition(2.0);
  const int64_t before = Position(vf);
  vf->SetRate(0.25);
  EXPECT_EQ(vf->client()->GetRate(), 0.25);
  EXPECT_FALSE(vf->client()->IsPlaying());
  EXPECT_NEAR(double(Position(vf)), double(before), kNear);

  vf->Play();
  EXPECT_TRUE(vf->client()->IsPlaying());
  vf->SetRate(0.5);
  EXPECT_EQ(vf->client()->GetRate(), 0.5);
  EXPECT_TRUE(vf->client()->IsPlaying());  // stopped, changed and played again
  vf->SetRate(0.5);                        // the rate in force: nothing happens
  EXPECT_TRUE(vf->client()->IsPlaying());
  vf->const_pitch_item()->trigger();
  EXPECT_FALSE(vf->const_pitch2_item()->isChecked());
  EXPECT_TRUE(vf->IsValid());
  EXPECT_TRUE(vf->client()->IsPlaying());
  vf->Pause();
  EXPECT_FALSE(vf->client()->IsPlaying());
}

// What cannot be played is refused without a word, and the window takes a dropped movie after.
TEST_F(VideoFormTest, FailedOpensAreSilentAndALaterDropSucceeds) {
  std::vector<test::SeenBox> seen;
  std::unique_ptr<test::ModalWatcher> w(test::ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
  VideoForm* vf = Make(2);
  for (const char* name : {"text-file.mp4", "truncated.mp4", "no-such-file.mp4"}) {
    vf->OpenMovie(MoviePath(name));
    EXPECT_FALSE(vf->IsValid()) << name;
    EXPECT_EQ(vf->windowTitle(), "No.3") << name;
    EXPECT_EQ(vf->GetFileName(), "") << name;
  }
  EXPECT_TRUE(seen.empty());

  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(MoviePath("mjpeg-pcm-4x3.avi"))});
  // As a drag arrives: enter, then the drop.
  QDragEnterEvent enter(QPoint(30, 30), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(vf->video_panel(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(30, 30), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(vf->video_panel(), &drop);
  EXPECT_TRUE(drop.isAccepted());
  ASSERT_TRUE(QTest::qWaitFor([&] { return vf->IsValid(); }, 30000));
  EXPECT_EQ(vf->windowTitle(), "No.3: mjpeg-pcm-4x3.avi");
}

// The end of the movie is a graph event: the server posts its notice to the window's port, the
// window answers it, and the movie pauses on its last picture.
TEST_F(VideoFormTest, EndOfMoviePausesThroughTheGraphNotice) {
  VideoForm* vf = Open("h264-noaudio.mp4");
  vf->SetCurrentPosition(double(Duration(vf)) / kUnits - 0.3);
  vf->Play();
  ASSERT_TRUE(vf->client()->IsPlaying());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !vf->client()->IsPlaying(); }, 10000));
  EXPECT_TRUE(vf->IsValid());
}

// The server draws into the panel: the test pattern's colours appear where the panel is.
TEST_F(VideoFormTest, PictureAppearsInsideTheVideoPanel) {
  VideoForm* vf = Open("mjpeg-pcm-4x3.avi");
  vf->SetCurrentPosition(1.0);
  QWidget* panel = vf->video_panel();
  std::set<QRgb> colours;
  (void)QTest::qWaitFor(
      [&] {
        const QPoint origin = panel->mapToGlobal(QPoint(0, 0));
        const QImage shot =
            QGuiApplication::primaryScreen()
                ->grabWindow(0, origin.x(), origin.y(), panel->width(), panel->height())
                .toImage();
        colours.clear();
        for (int y = 0; y < shot.height(); y += 4)
          for (int x = 0; x < shot.width(); x += 4)
            colours.insert(shot.pixel(x, y) & 0xF0F0F0);
        return colours.size() >= 6;
      },
      10000);
  EXPECT_GE(colours.size(), 6u) << "the panel shows no picture";
}

// A loss found by the first of several commands of one operation empties the window at once;
// the rest of the operation goes on harmlessly, and the client is released and the user told
// once, after the operation, with the window's title of the time as caption. A new open works.
TEST_F(VideoFormTest, KilledServerEmptiesTheWindowAtOnceAndIsToldAfterTheOperation) {
  VideoForm* vf = Open("h264-aac-16x9.mp4");
  vf->Play();
  std::vector<test::SeenBox> seen;
  std::unique_ptr<test::ModalWatcher> w(test::ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
  ASSERT_EQ(kill(vf->client()->server_pid(), SIGKILL), 0);
  vf->SetRate(0.5);  // GetRate finds the loss; IsPlaying, Stop, SetRate, Pause follow
  EXPECT_FALSE(vf->IsValid());
  EXPECT_EQ(vf->windowTitle(), "No.1");
  EXPECT_EQ(vf->GetFileName(), "");
  EXPECT_TRUE(seen.empty());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.empty(); }, 10000));
  EXPECT_EQ(seen, (std::vector<test::SeenBox>{{"No.1: h264-aac-16x9.mp4",
                                               "動画ｻｰﾊﾞｰとの通信に失敗しました。",
                                               QMessageBox::Warning, QMessageBox::Ok}}));
  EXPECT_EQ(vf->client(), nullptr);
  vf->Play();  // an empty window ignores it
  vf->OpenMovie(MoviePath("h264-aac-16x9.mp4"));
  EXPECT_TRUE(vf->IsValid());
  QTest::qWait(300);
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
}  // namespace quorvex
