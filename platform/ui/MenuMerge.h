#pragma once

#include <QAction>
#include <QList>
#include <QMdiSubWindow>
#include <QObject>
#include <QPointer>

class QMdiArea;
class QMenuBar;

namespace quorvex::ui {

// A child window of a multiple-document area that has a main menu strip of its own. The strip
// itself stays hidden; its top-level menus join the container's menu bar while the child is
// the area's current child.
class MenuStripHost {
 public:
  virtual QMenuBar* MainMenuStrip() const = 0;

 protected:
  ~MenuStripHost() = default;
};

// Merges the menus of the current child of `area` into `bar`, after the bar's own menus, in the
// strip's order (children append; no merge order is honoured). The menus are shared, not
// copied: their check marks and handlers stay the child's. Owned by the area (QObject parent);
// `bar` must outlive it. UI thread only.
class MdiMenuMerger : public QObject {
  Q_OBJECT
 public:
  MdiMenuMerger(QMenuBar* bar, QMdiArea* area);

  // The child whose menus are merged now, or null.
  QMdiSubWindow* merged_child() const { return child_; }

 private:
  void SubWindowActivated(QMdiSubWindow* window);
  void Merge(QMdiSubWindow* window);
  void Unmerge();

  QMenuBar* bar_;
  QMdiArea* area_;
  QPointer<QMdiSubWindow> child_;
  QMetaObject::Connection child_destroyed_;
  QList<QPointer<QAction>> merged_;
};

// The host of `window` (the sub-window itself or its widget), or null.
MenuStripHost* FindMenuStripHost(QMdiSubWindow* window);

}  // namespace quorvex::ui
