#include "platform/media/VideoWindow.h"

#include <gst/video/video.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/media/PictureMaker.h"

namespace quorvex::media {
namespace {

// Xlib's default handler ends the process. The owner belongs to another process and may be
// destroyed at any moment; a request about a window that vanished must not end the server.
// Set by the handler, read after an XSync that made the server answer a request: whether that
// request failed (an X server that cannot reach our shared memory refuses to attach it).
std::atomic<bool> x_error_seen{false};

int IgnoreXError(Display*, XErrorEvent*) {
  x_error_seen = true;
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

// One 8-bit channel placed into a visual's channel mask, scaled to the mask's width.
unsigned long Channel(unsigned value, unsigned long mask) {
  if (mask == 0)
    return 0;
  const int shift = __builtin_ctzl(mask);
  const unsigned long top = mask >> shift;  // 2^bits - 1
  return ((value * top + 127) / 255) << shift;
}

// Whether 32-bit pixels of 8-bit channels go to the screen as they are: a TrueColor visual of
// depth 24 in 32-bit pixels, least significant byte first, red in the top or the bottom byte.
bool TakesPicturesDirectly(Display* display) {
  const int screen = DefaultScreen(display);
  const Visual* visual = DefaultVisual(display, screen);
  if (visual->c_class != TrueColor || DefaultDepth(display, screen) != 24 ||
      ImageByteOrder(display) != LSBFirst || visual->green_mask != 0xff00)
    return false;
  int formats = 0;
  XPixmapFormatValues* list = XListPixmapFormats(display, &formats);
  bool fits = false;
  for (int i = 0; i < formats; ++i)
    fits = fits || (list[i].depth == 24 && list[i].bits_per_pixel == 32);
  if (list)
    XFree(list);
  return fits && ((visual->red_mask == 0xff0000 && visual->blue_mask == 0xff) ||
                  (visual->red_mask == 0xff && visual->blue_mask == 0xff0000));
}

}  // namespace

struct VideoWindow::Impl {
  Display* display = nullptr;
  Window video = 0;
  Window container = 0;  // 0 while there is no owner
  // Pictures are put as they are; otherwise (16-bit, depth-30, big-endian displays) each pixel is
  // made from the visual's channel masks.
  bool direct = true;
  int left = 0, top = 0;
  unsigned width = 1, height = 1;

  std::mutex draw_mutex;
  GC gc = nullptr;    // guarded by draw_mutex
  // Pictures reach the X server through shared memory where it can (a local server): one copy
  // into the segment instead of the whole picture written down the socket.
  bool shm_usable = false;     // guarded by draw_mutex
  XShmSegmentInfo shm{};       // guarded by draw_mutex; shmid -1 while none
  XImage* shm_image = nullptr;  // guarded by draw_mutex
  Pixmap pixmap = 0;  // the picture shown; guarded by draw_mutex
  int pixmap_width = 0, pixmap_height = 0;  // guarded by draw_mutex
  // From a picture's I420 to 32-bit pixels, kept while the size and colorimetry stay.
  GstVideoConverter* converter = nullptr;  // guarded by draw_mutex
  GstVideoInfo converted_from{};           // guarded by draw_mutex
  GstVideoInfo converted_to{};             // guarded by draw_mutex
  std::vector<uint8_t> unshared;  // pixels for a server without shared memory; draw_mutex

  ~Impl() {
    if (converter)
      gst_video_converter_free(converter);
    ReleaseShm();
    if (pixmap)
      XFreePixmap(display, pixmap);
    if (gc)
      XFreeGC(display, gc);
    if (container)
      XDestroyWindow(display, container);  // the video window goes with it
    else if (video)
      XDestroyWindow(display, video);
    XCloseDisplay(display);
  }

  void ReleaseShm() {
    if (!shm_image)
      return;
    XShmDetach(display, &shm);
    XSync(display, False);
    XDestroyImage(shm_image);  // frees the XImage only: its data is the segment
    shmdt(shm.shmaddr);
    shm_image = nullptr;
  }

