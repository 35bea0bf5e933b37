#pragma once

// The part of a movie's picture that its window shows, and how the wheel, a drag and the keys
// move it. Positions are fractions of the upright picture (the whole picture is 0, 0, 1, 1);
// the part keeps the picture's aspect ratio (the same fraction of its width and height), from
// the whole picture down to 1/kMaxScale of it. A value type, free of Qt.

#include <cstdint>

namespace quorvex {

class ZoomView {
 public:
  static constexpr double kNotch = 1.25;  // one notch of the wheel, one key press
  static constexpr double kMaxScale = 8;  // the most the picture is enlarged

  // The channel's form: left, top, width, height in `units` of the picture's width and height.
  struct Units {
    int32_t left = 0, top = 0, width = 0, height = 0;
  };

  // Enlarges by `factor` (below 1: shrinks), within 1x..kMaxScale, around the spot at
  // (`view_x`, `view_y`) of the part shown (fractions of it, held within 0..1): the same spot of
  // the picture stays there. False when nothing changed (at either end, or a factor or spot
  // that is not a finite number).
  bool ZoomAround(double factor, double view_x, double view_y);
  // Moves the part shown by (`dx`, `dy`) fractions of itself, stopping at the picture's edges.
  bool PanBy(double dx, double dy);
  void Reset() { *this = ZoomView(); }

  bool whole() const { return size_ == 1; }
  double scale() const { return 1 / size_; }
  double left() const { return left_; }
  double top() const { return top_; }
  double size() const { return size_; }  // the part's width and height, as fractions
  Units ToUnits(int32_t units) const;

 private:
  void HoldInside();

  double left_ = 0, top_ = 0, size_ = 1;
};

}  // namespace quorvex
