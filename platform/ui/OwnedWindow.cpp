#include "platform/ui/OwnedWindow.h"

#include <QCloseEvent>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

namespace quorvex::ui {

namespace {

// A dynamic property of the container, not a global: every container answers for itself.
constexpr char kClosingProperty[] = "quorvex_container_closing";

bool IsMarkedClosing(const QWidget* w) {
  return w->property(kClosingProperty).toBool();
}

}  // namespace

ContainerClosingScope::ContainerClosingScope(QWidget* container)
    : container_(container), was_closing_(IsMarkedClosing(container)) {
  container_->setProperty(kClosingProperty, true);
}

ContainerClosingScope::~ContainerClosingScope() {
  container_->setProperty(kClosingProperty, was_closing_);
}

CloseReason ClosingReason(const QWidget* window) {
  for (const QWidget* w = window->parentWidget(); w != nullptr; w = w->parentWidget()) {
    if (IsMarkedClosing(w))
      return CloseReason::kContainerClosing;
  }
  return CloseReason::kUserClosing;
}

void MakeOwnedToolWindow(QWidget* window, QWidget* owner) {
  // A Qt::Tool window with a parent is transient for it: the window manager keeps it above
  // the owner and gives it no task-bar entry.
  window->setParent(owner, window->windowFlags() | Qt::Tool);
}

void DisableCloseButton(QWidget* window) {
  Qt::WindowFlags flags = window->windowFlags();
  flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  flags &= ~Qt::WindowCloseButtonHint;
  window->setWindowFlags(flags);
}

void CloseOwnedWindows(QWidget* owner) {
  const QList<QWidget*> children = owner->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) {
    if (child->isWindow() && child->isVisible())
      child->close();
  }
}

bool RedirectUserCloseToOwner(QWidget* window, QCloseEvent* event) {
  if (ClosingReason(window) == CloseReason::kContainerClosing)
    return false;
  event->ignore();
  // Deferred: the owner's closing closes this window too, which must not run inside this
  // window's own close event.
  QPointer<QWidget> owner = window->parentWidget();
  if (owner) {
    QMetaObject::invokeMethod(
        owner,
        [owner] {
          if (owner)
            owner->close();
        },
        Qt::QueuedConnection);
  }
  return true;
}

}  // namespace quorvex::ui
