#pragma once

// Answers the modal windows (message boxes, file dialogs) that a test's action opens. The action
// runs a nested event loop while the modal window is up; the watcher's timer runs inside it.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

namespace quorvex::test {

// What a message box showed.
struct SeenBox {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
};

// Calls `handler` once for each modal window that becomes active while the watcher lives. A
// handler must close the window (or the test hangs in its nested loop until the time limit,
// when the watcher rejects it itself and counts it in `unanswered`).
class ModalWatcher : public QObject {
 public:
  using Handler = std::function<void(QWidget*)>;

  explicit ModalWatcher(Handler handler) : handler_(std::move(handler)) {
    connect(&timer_, &QTimer::timeout, this, &ModalWatcher::Poll);
    timer_.start(10);
  }

  // Answers every message box with `button` and records it.
  static ModalWatcher* AnsweringBoxes(QMessageBox::StandardButton button,
                                      std::vector<SeenBox>* seen) {
    return new ModalWatcher([button, seen](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr)
        return;
      seen->push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
      QAbstractButton* b = box->button(button);
      if (b != nullptr) {
        b->click();
      } else {
        box->reject();
      }
    });
  }

  int handled() const { return handled_; }
  int unanswered() const { return unanswered_; }

 private:
  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
      last_ = nullptr;
      waited_ticks_ = 0;
      return;
    }
    if (modal != last_) {
      last_ = modal;
      waited_ticks_ = 0;
      ++handled_;
      handler_(modal);
      return;
    }
    // The same window still up after 20 s: the handler did not close it.
    if (++waited_ticks_ > 2000) {
      ++unanswered_;
      if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
      } else {
        modal->close();
      }
    }
  }

  Handler handler_;
  QTimer timer_;
  QPointer<QWidget> last_;
  int waited_ticks_ = 0;
  int handled_ = 0;
  int unanswered_ = 0;
};

}  // namespace quorvex::test
