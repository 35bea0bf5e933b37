#pragma once

class QCloseEvent;
class QWidget;

namespace quorvex::ui {

// Why a window is closing.
enum class CloseReason {
  kUserClosing,       // on its own account: the user, or the program asking it to close
  kContainerClosing,  // its owner or its multiple-document container is closing
};

// Marks `container` (a top-level window that owns tool windows or child windows) as closing for
// the lifetime of the scope, so that the windows it closes in the meantime can tell that they
// close because of it. UI thread only; `container` must outlive the scope.
class ContainerClosingScope {
 public:
  explicit ContainerClosingScope(QWidget* container);
  ~ContainerClosingScope();
  ContainerClosingScope(const ContainerClosingScope&) = delete;
  ContainerClosingScope& operator=(const ContainerClosingScope&) = delete;

 private:
  QWidget* container_;
  bool was_closing_;
};

// The reason for which `window` closes now: container closing when any of its ancestors (its
// owner, or the window holding its multiple-document area) is inside a ContainerClosingScope.
CloseReason ClosingReason(const QWidget* window);

// Makes `window` a top-level tool window owned by `owner`: it stays above the owner, has no
// task-bar button and is deleted with it (it becomes the owner's QObject child).
void MakeOwnedToolWindow(QWidget* window, QWidget* owner);

// Greys the window's close box and system-menu close item: the window manager is told that the
// window cannot be closed. Keeps the other window flags. Call before the window is shown.
void DisableCloseButton(QWidget* window);

// Closes every visible top-level window owned by `owner` (its QObject children that are
// windows). Call inside a ContainerClosingScope, so that they see the container-closing reason.
void CloseOwnedWindows(QWidget* owner);

// The closing event of an owned window that the user may not close alone: a close request for
// the user's reason (window manager, Alt+F4, close()) is cancelled and the owner is asked to
// close once the current event is over; for the container-closing reason the window closes.
// Returns whether the request was redirected.
bool RedirectUserCloseToOwner(QWidget* window, QCloseEvent* event);

}  // namespace quorvex::ui
