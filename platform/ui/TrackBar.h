#pragma once

#include <QSlider>

namespace quorvex::ui {

// A slider that reports the user's moves and mouse clicks as separate events, as a track bar
// does. `Scroll` follows every move the user makes (dragging, paging, arrow keys, wheel), with
// the new value already in place, never a programmatic setValue. `Click` follows a left-button
// release of a press inside the bar, with the pointer's x in pixels from the bar's left edge. A
// press beside the handle does not page: the click handler decides where the bar goes. UI thread
// only.
class TrackBar : public QSlider {
  Q_OBJECT

 public:
  explicit TrackBar(Qt::Orientation orientation, QWidget* parent = nullptr);

 signals:
  void Scroll();
  void Click(int x);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool OnHandle(const QPoint& pos) const;

  bool pressed_ = false;  // a left press inside the bar awaits its release
};

}  // namespace quorvex::ui
