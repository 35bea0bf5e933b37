#include "tests/platform/media/TestWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

namespace quorvex::test {

void InitXThreads() {
  XInitThreads();
}

TestWindow::TestWindow(int width, int height, int x) : width_(width), height_(height) {
  InitXThreads();
  // The shared test X server now and then resets a connection while it is being opened.
  Display* display = XOpenDisplay(nullptr);
  for (int attempt = 1; attempt < 5 && !display; ++attempt) {
    usleep(100'000);
    display = XOpenDisplay(nullptr);
  }
  if (!display)
    return;
  display_ = display;
  const int screen = DefaultScreen(display);
  window_ = XCreateSimpleWindow(display, RootWindow(display, screen), x, 0, width, height, 0, 0,
                                WhitePixel(display, screen));
  // Kept by the X server while other tests' windows cover it (run with +bs): what is grabbed is
  // what was drawn, not what lies on top.
  XSetWindowAttributes keep{};
  keep.backing_store = Always;
  XChangeWindowAttributes(display, window_, CWBackingStore, &keep);
  XSelectInput(display, window_, StructureNotifyMask);
  XMapWindow(display, window_);
  for (XEvent event; XNextEvent(display, &event) == 0 && event.type != MapNotify;) {
  }
  XSync(display, False);
}

TestWindow::~TestWindow() {
  if (!display_)
    return;
  XDestroyWindow(static_cast<Display*>(display_), window_);
  XCloseDisplay(static_cast<Display*>(display_));
}

std::vector<Rgb> TestWindow::Grab() const {
  std::vector<Rgb> pixels;
  auto* display = static_cast<Display*>(display_);
  XSync(display, False);
  XImage* image = XGetImage(display, window_, 0, 0, width_, height_, AllPlanes, ZPixmap);
  if (!image)
    return pixels;
  pixels.reserve(size_t(width_) * height_);
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      const unsigned long p = XGetPixel(image, x, y);
      pixels.push_back(Rgb{uint8_t((p & image->red_mask) >> 16),
                           uint8_t((p & image->green_mask) >> 8), uint8_t(p & image->blue_mask)});
    }
  }
  XDestroyImage(image);
  return pixels;
}

}  // namespace quorvex::test
