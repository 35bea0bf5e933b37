// The video window's colours where pictures cannot go through shared memory as they are: a
// private X server of depth 16 (5-6-5), one of depth 30 (10 bits a channel), and one of depth 24
// that the window may not share memory with (a remote display) each gets a picture of known
// colours, and what the X server holds is read back through its masks.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/media/PictureMaker.h"
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

// A picture as the graph makes them (I420) from 32-bit B, G, R, x pixels given by `at`.
template <typename At>
Picture FromBgrx(int width, int height, At at) {
  gst_init(nullptr, nullptr);
  GstVideoInfo bgrx;
  gst_video_info_set_format(&bgrx, GST_VIDEO_FORMAT_BGRx, guint(width), guint(height));
  GstBuffer* in = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&bgrx), nullptr);
  GstVideoFrame frame;
  gst_video_frame_map(&frame, &bgrx, in, GST_MAP_WRITE);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const auto pixel = at(x, y);
      std::copy(pixel.begin(), pixel.end(),
                static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                    y * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0) + 4 * x);
    }
  gst_video_frame_unmap(&frame);
  GstCaps* caps = gst_video_info_to_caps(&bgrx);
  GstSample* sample = gst_sample_new(in, caps, nullptr, nullptr);
  Picture picture = *PictureMaker().Make(sample, width, height);
  gst_sample_unref(sample);
  gst_caps_unref(caps);
  gst_buffer_unref(in);
  return picture;
}

TEST(VideoWindow, ColoursFollowTheVisualsMasksWithoutSharedMemory) {
  const char* kept = std::getenv("DISPLAY");
  const std::string restore = kept ? kept : "";
  for (const int depth : {16, 30, 24}) {
    SCOPED_TRACE(depth);
    PrivateDisplay server(depth);
    if (server.name.empty())
      GTEST_SKIP() << "no Xvfb of depth " << depth;
    setenv("DISPLAY", server.name.c_str(), 1);
    if (depth == 24)
      setenv("QUORVEX_NO_SHM", "1", 1);
    std::unique_ptr<VideoWindow> window = VideoWindow::Open();
    unsetenv("QUORVEX_NO_SHM");
    ASSERT_TRUE(window);
    // Four colours in blocks of 4 x 2 pixels, so that each has chroma of its own in the I420
    // that pictures are made of; the way through YUV and a 5-bit channel costs a few steps.
    const unsigned colours[4][3] = {
        {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {200, 100, 50}};  // r, g, b
    Picture picture = FromBgrx(16, 2, [&](int x, int) {
      const unsigned* c = colours[x / 4];
      return std::array<uint8_t, 4>{uint8_t(c[2]), uint8_t(c[1]), uint8_t(c[0]), 0};
    });
    window->Draw(picture);
    // The picture is the window's background: cleared, the window shows it.
    Display* display = XOpenDisplay(server.name.c_str());
    ASSERT_NE(display, nullptr);
    const Window video = Window(window->video_handle());
    XMapWindow(display, video);
    XMoveResizeWindow(display, video, 0, 0, 16, 2);
    XClearWindow(display, video);
    XSync(display, False);
    XImage* image = XGetImage(display, video, 0, 0, 16, 2, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, depth);
    const Visual* visual = DefaultVisual(display, DefaultScreen(display));
    for (int i = 0; i < 4; ++i) {
      const unsigned long pixel = XGetPixel(image, 4 * i + 1, 1);
      const unsigned got[3] = {Channel(pixel, visual->red_mask), Channel(pixel, visual->green_mask),
                               Channel(pixel, visual->blue_mask)};
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(got[c], colours[i][c], 10) << "pixel " << i << " channel " << c;
    }
    XDestroyImage(image);
    XCloseDisplay(display);
    window.reset();
  }
  restore.empty() ? unsetenv("DISPLAY") : setenv("DISPLAY", restore.c_str(), 1);
}

}  // namespace
}  // namespace quorvex::media
