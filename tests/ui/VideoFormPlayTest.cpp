// The movie window with a real server process and generated movies: opening, the time field,
// stepping, the position bar, the rate change, graph notices, the picture in the panel and a
// server that dies.
#include <gtest/gtest.h>
#include <signal.h>

#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QUrl>

#include <cmath>
#include <memory>
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
constexpr int64_t kFrameUnits = 333'667;  // 1/29.97 s

QString MoviePath(const char* name) {
  return QString::fromStdString(test::Movie(name));
}

class VideoFormPlayTest : public testing::Test {
 protected:
  void SetUp() override {
    ui::SubstituteUiGothicFont();
    window_.setCentralWidget(area_);
    window_.resize(1000, 700);
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }
  VideoForm* Make(int number = 0) {
    ClientOptions options;
    options.server_path = test::QuorvexExe();
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

TEST_F(VideoFormPlayTest, OpenedMovieIsTitledAndShowsItsStart) {
  VideoForm* vf = Open("h264-aac-16x9.mp4", 2);
  EXPECT_EQ(vf->windowTitle(), "No.3: h264-aac-16x9.mp4");
  EXPECT_EQ(vf->GetFileName(), MoviePath("h264-aac-16x9.mp4"));
  EXPECT_FALSE(vf->client()->IsPlaying());  // paused on its first picture
  vf->timer1_Tick();
  EXPECT_EQ(vf->time_text()->text(), "0.00");
  EXPECT_EQ(vf->track_bar()->value(), 0);
  EXPECT_NEAR(double(Duration(vf)) / kUnits, 10.01, 0.05);
  // The layout's estimate uses the movie's own aspect ratio.
  EXPECT_EQ(vf->CalcActualVideoArea(640 + vf->width_difference(), 640 + vf->height_difference()),
            640 * 360);
}

class UnplayableTest : public VideoFormPlayTest, public testing::WithParamInterface<const char*> {};

TEST_P(UnplayableTest, FailedOpenIsSilentAndALaterDropSucceeds) {
  std::vector<test::SeenBox> seen;
  std::unique_ptr<test::ModalWatcher> w(test::ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
  VideoForm* vf = Make(2);
  vf->OpenMovie(MoviePath(GetParam()));
  EXPECT_FALSE(vf->IsValid());
  EXPECT_EQ(vf->windowTitle(), "No.3");
  EXPECT_EQ(vf->GetFileName(), "");
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

INSTANTIATE_TEST_SUITE_P(Files, UnplayableTest,
                         testing::Values("text-file.mp4", "truncated.mp4", "no-such-file.mp4"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find_first_of(".-"));
                         });

struct StepCase {
  const char* name;
  double start_seconds;  // negative: that far before the end
  int button;
  double expected_seconds;  // negative: the end
};

void PrintTo(const StepCase& c, std::ostream* os) {
  *os << c.name;
}

class FrameStepTest : public VideoFormPlayTest, public testing::WithParamInterface<StepCase> {};

TEST_P(FrameStepTest, StepButtonsMoveByFramesWithinTheMovie) {
  const StepCase& c = GetParam();
  VideoForm* vf = Open("h264-aac-16x9.mp4");
  const int64_t dur = Duration(vf);
  const double start =
      c.start_seconds >= 0 ? c.start_seconds : double(dur) / kUnits + c.start_seconds;
  vf->SetCurrentPosition(start);
  QTest::mouseClick(vf->step_button(c.button), Qt::LeftButton);
  const int64_t expected =
      c.expected_seconds >= 0 ? int64_t(std::trunc(c.expected_seconds * kUnits)) : dur;
  EXPECT_NEAR(double(Position(vf)), double(expected), 0.002 * kUnits);
}

INSTANTIATE_TEST_SUITE_P(Cases, FrameStepTest,
                         testing::Values(StepCase{"BackTenFramesClampsAtZero", 0.2, 0, 0.0},
                                         StepCase{"ForwardTenFramesClampsAtTheEnd", -0.1, 5, -1},
                                         StepCase{"ForwardOneFrame", 1.0, 3, 1.0 + 1 / 29.97},
                                         StepCase{"BackFiveFrames", 2.0, 1, 2.0 - 5 / 29.97},
                                         StepCase{"ForwardFiveFrames", 2.0, 4, 2.0 + 5 / 29.97},
                                         StepCase{"BackOneFrame", 2.0, 2, 2.0 - 1 / 29.97}),
                         [](const testing::TestParamInfo<StepCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(VideoFormPlayTest, TimeFieldShowsThePositionFromTheBase) {
  VideoForm* vf = Open("h264-aac-16x9.mp4");
  vf->SetCurrentPosition(1.0);
  vf->SetBaseTime(3.4);
  vf->timer1_Tick();
  EXPECT_EQ(vf->time_text()->text(), "-2.40");
  EXPECT_EQ(vf->track_bar()->value(), int(100.0 * 1.0 * kUnits / double(Duration(vf))));
  vf->SetBaseTime(0.0);
  vf->SetCurrentPosition(5.0);
  vf->timer1_Tick();
  EXPECT_EQ(vf->time_text()->text(), "5.00");
}

TEST_F(VideoFormPlayTest, BarClicksJumpToTheClickedPlace) {
  VideoForm* vf = Open("h264-aac-16x9.mp4");
  const int64_t dur = Duration(vf);
  QSlider* bar = vf->track_bar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() - 1, 9));  // the right edge
  EXPECT_EQ(bar->value(), 100);
  EXPECT_NEAR(double(Position(vf)), double(dur), 0.002 * kUnits);
  QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(5, 9));  // inside the dead margin
  EXPECT_EQ(bar->value(), 0);
  EXPECT_NEAR(double(Position(vf)), 0.0, 0.002 * kUnits);
  QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(10 + (bar->width() - 20) / 2, 9));
  EXPECT_EQ(bar->value(), 50);
  EXPECT_NEAR(double(Position(vf)), 0.5 * double(dur), 0.002 * kUnits);
  // Keys scroll the bar, and the movie follows.
  bar->setFocus();
  QTest::keyClick(bar, Qt::Key_PageUp);
  EXPECT_EQ(bar->value(), 60);
  EXPECT_NEAR(double(Position(vf)), 0.6 * double(dur), 0.002 * kUnits);
}

TEST_F(VideoFormPlayTest, RateChangeKeepsTheFrameAndThePlayingState) {
  VideoForm* vf = Open("h264-aac-16x9.mp4");
  vf->SetCurrentPosition(2.0);
  const int64_t before = Position(vf);
  vf->SetRate(0.25);
  EXPECT_EQ(vf->client()->GetRate(), 0.25);
  EXPECT_FALSE(vf->client()->IsPlaying());
  EXPECT_NEAR(double(Position(vf)), double(before), 0.002 * kUnits);

  vf->Play();
  EXPECT_TRUE(vf->client()->IsPlaying());
  vf->SetRate(0.5);
  EXPECT_EQ(vf->client()->GetRate(), 0.5);
  EXPECT_TRUE(vf->client()->IsPlaying());  // stopped, changed and played again
  vf->SetRate(0.5);                        // the rate in force: nothing happens
  EXPECT_TRUE(vf->client()->IsPlaying());
  vf->Pause();
  EXPECT_FALSE(vf->client()->IsPlaying());
}

// The pitch switch is the window's: set before a movie is opened it is kept for that movie, and
// switching it while a movie plays reaches the server without disturbing it.
TEST_F(VideoFormPlayTest, PitchSwitchOutlivesOpeningAMovie) {
  VideoForm* vf = Make();
  vf->const_pitch2_item()->trigger();
  vf->OpenMovie(MoviePath("h264-aac-16x9.mp4"));
  ASSERT_TRUE(vf->IsValid());
  EXPECT_TRUE(vf->const_pitch_item()->isChecked());
  EXPECT_TRUE(vf->const_pitch2_item()->isChecked());
  vf->SetRate(0.5);
  vf->Play();
  vf->const_pitch_item()->trigger();
  EXPECT_FALSE(vf->const_pitch2_item()->isChecked());
  EXPECT_TRUE(vf->IsValid());
  EXPECT_TRUE(vf->client()->IsPlaying());
  vf->Pause();
}

// The end of the movie is a graph event: the server posts its notice to the window's port, the
// window answers it, and the movie pauses on its last picture.
TEST_F(VideoFormPlayTest, EndOfMoviePausesThroughTheGraphNotice) {
  VideoForm* vf = Open("h264-noaudio.mp4");
  vf->SetCurrentPosition(double(Duration(vf)) / kUnits - 0.3);
  vf->Play();
  ASSERT_TRUE(vf->client()->IsPlaying());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !vf->client()->IsPlaying(); }, 10000));
  EXPECT_TRUE(vf->IsValid());
}

