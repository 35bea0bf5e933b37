#pragma once

// The zoom's test movie, quadrants.mp4 (tests/fixtures): red, green, blue and yellow quadrants,
// and a patch of 8-pixel red and green checkers in the yellow one, as a window shows it.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/XTestWindow.h"

namespace quorvex::test {

// The patch of checkers, in fractions of the picture: the part a 4x zoom onto it shows.
inline constexpr double kCheckersLeft = 800.0 / 1280, kCheckersTop = 450.0 / 720;
inline constexpr double kCheckersSize = 0.25;

// The quadrant colour of a 0x00RRGGBB pixel as a letter (r, g, b, y), '?' for anything else.
inline char QuadrantColour(uint32_t pixel) {
  const Rgb c = ToRgb(pixel);
  const auto high = [](uint8_t v) { return v > 200; };
  const auto low = [](uint8_t v) { return v < 60; };
  if (high(c.r) && low(c.b))
    return high(c.g) ? 'y' : low(c.g) ? 'r' : '?';
  if (low(c.r) && low(c.g) && high(c.b))
    return 'b';
  if (low(c.r) && high(c.g) && low(c.b))
    return 'g';
  return '?';
}

// The colours near the four corners of a picture of `width` x `height` pixels, row by row:
// top left, top right, bottom left, bottom right (the last clear of the checkers when the whole
// picture is shown). "rgby" is the whole picture, "rrrr" its red quadrant filling the window.
template <typename PixelAt>
std::string Corners(int width, int height, PixelAt pixel_at) {
  std::string colours;
  for (const auto& [x, y] : {std::pair{0.15, 0.15}, {0.85, 0.15}, {0.15, 0.85}, {0.92, 0.92}})
    colours += QuadrantColour(pixel_at(int(x * width), int(y * height)));
  return colours;
}

inline std::string Corners(const XTestWindow& window, int width = 0, int height = 0) {
  const std::vector<uint32_t> pixels = window.Grab();
  return Corners(
      width ? width : window.width(), height ? height : window.height(),
      [&](int x, int y) { return pixels[size_t(y) * size_t(window.width()) + size_t(x)]; });
}

}  // namespace quorvex::test
