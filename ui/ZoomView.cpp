#include "ui/ZoomView.h"

#include <algorithm>
#include <cmath>

namespace quorvex {

bool ZoomView::ZoomAround(double factor, double view_x, double view_y) {
  if (!std::isfinite(factor) || factor <= 0 || !std::isfinite(view_x) || !std::isfinite(view_y))
    return false;
  const ZoomView before = *this;
  view_x = std::clamp(view_x, 0.0, 1.0);
  view_y = std::clamp(view_y, 0.0, 1.0);
  const double spot_x = left_ + view_x * size_;
  const double spot_y = top_ + view_y * size_;
  size_ = std::clamp(size_ / factor, 1 / kMaxScale, 1.0);
  left_ = spot_x - view_x * size_;
  top_ = spot_y - view_y * size_;
  HoldInside();
  return left_ != before.left_ || top_ != before.top_ || size_ != before.size_;
}

bool ZoomView::PanBy(double dx, double dy) {
  if (!std::isfinite(dx) || !std::isfinite(dy))
    return false;
  const double left = left_, top = top_;
  left_ += dx * size_;
  top_ += dy * size_;
  HoldInside();
  return left_ != left || top_ != top;
}

void ZoomView::HoldInside() {
  left_ = std::clamp(left_, 0.0, 1 - size_);
  top_ = std::clamp(top_, 0.0, 1 - size_);
}

ZoomView::Units ZoomView::ToUnits(int32_t units) const {
  // The extent is rounded first and the corner then held so that the part ends inside.
  const auto round = [units](double fraction) { return int32_t(std::lround(fraction * units)); };
  Units u;
  u.width = u.height = std::clamp(round(size_), 1, units);
  u.left = std::clamp(round(left_), 0, units - u.width);
  u.top = std::clamp(round(top_), 0, units - u.height);
  return u;
}

}  // namespace quorvex
