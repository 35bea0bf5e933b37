#include "tests/platform/media/TestWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

namespace quorvex::test {

void InitXThreads() {
  XInitThreads();
}

struct TestWindow::Impl {
  Display* display = nullptr;
  Window window = 0;
};

TestWindow::TestWindow(int width, int height)
    : impl_(std::make_unique<Impl>()), width_(width), height_(height) {
  // The shared test X server now and then resets a connection while it is being opened.
  Display* display = nullptr;
  for (int attempt = 0; attempt < 5 && !display; ++attempt) {
    if (attempt > 0)
      usleep(100'000);
    display = XOpenDisplay(nullptr);
  }
  if (!display)
    return;
  impl_->display = display;
  const int screen = DefaultScreen(display);
  impl_->window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, width, height, 0,
                                      0, WhitePixel(display, screen));
  XSelectInput(display, impl_->window, StructureNotifyMask);
  XMapWindow(display, impl_->window);
  for (XEvent event; XNextEvent(display, &event) == 0;) {
    if (event.type == MapNotify)
      break;
  }
  XSync(display, False);
}

TestWindow::~TestWindow() {
  if (!impl_->display)
    return;
  XDestroyWindow(impl_->display, impl_->window);
  XCloseDisplay(impl_->display);
}

bool TestWindow::ok() const {
  return impl_->display != nullptr;
}

int32_t TestWindow::id() const {
  return int32_t(impl_->window);
}

std::vector<Rgb> TestWindow::Grab() const {
  std::vector<Rgb> pixels;
  XSync(impl_->display, False);
  XImage* image =
      XGetImage(impl_->display, impl_->window, 0, 0, width_, height_, AllPlanes, ZPixmap);
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
