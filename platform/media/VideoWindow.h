#pragma once

// The X11 windows that the graph's video sink draws into, shown inside a window of another
// process. Xlib stays inside VideoWindow.cpp (its macros clash with other headers).
//
// Layout once owned: owner (foreign) > container (black, the owner's size) > video window at
// (left, top, width, height). Before an owner is set, the video window exists unmapped under
// the root window, so the sink never opens a top-level window of its own.
//
// Needs XInitThreads() before any Xlib or GStreamer call in the process (pictures are drawn
// from GStreamer's threads). Used on the owner's thread, but for Draw.

#include <cstdint>
#include <memory>

#include "platform/media/Picture.h"

namespace quorvex::media {

class VideoWindow {
 public:
  // Opens a connection to the default display; nullptr when there is none.
  static std::unique_ptr<VideoWindow> Open();
  ~VideoWindow();
  VideoWindow(const VideoWindow&) = delete;
  VideoWindow& operator=(const VideoWindow&) = delete;

  // The X window id of the video window.
  uintptr_t video_handle() const;

  // Shows `picture` in the video window, its I420 turned into the display's pixels, and returns
  // once the X server has it. Nothing is drawn for a picture with fewer bytes than its layout
  // (PictureMaker.h) needs. Any thread; calls are serialised. The picture becomes the window's background, so the X server itself
  // repaints it when the window is exposed again.
  void Draw(const Picture& picture);

  // Makes the video a child of the X window `owner` (any process's): a black container the
  // owner's size is created inside it and the video window is placed into that container at
  // its current position. `owner` 0 takes the video out of any owner. False when `owner` is
  // not an existing window.
  bool SetOwner(int32_t owner);
  int32_t owner() const { return owner_; }

  // Places the video window inside the container; sizes are at least 1 pixel. The container
  // follows the owner's current size.
  void SetPosition(int32_t left, int32_t top, int32_t width, int32_t height);

 private:
  struct Impl;
  explicit VideoWindow(std::unique_ptr<Impl> impl);
  static void Show(Impl& x);

  std::unique_ptr<Impl> impl_;
  int32_t owner_ = 0;
};

}  // namespace quorvex::media
