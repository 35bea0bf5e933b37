#pragma once

// The part of an upright decoded picture that is shown: a rectangle in fractions of the
// picture's width and height. The whole picture is 0, 0, 1, 1. A value type; the graph keeps one
// per movie and hands copies to whoever makes pictures. Free of GStreamer.

#include <cstdint>

namespace quorvex::media {

struct Crop {
  double left = 0, top = 0, width = 1, height = 1;

  bool whole() const { return left == 0 && top == 0 && width == 1 && height == 1; }
  bool operator==(const Crop&) const = default;

  // The rectangle in pixels of a picture of `picture_width` x `picture_height`: edges rounded to
  // the nearest pixel and held inside the picture, at least one pixel each way.
  struct Pixels {
    int32_t x = 0, y = 0, width = 0, height = 0;
    bool operator==(const Pixels&) const = default;
  };
  Pixels InPixels(int32_t picture_width, int32_t picture_height) const;
};

}  // namespace quorvex::media