  // An image in a shared segment of `width` x `height`, made again when the size changes; null
  // when the server cannot take one (then pictures go down the socket).
  XImage* ShmImage(int width, int height) {
    if (!shm_usable)
      return nullptr;
    if (shm_image && shm_image->width == width && shm_image->height == height)
      return shm_image;
    ReleaseShm();
    const int screen = DefaultScreen(display);
    XImage* image = XShmCreateImage(display, DefaultVisual(display, screen),
                                    unsigned(DefaultDepth(display, screen)), ZPixmap, nullptr,
                                    &shm, unsigned(width), unsigned(height));
    if (!image)
      return DisableShm();
    // Private to this user; removed at once, so it goes when both sides have let go of it.
    shm.shmid = shmget(IPC_PRIVATE, size_t(image->bytes_per_line) * size_t(height),
                       IPC_CREAT | 0600);
    shm.shmaddr = shm.shmid < 0 ? nullptr : static_cast<char*>(shmat(shm.shmid, nullptr, 0));
    if (shm.shmaddr == reinterpret_cast<char*>(-1))
      shm.shmaddr = nullptr;
    image->data = shm.shmaddr;
    shm.readOnly = False;
    x_error_seen = false;
    const bool attached = shm.shmaddr && XShmAttach(display, &shm);
    XSync(display, False);
    if (shm.shmid >= 0)
      shmctl(shm.shmid, IPC_RMID, nullptr);
    if (!attached || x_error_seen) {
      if (shm.shmaddr)
        shmdt(shm.shmaddr);
      image->data = nullptr;
      XDestroyImage(image);
      return DisableShm();
    }
    shm_image = image;
    return shm_image;
  }

  // Writes `picture` as 32-bit pixels (B, G, R, x, or R, G, B, x when the display takes that)
  // into rows of `stride` bytes at `to`: straight into the shared segment where there is one.
  bool Convert(const Picture& picture, uint8_t* to, int stride) {
    const GstVideoInfo from = PictureLayout(picture.width, picture.height, picture.colorimetry);
    if (picture.pixels.size() < GST_VIDEO_INFO_SIZE(&from))
      return false;
    if (!converter || !gst_video_info_is_equal(&from, &converted_from)) {
      if (converter)
        gst_video_converter_free(converter);
      const Visual* visual = DefaultVisual(display, DefaultScreen(display));
      const bool rgbx = direct && visual->red_mask == 0xff;
      converted_from = from;
      gst_video_info_set_format(&converted_to, rgbx ? GST_VIDEO_FORMAT_RGBx : GST_VIDEO_FORMAT_BGRx,
                                guint(picture.width), guint(picture.height));
      converter = gst_video_converter_new(
          &converted_from, &converted_to,
          gst_structure_new("config", GST_VIDEO_CONVERTER_OPT_DITHER_METHOD,
                            GST_TYPE_VIDEO_DITHER_METHOD, GST_VIDEO_DITHER_NONE,
                            GST_VIDEO_CONVERTER_OPT_THREADS, G_TYPE_UINT, 1u, nullptr));
      if (!converter)
        return false;
    }
    GstVideoInfo to_info = converted_to;
    GST_VIDEO_INFO_PLANE_STRIDE(&to_info, 0) = stride;
    GST_VIDEO_INFO_SIZE(&to_info) = size_t(stride) * size_t(picture.height);
    GstBuffer* in = gst_buffer_new_wrapped_full(
        GST_MEMORY_FLAG_READONLY, const_cast<uint8_t*>(picture.pixels.data()),
        picture.pixels.size(), 0, picture.pixels.size(), nullptr, nullptr);
    GstBuffer* out =
        gst_buffer_new_wrapped_full(GstMemoryFlags(0), to, GST_VIDEO_INFO_SIZE(&to_info), 0,
                                    GST_VIDEO_INFO_SIZE(&to_info), nullptr, nullptr);
    GstVideoFrame src, dst;
    bool done = false;
    if (gst_video_frame_map(&src, &converted_from, in, GST_MAP_READ)) {
      if (gst_video_frame_map(&dst, &to_info, out, GST_MAP_WRITE)) {
        gst_video_converter_frame(converter, &src, &dst);
        gst_video_frame_unmap(&dst);
        done = true;
      }
      gst_video_frame_unmap(&src);
    }
    gst_buffer_unref(in);
    gst_buffer_unref(out);
    return done;
  }

