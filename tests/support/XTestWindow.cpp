#include "tests/support/XTestWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

#include <stdexcept>

namespace quorvex::test {

XTestWindow::XTestWindow(int width, int height) : width_(width), height_(height) {
  XInitThreads();  // the graph under test draws from its streaming threads
  // An X server started without -noreset resets when its last client leaves and drops the
  // connections that arrive meanwhile: try again briefly before giving up.
  Display* d = XOpenDisplay(nullptr);
  for (int attempt = 0; d == nullptr && attempt < 50; ++attempt) {
    usleep(20000);
    d = XOpenDisplay(nullptr);
  }
  if (d == nullptr) throw std::runtime_error("no X display");
  display_ = d;
  const int screen = DefaultScreen(d);
  window_ = XCreateSimpleWindow(d, RootWindow(d, screen), 0, 0, unsigned(width), unsigned(height),
                                0, BlackPixel(d, screen), WhitePixel(d, screen));
  // Kept by the X server while other tests' windows cover it (run with +bs).
  XSetWindowAttributes keep{};
  keep.backing_store = Always;
  XChangeWindowAttributes(d, window_, CWBackingStore, &keep);
  // Grabbing a window that is not viewable yet (a window manager maps it a moment later) would
  // be an X error that ends the process.
  XSelectInput(d, window_, StructureNotifyMask);
  XMapWindow(d, window_);
  for (XEvent event; XNextEvent(d, &event) == 0 && event.type != MapNotify;) {
  }
  XSync(d, False);
}

XTestWindow::~XTestWindow() {
  auto* d = static_cast<Display*>(display_);
  XDestroyWindow(d, window_);
  XCloseDisplay(d);
}

std::vector<uint32_t> XTestWindow::Grab() const {
  auto* d = static_cast<Display*>(display_);
  XSync(d, False);
  // The window's own contents, the other process's child window included: with its backing
  // store they are what was drawn, whatever covers the window on the screen.
  XImage* img = XGetImage(d, window_, 0, 0, unsigned(width_), unsigned(height_), AllPlanes,
                          ZPixmap);
  std::vector<uint32_t> pixels;
  if (img == nullptr)
    return pixels;
  pixels.reserve(size_t(width_) * size_t(height_));
  for (int row = 0; row < height_; ++row) {
    for (int col = 0; col < width_; ++col)
      pixels.push_back(uint32_t(XGetPixel(img, col, row)) & 0xFFFFFFu);
  }
  XDestroyImage(img);
  return pixels;
}

}  // namespace quorvex::test