// The server draws into the panel: the test pattern's colours appear where the panel is.
TEST_F(VideoFormPlayTest, PictureAppearsInsideTheVideoPanel) {
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

// A server that dies turns the window into one without a movie, and the user is told once,
// with the window's title of the time as caption. A new open works again.
TEST_F(VideoFormPlayTest, KilledServerIsReportedAndLeavesAnEmptyWindow) {
  VideoForm* vf = Open("h264-aac-16x9.mp4");
  std::vector<test::SeenBox> seen;
  std::unique_ptr<test::ModalWatcher> w(test::ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
  ASSERT_EQ(kill(vf->client()->server_pid(), SIGKILL), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.empty(); }, 10000));
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, QString::fromUtf8("動画ｻｰﾊﾞｰとの通信に失敗しました。"));
  EXPECT_EQ(seen[0].caption, "No.1: h264-aac-16x9.mp4");
  EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
  EXPECT_FALSE(vf->IsValid());
  EXPECT_EQ(vf->windowTitle(), "No.1");
  EXPECT_EQ(vf->GetFileName(), "");
  vf->Play();  // an empty window ignores it
  vf->OpenMovie(MoviePath("h264-aac-16x9.mp4"));
  EXPECT_TRUE(vf->IsValid());
  QTest::qWait(300);
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
}  // namespace quorvex
