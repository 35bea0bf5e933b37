#include "tests/support/XTestWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

#include <stdexcept>

namespace quorvex::test {

XTestWindow::XTestWindow(int width, int height) : width_(width), height_(height) {
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
                                0, BlackPixel(d, screen), BlackPixel(d, screen));
  XMapWindow(d, window_);
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
  // Reading the root window's area gives what is on screen, the other process's child window
  // included (reading our own window would not include a foreign child's contents reliably).
  int x = 0, y = 0;
  Window child;
  XTranslateCoordinates(d, window_, DefaultRootWindow(d), 0, 0, &x, &y, &child);
  XImage* img = XGetImage(d, DefaultRootWindow(d), x, y, unsigned(width_), unsigned(height_),
                          AllPlanes, ZPixmap);
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
