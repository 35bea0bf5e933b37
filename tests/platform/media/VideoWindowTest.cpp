// The video window's colours on displays that do not take 32-bit pictures as they are: a
// private X server of depth 16 (5-6-5) and one of depth 30 (10 bits a channel) each gets a
// picture of known colours, and what the X server holds is read back through its masks.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/media/VideoWindow.h"

namespace quorvex::media {
namespace {

// An Xvfb of the given depth on a display number of its own, ended with the object.
struct PrivateDisplay {
  pid_t pid = -1;
  std::string name;
  explicit PrivateDisplay(int depth) : name(":" + std::to_string(150 + depth)) {
    pid = fork();
    if (pid == 0) {
      execlp("Xvfb", "Xvfb", name.c_str(), "-screen", "0",
             ("64x64x" + std::to_string(depth)).c_str(), "-nolisten", "tcp", nullptr);
      _exit(127);
    }
    for (int i = 0; i < 200; ++i) {
      if (Display* d = XOpenDisplay(name.c_str())) {
        XCloseDisplay(d);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    name.clear();
  }
  ~PrivateDisplay() {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
};

// One channel of a pixel read back, as 0..255.
unsigned Channel(unsigned long pixel, unsigned long mask) {
  const int shift = __builtin_ctzl(mask);
  const unsigned long top = mask >> shift;
  return unsigned((((pixel & mask) >> shift) * 255 + top / 2) / top);
}

TEST(VideoWindow, ColoursFollowTheVisualsMasksAtDepths16And30) {
  const char* kept = std::getenv("DISPLAY");
  const std::string restore = kept ? kept : "";
  for (const int depth : {16, 30}) {
    SCOPED_TRACE(depth);
    PrivateDisplay server(depth);
    if (server.name.empty())
      GTEST_SKIP() << "no Xvfb of depth " << depth;
    setenv("DISPLAY", server.name.c_str(), 1);
    std::unique_ptr<VideoWindow> window = VideoWindow::Open();
    ASSERT_TRUE(window);
    // Four pixels, B, G, R, x as bgrx() says the window takes them.
    EXPECT_TRUE(window->bgrx());
    const unsigned colours[4][3] = {
        {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {200, 100, 50}};  // r, g, b
    Picture picture;
    picture.width = 4;
    picture.height = 1;
    for (const auto& c : colours)
      picture.pixels.insert(picture.pixels.end(), {uint8_t(c[2]), uint8_t(c[1]), uint8_t(c[0]), 0});
    window->Draw(picture);
    // The picture is the window's background: cleared, the window shows it.
    Display* display = XOpenDisplay(server.name.c_str());
    ASSERT_NE(display, nullptr);
    const Window video = Window(window->video_handle());
    XMapWindow(display, video);
    XMoveResizeWindow(display, video, 0, 0, 4, 1);
    XClearWindow(display, video);
    XSync(display, False);
    XImage* image = XGetImage(display, video, 0, 0, 4, 1, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, depth);
    const Visual* visual = DefaultVisual(display, DefaultScreen(display));
    for (int i = 0; i < 4; ++i) {
      const unsigned long pixel = XGetPixel(image, i, 0);
      const unsigned got[3] = {Channel(pixel, visual->red_mask), Channel(pixel, visual->green_mask),
                               Channel(pixel, visual->blue_mask)};
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(got[c], colours[i][c], 5) << "pixel " << i << " channel " << c;
    }
    XDestroyImage(image);
    XCloseDisplay(display);
    window.reset();
  }
  restore.empty() ? unsetenv("DISPLAY") : setenv("DISPLAY", restore.c_str(), 1);
}

}  // namespace
}  // namespace quorvex::media
