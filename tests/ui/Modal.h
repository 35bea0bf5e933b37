#pragma once

// Answers the modal windows (message boxes, file dialogs) that a test's action opens. The action
// runs a nested event loop while the modal window is up; the watcher's timer runs inside it.
// Also the drags and drops a user makes.

#include <QAbstractButton>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <ostream>
#include <vector>

namespace quorvex::test {

// What a message box showed.
struct SeenBox {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  bool operator==(const SeenBox&) const = default;
};

inline void PrintTo(const SeenBox& b, std::ostream* os) {
  *os << b.caption.toStdString() << ": " << b.text.toStdString() << ", icon " << b.icon;
}

// Calls `handler` once for each modal window that becomes active while the watcher lives. A
// handler must close the window; one still up after 20 s is rejected by the watcher, so that a
// test fails instead of hanging in its nested loop.
class ModalWatcher : public QObject {
 public:
  using Handler = std::function<void(QWidget*)>;

  explicit ModalWatcher(Handler handler) : handler_(std::move(handler)) {
    connect(&timer_, &QTimer::timeout, this, &ModalWatcher::Poll);
    timer_.start(10);
  }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != last_) {
      last_ = modal;
      waited_ticks_ = 0;
      if (modal != nullptr)
        handler_(modal);
    } else if (modal != nullptr && ++waited_ticks_ > 2000) {
      modal->close();  // a dialog closed is rejected
    }
  }

  Handler handler_;
  QTimer timer_;
  QPointer<QWidget> last_;
  int waited_ticks_ = 0;
};

// Answers every message box with `button` (closes it when it has no such button) while it lives,
// and records what each one showed.
class BoxAnswerer : public ModalWatcher {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton button)
      : ModalWatcher([this, button](QWidget* w) {
          auto* box = qobject_cast<QMessageBox*>(w);
          if (box == nullptr)
            return;
          seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
          QAbstractButton* b = box->button(button);
          b != nullptr ? b->click() : box->reject();
        }) {}

  std::vector<SeenBox> seen;
};

// Drags `data` over `target` and, with `drop`, drops it there: whether the last event was taken
// (an entering drag only as a copy).
inline bool DragOver(QWidget* target, const QMimeData* data, bool drop = false) {
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!drop)
    return enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
  QDropEvent event(QPointF(20, 20), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
  return event.isAccepted();
}

}  // namespace quorvex::test
