#include "platform/ui/TrackBar.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

namespace quorvex::ui {

TrackBar::TrackBar(Qt::Orientation orientation, Clicks clicks, QWidget* parent)
    : QSlider(orientation, parent), clicks_(clicks) {
  setTickPosition(QSlider::NoTicks);
  // actionTriggered comes before the slider takes the new position as its value; taking it
  // here first makes the value current for the handlers (the slider's own setValue that
  // follows is then a no-op).
  connect(this, &QAbstractSlider::actionTriggered, this, [this] {
    setValue(sliderPosition());
    emit Scroll();
  });
}

bool TrackBar::OnHandle(const QPoint& pos) const {
  QStyleOptionSlider option;
  initStyleOption(&option);
  const QRect handle =
      style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
  return handle.contains(pos);
}

void TrackBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || clicks_ == Clicks::kPages) {
    QSlider::mousePressEvent(event);
    return;
  }
  pressed_ = true;
  if (OnHandle(event->position().toPoint())) {
    QSlider::mousePressEvent(event);  // dragging the handle scrolls
  } else {
    event->accept();
  }
}

void TrackBar::mouseReleaseEvent(QMouseEvent* event) {
  QSlider::mouseReleaseEvent(event);
  if (event->button() != Qt::LeftButton || !pressed_)
    return;
  pressed_ = false;
  emit Click(int(event->position().x()));
}

}  // namespace quorvex::ui
