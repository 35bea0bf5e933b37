// Zoom through the real main window, real movie windows and real servers, driven by real X
// pointer events (xdotool): they land on the servers' windows inside the movie windows and must
// reach the movie window through them. The wheel zooms one movie around the pointer, Ctrl+wheel
// every movie at the same spot, a drag pans up to the picture's edge, a double click shows the
// whole picture; the keys zoom every movie; a reopen drops the zoom.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <cmath>

#include "app/MainForm.h"
#include "platform/ui/Fonts.h"
#include "tests/support/Quadrants.h"
#include "tests/support/TestEnv.h"
#include "ui/VideoForm.h"

namespace quorvex::test {
namespace {

// Runs xdotool with `args` (pointer moves, clicks, keys on the test display).
void XDo(const QStringList& args) {
  ASSERT_EQ(QProcess::execute("xdotool", args), 0) << args.join(' ').toStdString();
}

// The picture's area in the movie window's panel, on the screen: the top-left part of the panel
// at the movie's 16:9.
QRect PictureOnScreen(VideoForm* vf) {
  QWidget* panel = vf->video_panel();
  int w = panel->width(), h = w * 9 / 16;
  if (h > panel->height()) {
    h = panel->height();
    w = h * 16 / 9;
  }
  return QRect(panel->mapToGlobal(QPoint(0, 0)), QSize(w, h));
}

// The spot of the picture at fractions (x, y) on the screen.
QPoint Spot(VideoForm* vf, double x, double y) {
  const QRect r = PictureOnScreen(vf);
  return r.topLeft() + QPoint(int(x * r.width()), int(y * r.height()));
}

std::string ScreenCorners(VideoForm* vf) {
  const QRect r = PictureOnScreen(vf);
  const QImage shot = QGuiApplication::primaryScreen()
                          ->grabWindow(0, r.x(), r.y(), r.width(), r.height())
                          .toImage();
  return Corners(r.width(), r.height(), [&](int x, int y) { return uint32_t(shot.pixel(x, y)); });
}

// Waits until movie `vf` shows `corners` (see Quadrants.h); the colours it last showed.
std::string WaitForCorners(VideoForm* vf, const std::string& corners) {
  (void)QTest::qWaitFor([&] { return ScreenCorners(vf) == corners; }, 5000);
  return ScreenCorners(vf);
}

void Wheel(VideoForm* vf, double x, double y, int notches, bool ctrl = false) {
  const QPoint at = Spot(vf, x, y);
  QStringList args = {"mousemove", QString::number(at.x()), QString::number(at.y())};
  if (ctrl)
    args << "keydown"
         << "ctrl";
  args << "click"
       << "--repeat" << QString::number(std::abs(notches)) << "--delay"
       << "30" << (notches > 0 ? "4" : "5");
  if (ctrl)
    args << "keyup"
         << "ctrl";
  XDo(args);
}

// The events reach the window when its event loop runs, later on a loaded machine: waits (at
// most 20 s) until `done`.
template <typename Done>
bool Settled(Done done) {
  return QTest::qWaitFor(done, 20000);
}

TEST(ZoomAppTest, PointerAndKeysZoomAndPanTheMovies) {
  ui::SubstituteUiGothicFont();
  MainForm f({MoviePath("quadrants.mp4"), MoviePath("quadrants.mp4")},
             {.server_path = QuorvexExe()});
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  ASSERT_TRUE(QTest::qWaitFor([&] { return f.loaded(); }, 60000));
  ASSERT_EQ(f.vfs().size(), 2u);
  VideoForm* a = f.vfs()[0];
  VideoForm* b = f.vfs()[1];
  ASSERT_EQ(WaitForCorners(a, "rgby"), "rgby");

  // Ctrl+wheel over the red quadrant of the first movie: both movies, at the same spot.
  Wheel(a, 0.25, 0.25, 10, true);
  EXPECT_TRUE(Settled([&] { return a->zoom().scale() == 8 && b->zoom().scale() == 8; }));
  EXPECT_NEAR(a->zoom().left() + 0.25 * a->zoom().size(), 0.25, 0.01) << "the spot stays";
  EXPECT_EQ(WaitForCorners(b, "rrrr"), "rrrr");
  // The wheel alone: only the movie under the pointer.
  Wheel(b, 0.5, 0.5, -2);
  EXPECT_TRUE(Settled([&] { return b->zoom().scale() < 6; }));
  EXPECT_NEAR(b->zoom().scale(), 8 / 1.25 / 1.25, 1e-9);
  EXPECT_EQ(a->zoom().scale(), 8);

  // Drags far to the left: the picture follows the hand until its right edge is reached (8x:
  // each moves 0.094 of the picture, from 0.219 on).
  const QPoint from = Spot(a, 0.8, 0.5), to = Spot(a, 0.05, 0.5);
  for (int i = 0; i < 9; ++i) {
    XDo({"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1",
         "mousemove", QString::number(to.x()), QString::number(to.y()), "mouseup", "1"});
  }
  EXPECT_TRUE(Settled([&] { return a->zoom().left() + a->zoom().size() >= 1.0; }));
  EXPECT_DOUBLE_EQ(a->zoom().left() + a->zoom().size(), 1.0) << "stopped at the right edge";
  EXPECT_EQ(WaitForCorners(a, "gggg"), "gggg");

  // A double click shows the first movie whole.
  const QPoint middle = Spot(a, 0.5, 0.5);
  XDo({"mousemove", QString::number(middle.x()), QString::number(middle.y()), "click", "--repeat",
       "2", "--delay", "60", "1"});
  EXPECT_TRUE(Settled([&] { return a->zoom().whole(); }));
  EXPECT_EQ(WaitForCorners(a, "rgby"), "rgby");
  EXPECT_FALSE(b->zoom().whole());

  // Keys, for every movie: Ctrl+0 whole, Ctrl++ (and Ctrl+=) in, Ctrl+- out, around the middle.
  QTest::keyClick(&f, Qt::Key_0, Qt::ControlModifier);
  EXPECT_TRUE(a->zoom().whole() && b->zoom().whole());
  QTest::keyClick(&f, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(&f, Qt::Key_Equal, Qt::ControlModifier);
  QTest::keyClick(&f, Qt::Key_Equal, Qt::ControlModifier);
  QTest::keyClick(&f, Qt::Key_Minus, Qt::ControlModifier);
  for (VideoForm* vf : {a, b}) {
    EXPECT_NEAR(vf->zoom().scale(), 1.25 * 1.25, 1e-9);
    EXPECT_NEAR(vf->zoom().left() + vf->zoom().size() / 2, 0.5, 1e-9);
  }

  // A movie opened again shows its whole picture.
  a->OpenMovie(MoviePath("quadrants.mp4"));
  ASSERT_TRUE(a->IsValid());
  EXPECT_TRUE(a->zoom().whole());
}

}  // namespace
}  // namespace quorvex::test