  XImage* DisableShm() {
    shm_usable = false;
    return nullptr;
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
  impl->shm_usable = XShmQueryExtension(display) && !std::getenv("QUORVEX_NO_SHM");
  impl->direct = TakesPicturesDirectly(display);
  XSync(display, False);
  return std::unique_ptr<VideoWindow>(new VideoWindow(std::move(impl)));
}

VideoWindow::VideoWindow(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

VideoWindow::~VideoWindow() = default;

uintptr_t VideoWindow::video_handle() const {
  return impl_->video;
}

void VideoWindow::Draw(const Picture& picture) {
  Impl& x = *impl_;
  if (picture.width <= 0 || picture.height <= 0)
    return;
  std::lock_guard lock(x.draw_mutex);
  const int screen = DefaultScreen(x.display);
  if (!x.pixmap || x.pixmap_width != picture.width || x.pixmap_height != picture.height) {
    if (x.pixmap)
      XFreePixmap(x.display, x.pixmap);
    x.pixmap = XCreatePixmap(x.display, x.video, unsigned(picture.width),
                             unsigned(picture.height), unsigned(DefaultDepth(x.display, screen)));
    x.pixmap_width = picture.width;
    x.pixmap_height = picture.height;
  }
  if (!x.gc)
    x.gc = XCreateGC(x.display, x.pixmap, 0, nullptr);
  // Pictures in the display's own layout go through shared memory where the server takes it.
  if (XImage* shared = x.direct ? x.ShmImage(picture.width, picture.height) : nullptr) {
    if (!x.Convert(picture, reinterpret_cast<uint8_t*>(shared->data), shared->bytes_per_line))
      return;
    XShmPutImage(x.display, x.pixmap, x.gc, shared, 0, 0, 0, 0, unsigned(picture.width),
                 unsigned(picture.height), False);
    Show(x);
    return;
  }
  x.unshared.resize(size_t(picture.width) * size_t(picture.height) * 4);
  if (!x.Convert(picture, x.unshared.data(), picture.width * 4))
    return;
  Visual* visual = DefaultVisual(x.display, screen);
  const unsigned depth = unsigned(DefaultDepth(x.display, screen));
  XImage* image = nullptr;
  if (x.direct) {
    image = XCreateImage(x.display, visual, depth, ZPixmap, 0,
                         reinterpret_cast<char*>(x.unshared.data()), unsigned(picture.width),
                         unsigned(picture.height), 32, picture.width * 4);
    if (!image)
      return;
  } else {
    // The pixels are B, G, R, x: each goes through the masks, in the image's own layout.
    image = XCreateImage(x.display, visual, depth, ZPixmap, 0, nullptr, unsigned(picture.width),
                         unsigned(picture.height), 32, 0);
    if (!image)
      return;
    image->data = static_cast<char*>(std::malloc(size_t(image->bytes_per_line) * size_t(picture.height)));
    if (!image->data) {
      XDestroyImage(image);
      return;
    }
    for (int row = 0; row < picture.height; ++row) {
      const uint8_t* p = x.unshared.data() + size_t(row) * size_t(picture.width) * 4;
      for (int column = 0; column < picture.width; ++column, p += 4) {
        XPutPixel(image, column, row,
                  Channel(p[2], visual->red_mask) | Channel(p[1], visual->green_mask) |
                      Channel(p[0], visual->blue_mask));
      }
    }
  }
  XPutImage(x.display, x.pixmap, x.gc, image, 0, 0, 0, 0, unsigned(picture.width),
            unsigned(picture.height));
  if (x.direct)
    image->data = nullptr;  // the window's, not Xlib's to free
  XDestroyImage(image);
  Show(x);
}

// The pixmap becomes the window's background: the X server repaints it by itself when the
// window is exposed. The sync also tells that the server has read the shared segment.
void VideoWindow::Show(Impl& x) {
  XSetWindowBackgroundPixmap(x.display, x.video, x.pixmap);
  XClearWindow(x.display, x.video);
  XSync(x.display, False);
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
