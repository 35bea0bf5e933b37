#include "ui/SplitContainer.h"

#include <algorithm>

namespace quorvex {

SplitContainer::SplitContainer(QWidget* parent, QWidget* panel1)
    : QWidget(parent), panel1_(panel1 ? panel1 : new QWidget), panel2_(new QWidget(this)) {
  panel1_->setParent(this);
  Relayout();
}

int SplitContainer::SplitterDistance() const {
  return panel1_->height();
}

void SplitContainer::SetSplitterDistance(int distance) {
  distance = std::clamp(distance, 0, std::max(0, height() - kSplitterWidth));
  panel2_height_ = std::max(height() - distance - kSplitterWidth, panel2_min_);
  Relayout();
}

void SplitContainer::SetPanel2MinSize(int size) {
  panel2_min_ = std::max(0, size);
  panel2_height_ = std::max(panel2_height_, panel2_min_);
  Relayout();
}

void SplitContainer::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Relayout();
}

void SplitContainer::Relayout() {
  const int lower = std::min(panel2_height_, std::max(0, height() - kSplitterWidth));
  const int upper = std::max(0, height() - kSplitterWidth - lower);
  panel1_->setGeometry(0, 0, width(), upper);
  panel2_->setGeometry(0, upper + kSplitterWidth, width(), lower);
  panel2_->setVisible(lower > 0);
}

}  // namespace quorvex
