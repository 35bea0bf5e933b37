#pragma once

// An X window of the test process, standing in for the user interface's video panel, and a
// way to read back what is shown in it. Xlib stays in TestWindow.cpp.

#include <cstdint>
#include <vector>

namespace quorvex::test {

// Makes Xlib thread-safe; call before any Xlib or GStreamer use in the process (a TestWindow
// does so itself).
void InitXThreads();

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool IsBlack() const { return r < 16 && g < 16 && b < 16; }
  bool operator==(const Rgb&) const = default;
};

class TestWindow {
 public:
  // A mapped top-level window with a white background; ok() is false without a display.
  // At `x` on the screen's top edge: windows that overlap hide each other's pictures.
  TestWindow(int width, int height, int x = 0);
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  bool ok() const { return display_ != nullptr; }
  int32_t id() const { return int32_t(window_); }
  int width() const { return width_; }
  int height() const { return height_; }

  // What the screen shows in the window (children included), row by row.
  std::vector<Rgb> Grab() const;

 private:
  void* display_ = nullptr;  // Display*
  unsigned long window_ = 0;
  int width_, height_;
};

}  // namespace quorvex::test
