// The movie window, first without a movie (title, area estimate, menus, the control strip, drag
// acceptance, a server that cannot be started), then one walk with a real server process through
// generated movies (refused and dropped files, the picture, the time field, the bar, stepping,
// rates, the end of the movie and a server that dies).
#include <gtest/gtest.h>
#include <signal.h>

#include <QtTest>
#include <QtWidgets>

#include <cmath>
#include <set>

#include "platform/ui/Fonts.h"
#include "tests/support/TestEnv.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"
#include "tests/ui/RecordingControl.h"
#include "ui/VideoForm.h"

namespace quorvex {
namespace {

constexpr int64_t kUnits = 10'000'000;
constexpr double kFrame = 1 / 29.97;
constexpr double kNear = 0.002 * kUnits;  // position tolerance, in units

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
    auto* vf = new VideoForm(ctrl_, number, area_, {.server_path = server});
    vf->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(vf));
    return vf;
  }
  static int64_t Position(VideoForm* vf) {
    int64_t p = -1;
    EXPECT_GE(vf->client()->GetCurrentPosition(&p), 0);
    return p;
  }
  static bool Drag(VideoForm* vf, QMimeData* data, bool drop = false) {
    return test::DragOver(vf->video_panel(), data, drop);
  }

  test::RecordingControl ctrl_;
  QMainWindow window_;
  QMdiArea* area_ = new QMdiArea;
  test::BoxAnswerer boxes_{QMessageBox::Ok};
  std::vector<test::SeenBox>& seen_ = boxes_.seen;
};

// The empty window: its area estimate, the base item, the strip as the controller says, and a
// server that cannot be started reported in a warning box with the window's title as caption.
TEST_F(VideoFormTest, EmptyWindowEstimatesItsAreaAndReportsAServerThatCannotStart) {
  ctrl_.controls_showing = false;
  VideoForm* vf = Make(2, "/nonexistent/quorvex");
  const int dw = vf->width_difference();
  const int dh = vf->height_difference();
  EXPECT_FALSE(vf->control_panel_shown());
  EXPECT_EQ(vf->CalcActualVideoArea(800 + dw, 300 + dh), 400 * 300);  // wide: height limits
  EXPECT_EQ(vf->CalcActualVideoArea(400 + dw, 900 + dh), 400 * 300);  // tall: width limits
  EXPECT_EQ(vf->CalcActualVideoArea(0, 0), 16 * 12);
  vf->test_item()->trigger();
  EXPECT_TRUE(vf->control_panel_shown());
  EXPECT_EQ(vf->height() - vf->video_panel()->height(), dh);
  vf->set_lap_base_item()->trigger();
  EXPECT_TRUE(ctrl_.calls.contains("SetBaseMovieIndex 2"));

  vf->OpenMovie("/tmp/whatever.mp4");
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].caption, "No.3");
  EXPECT_EQ(seen_[0].icon, QMessageBox::Warning);
  EXPECT_FALSE(vf->IsValid());
}

// Without a movie the drive operations do nothing and the position bar snaps back; a drag over the
// video is accepted for exactly one existing file, tested again at the drop.
TEST_F(VideoFormTest, EmptyWindowIgnoresDrivingAndAcceptsOneExistingFileDragged) {
  VideoForm* vf = Make();
  vf->Play();
  vf->SetRate(0.5);
  vf->SeekCurrentPosition(1.0);
  vf->SetBaseTime(2.5);
  EXPECT_EQ(vf->base_time_units(), 25'000'000);
  QTest::mouseClick(vf->track_bar(), Qt::LeftButton, {}, QPoint(200, 9));
  EXPECT_EQ(vf->track_bar()->value(), 0);

  QTemporaryFile file;
  ASSERT_TRUE(file.open());
  QMimeData one, two, folder;
  one.setUrls({QUrl::fromLocalFile(file.fileName())});
  two.setUrls({one.urls()[0], one.urls()[0]});
  folder.setUrls({QUrl::fromLocalFile(QDir::tempPath())});
  EXPECT_TRUE(Drag(vf, &one));
  EXPECT_FALSE(Drag(vf, &two));
  EXPECT_FALSE(Drag(vf, &folder));
  EXPECT_FALSE(Drag(vf, nullptr));
  ASSERT_TRUE(Drag(vf, &one));
  ASSERT_TRUE(file.remove());
  EXPECT_FALSE(Drag(vf, &one, true));
}

