#pragma once

#include <cstdint>
#include <vector>

namespace quorvex::test {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool IsBlack() const { return r < 16 && g < 16 && b < 16; }
};
inline Rgb ToRgb(uint32_t pixel) {
  return {uint8_t(pixel >> 16), uint8_t(pixel >> 8), uint8_t(pixel)};
}

// A plain mapped X window of this process on the test display ($DISPLAY), white: what a movie
// server or graph draws its video into in tests, standing in for the movie window's panel.
class XTestWindow {
 public:
  XTestWindow(int width, int height);
  ~XTestWindow();
  XTestWindow(const XTestWindow&) = delete;
  XTestWindow& operator=(const XTestWindow&) = delete;

  int32_t id() const { return int32_t(window_); }
  // 0x00RRGGBB of every pixel, row by row, as the X server has it now (children included).
  std::vector<uint32_t> Grab() const;
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  void* display_ = nullptr;
  unsigned long window_ = 0;
  int width_, height_;
};

}  // namespace quorvex::test
