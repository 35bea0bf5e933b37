#include "platform/media/VideoWindow.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace quorvex::media {
namespace {

// Xlib's default handler ends the process. The owner belongs to another process and may be
// destroyed at any moment; a request about a window that vanished must not end the server.
int IgnoreXError(Display*, XErrorEvent*) {
  return 0;
}

Window CreateWindow(Display* display, Window parent, int x, int y, unsigned width,
                    unsigned height) {
  XSetWindowAttributes attributes{};
  attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
  attributes.border_pixel = 0;
  return XCreateWindow(display, parent, x, y, std::max(width, 1u), std::max(height, 1u), 0,
                       CopyFromParent, InputOutput, CopyFromParent, CWBackPixel | CWBorderPixel,
                       &attributes);
}

}  // namespace

struct VideoWindow::Impl {
  Display* display = nullptr;
  Window video = 0;
  Window container = 0;  // 0 while there is no owner
  int left = 0, top = 0;
  unsigned width = 1, height = 1;

  ~Impl() {
    if (container)
      XDestroyWindow(display, container);  // the video window goes with it
    else if (video)
      XDestroyWindow(display, video);
    XCloseDisplay(display);
  }
};

std::unique_ptr<VideoWindow> VideoWindow::Open() {
  // A busy X server now and then resets a connection while it is being opened; a server
  // without a display at all fails at once.
  Display* display = nullptr;
  const bool has_display = std::getenv("DISPLAY") != nullptr;
  for (int attempt = 0; attempt < (has_display ? 3 : 1) && !display; ++attempt) {
    if (attempt > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    display = XOpenDisplay(nullptr);
  }
  if (!display)
    return nullptr;
  XSetErrorHandler(IgnoreXError);
  auto impl = std::make_unique<Impl>();
  impl->display = display;
  impl->video = CreateWindow(display, DefaultRootWindow(display), 0, 0, 1, 1);
  XSync(display, False);
  return std::unique_ptr<VideoWindow>(new VideoWindow(std::move(impl)));
}

VideoWindow::VideoWindow(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

VideoWindow::~VideoWindow() = default;

uintptr_t VideoWindow::video_handle() const {
  return impl_->video;
}

bool VideoWindow::SetOwner(int32_t owner) {
  Impl& x = *impl_;
  XWindowAttributes attributes{};
  if (owner != 0 && !XGetWindowAttributes(x.display, Window(owner), &attributes))
    return false;
  if (x.container) {
    XUnmapWindow(x.display, x.video);
    XReparentWindow(x.display, x.video, DefaultRootWindow(x.display), 0, 0);
    XDestroyWindow(x.display, x.container);
    x.container = 0;
  }
  owner_ = owner;
  if (owner != 0) {
    x.container = CreateWindow(x.display, Window(owner), 0, 0, attributes.width, attributes.height);
    XReparentWindow(x.display, x.video, x.container, x.left, x.top);
    XMapWindow(x.display, x.video);
    XMapWindow(x.display, x.container);
  }
  XSync(x.display, False);
  return true;
}

void VideoWindow::SetPosition(int32_t left, int32_t top, int32_t width, int32_t height) {
  Impl& x = *impl_;
  x.left = left;
  x.top = top;
  x.width = unsigned(std::max(width, 1));
  x.height = unsigned(std::max(height, 1));
  XWindowAttributes attributes{};
  if (x.container && XGetWindowAttributes(x.display, Window(owner_), &attributes)) {
    XResizeWindow(x.display, x.container, std::max(attributes.width, 1),
                  std::max(attributes.height, 1));
  }
  XMoveResizeWindow(x.display, x.video, x.left, x.top, x.width, x.height);
  XSync(x.display, False);
}

}  // namespace quorvex::media