// While an open is pending the window takes no commands and its 100 ms timer sends none: the
// open's reply is never taken by another command, and the movie opens however long the wait.
TEST_F(VideoFormTest, APendingOpenKeepsItsReplyWhileTheTimerRuns) {
  VideoForm* vf = Make();
  ASSERT_TRUE(vf->StartOpening(test::MoviePath("h264-aac-16x9.mp4")));
  vf->SendOpen();
  EXPECT_FALSE(vf->IsValid());
  EXPECT_EQ(vf->client()->GetRate(), 0.0);  // refused, not sent
  EXPECT_FALSE(vf->client()->lost());
  QTest::qWait(350);
  vf->FinishOpening();
  vf->ReportOpenFailure();
  EXPECT_TRUE(vf->IsValid());
  EXPECT_EQ(vf->windowTitle(), "No.1: h264-aac-16x9.mp4");
  EXPECT_TRUE(seen_.empty());
}

// A movie whose length is unknown steps from where it stands, not from 0.
TEST_F(VideoFormTest, AMovieOfUnknownLengthStepsFromItsPosition) {
  VideoForm* vf = Make();
  vf->OpenMovie(test::MoviePath("h264-raw.h264"));
  ASSERT_TRUE(vf->IsValid());
  vf->SetCurrentPosition(1.0);
  QTest::mouseClick(vf->step_button(4), Qt::LeftButton);  // "+0.17"
  EXPECT_NEAR(double(Position(vf)), (1.0 + 5 * kFrame) * kUnits, 0.04 * kUnits);
}

TEST(VolumeFromBar, HalfTheBarAndSilenceAtTheEnd) {
  for (auto [bar, volume] : {std::pair{-10000, -10000}, {-9999, -4999}, {-10, -5}, {-1, 0}})
    EXPECT_EQ(VolumeFromBar(bar), volume) << bar;
}

