#include "platform/ui/MenuMerge.h"

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>

namespace quorvex::ui {

MenuStripHost* FindMenuStripHost(QMdiSubWindow* window) {
  if (window == nullptr)
    return nullptr;
  if (auto* host = dynamic_cast<MenuStripHost*>(window))
    return host;
  return dynamic_cast<MenuStripHost*>(window->widget());
}

MdiMenuMerger::MdiMenuMerger(QMenuBar* bar, QMdiArea* area)
    : QObject(area), bar_(bar), area_(area) {
  connect(area, &QMdiArea::subWindowActivated, this, &MdiMenuMerger::SubWindowActivated);
}

void MdiMenuMerger::SubWindowActivated(QMdiSubWindow* window) {
  // The area reports no active child while the whole application is inactive, e.g. while the
  // user works in an owned tool window. The current child is still the one the user works
  // with, so its menus stay; they go only when no child is current any more.
  if (window == nullptr)
    window = area_->currentSubWindow();
  if (window != nullptr && !area_->subWindowList().contains(window))
    window = nullptr;
  if (window == child_ && window != nullptr)
    return;
  Unmerge();
  Merge(window);
}

void MdiMenuMerger::Merge(QMdiSubWindow* window) {
  MenuStripHost* host = FindMenuStripHost(window);
  QMenuBar* strip = host ? host->MainMenuStrip() : nullptr;
  if (strip == nullptr)
    return;
  child_ = window;
  for (QAction* action : strip->actions()) {
    bar_->addAction(action);
    merged_.append(action);
  }
  // A child that goes away while merged takes its menus along.
  child_destroyed_ = connect(window, &QObject::destroyed, this, &MdiMenuMerger::Unmerge);
}

void MdiMenuMerger::Unmerge() {
  for (const QPointer<QAction>& action : merged_) {
    if (action)
      bar_->removeAction(action);
  }
  merged_.clear();
  disconnect(child_destroyed_);
  child_ = nullptr;
}

}  // namespace quorvex::ui
