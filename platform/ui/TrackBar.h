#pragma once

#include <QSlider>

namespace quorvex::ui {

// A slider that reports the user's moves and mouse clicks as separate events, as a track bar
// does. `Scroll` follows every move the user makes (dragging, paging, arrow keys, wheel), with
// the new value already in place, never a programmatic setValue. A press beside the handle pages
// toward the pointer, as on any slider (kPages); or (kReportsClicks) it does not page and, with
// its left-button release, `Click` reports the pointer's x in pixels from the bar's left edge, so
// that the click handler decides where the bar goes. UI thread only.
class TrackBar : public QSlider {
  Q_OBJECT

 public:
  enum class Clicks { kPages, kReportsClicks };
  explicit TrackBar(Qt::Orientation orientation, Clicks clicks, QWidget* parent = nullptr);

 signals:
  void Scroll();
  void Click(int x);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool OnHandle(const QPoint& pos) const;

  const Clicks clicks_;
  bool pressed_ = false;  // a left press inside the bar awaits its release
};

}  // namespace quorvex::ui