// One window and its server through a movie's life: what cannot be played is refused without a
// word; a dropped movie opens and its picture appears in the panel; a movie opens paused keeping
// the pitch switch, the time field counts from the base, the bar and the step buttons move it, a
// rate change keeps the frame and the playing state, the end pauses it through the graph notice;
// a killed server empties the window at once and is told after the operation.
TEST_F(VideoFormTest, MovieWalkThroughRefusalsDropPictureDrivingEndAndLoss) {
  VideoForm* vf = Make(2);
  for (const char* name : {"text-file.mp4", "truncated.mp4"}) {
    vf->OpenMovie(test::MoviePath(name));
    EXPECT_FALSE(vf->IsValid()) << name;
    EXPECT_EQ(vf->windowTitle(), "No.3") << name;
  }
  EXPECT_TRUE(seen_.empty());

  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(test::MoviePath("mjpeg-pcm-4x3.avi"))});
  EXPECT_TRUE(Drag(vf, &data, true));
  ASSERT_TRUE(QTest::qWaitFor([&] { return vf->IsValid(); }, 30000));
  vf->SetCurrentPosition(1.0);
  QWidget* panel = vf->video_panel();
  auto colours = [panel] {  // the test pattern's colours, where the panel is on the screen
    const QPoint o = panel->mapToGlobal(QPoint(0, 0));
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(0, o.x(), o.y(), panel->width(), panel->height())
                            .toImage();
    std::set<QRgb> seen;
    for (int i = 0; i < shot.width() * shot.height(); i += 7)
      seen.insert(shot.pixel(i % shot.width(), i / shot.width()) & 0xF0F0F0);
    return seen.size();
  };
  EXPECT_TRUE(QTest::qWaitFor([&] { return colours() >= 6; }, 10000)) << "no picture";

  vf->const_pitch2_item()->trigger();
  vf->OpenMovie(test::MoviePath("h264-aac-16x9.mp4"));
  ASSERT_TRUE(vf->IsValid());
  EXPECT_TRUE(vf->const_pitch_item()->isChecked());
  EXPECT_EQ(vf->windowTitle(), "No.3: h264-aac-16x9.mp4");
  EXPECT_FALSE(vf->client()->IsPlaying());
  int64_t dur = -1;
  EXPECT_GE(vf->client()->GetDuration(&dur), 0);
  EXPECT_NEAR(double(dur) / kUnits, 10.01, 0.05);
  EXPECT_EQ(vf->CalcActualVideoArea(640 + vf->width_difference(), 640 + vf->height_difference()),
            640 * 360);  // the movie's own aspect ratio
  vf->SetCurrentPosition(1.0);
  vf->SetBaseTime(3.4);
  vf->timer1_Tick();
  EXPECT_EQ(vf->time_text()->text(), "-2.40");
  EXPECT_EQ(vf->track_bar()->value(), int(100.0 * 1.0 * kUnits / double(dur)));

  QSlider* bar = vf->track_bar();
  for (auto [x, value] : {std::pair{bar->width() - 1, 100}, {10 + (bar->width() - 20) / 2, 50}}) {
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(x, 9));
    EXPECT_EQ(bar->value(), value) << x;
    EXPECT_NEAR(double(Position(vf)), value / 100.0 * double(dur), kNear) << x;
  }
  const double end = double(dur) / kUnits;
  for (auto [start, button, expected] : {std::tuple{0.2, 0, 0.0},
                                         {end - 0.1, 5, end},
                                         {2.0, 1, 2.0 - 5 * kFrame},
                                         {1.0, 3, 1.0 + kFrame}}) {
    vf->SetCurrentPosition(start);
    QTest::mouseClick(vf->step_button(button), Qt::LeftButton);
    EXPECT_NEAR(double(Position(vf)), std::trunc(expected * kUnits), kNear) << button;
  }
  vf->SetCurrentPosition(2.0);
  const int64_t before = Position(vf);
  vf->SetRate(0.25);
  EXPECT_EQ(vf->client()->GetRate(), 0.25);
  EXPECT_FALSE(vf->client()->IsPlaying());
  EXPECT_NEAR(double(Position(vf)), double(before), kNear);
  vf->Play();
  vf->SetRate(0.5);
  EXPECT_EQ(vf->client()->GetRate(), 0.5);
  EXPECT_TRUE(vf->client()->IsPlaying());  // stopped, changed and played again

  vf->SetRate(1.0);
  vf->SetCurrentPosition(end - 0.3);
  ASSERT_TRUE(vf->client()->IsPlaying());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !vf->client()->IsPlaying(); }, 10000));

  vf->Play();
  ASSERT_EQ(kill(vf->client()->server_pid(), SIGKILL), 0);
  vf->SetRate(0.5);  // GetRate finds the loss; IsPlaying, Stop, SetRate, Pause follow
  EXPECT_FALSE(vf->IsValid());
  EXPECT_EQ(vf->windowTitle(), "No.3");
  EXPECT_TRUE(seen_.empty());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !seen_.empty(); }, 10000));
  EXPECT_EQ(seen_, (std::vector<test::SeenBox>{{"No.3: h264-aac-16x9.mp4",
                                                "動画ｻｰﾊﾞｰとの通信に失敗しました。",
                                                QMessageBox::Warning, QMessageBox::Ok}}));
  EXPECT_EQ(vf->client(), nullptr);
  vf->OpenMovie(test::MoviePath("h264-noaudio.mp4"));
  EXPECT_TRUE(vf->IsValid());
  QTest::qWait(300);
  EXPECT_EQ(seen_.size(), 1u);
}

}  // namespace
}  // namespace quorvex
