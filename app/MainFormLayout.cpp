// The arrangement of the movie windows: a grid of equal cells filling the area's client
// rectangle, with the column count that gives each picture the largest area.
#include <QAction>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMdiArea>

#include "app/MainForm.h"
#include "ui/ControlForm.h"
#include "ui/VideoForm.h"

namespace quorvex {

namespace {

// The trace of the client rectangle; on by default, QT_LOGGING_RULES="quorvex.layout=false"
// silences it.
Q_LOGGING_CATEGORY(kLayoutTrace, "quorvex.layout")

}  // namespace

QMdiArea* GetMdiClient(QWidget* window) {
  if (window == nullptr)
    return nullptr;
  const auto areas = window->findChildren<QMdiArea*>(Qt::FindDirectChildrenOnly);
  return areas.isEmpty() ? nullptr : areas.first();
}

void MainForm::AlignVideoForms() {
  QMdiArea* client = GetMdiClient(this);
  if (client == nullptr)
    return;
  // Sub-windows are placed relative to the viewport: it is the client area.
  QWidget* area = client->viewport();
  qCDebug(kLayoutTrace) << "client rectangle" << area->geometry();
  int32_t columns = 4;
  int32_t rows = 2;
  GetOptimizedLayout(area, columns, rows);
  size_t shaped_for = vfs_.size();
  // Twice: the first placement can change the client area (scroll bars come and go), and the
  // second pass fits the windows to what is left. The shape stays, unless the events processed
  // in between (a drop, a close) changed the set of windows: the old shape has no cell for a
  // new window.
  for (int pass = 0; pass < 2; ++pass) {
    if (vfs_.size() != shaped_for) {
      shaped_for = vfs_.size();
      columns = 4;
      rows = 2;
      GetOptimizedLayout(area, columns, rows);
    }
    const int w = area->width();
    const int h = area->height();
    for (size_t i = 0; i < vfs_.size(); ++i) {
      const int column = int(i) % columns;
      const int row = int(i) / columns;
      vfs_[i]->setGeometry((w / columns) * column, (h / rows) * row, w / columns, h / rows);
    }
    QCoreApplication::processEvents();
  }
}

void MainForm::GetOptimizedLayout(QWidget* client, int32_t& columns, int32_t& rows) {
  const int n = int(vfs_.size());
  const int w = client->width();
  const int h = client->height();
  int best = 0;
  for (int c = 1; c <= n; ++c) {
    const int r = (n + c - 1) / c;
    // The first movie's frame and aspect ratio stand for all.
    const int a = vfs_[0]->CalcActualVideoArea(w / c, h / r);
    if (a > best) {  // ties keep the fewer columns
      best = a;
      columns = c;
      rows = r;
    }
  }
}

void MainForm::align__Click() {
  AlignVideoForms();
}

void MainForm::auto_alignment__Click() {
  // The checkable item has flipped its own check mark; nothing is rearranged now.
}

void MainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FollowFrames();
  MainForm_SizeChanged();
}

void MainForm::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  FollowFrames();  // framing moves the window's inside
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == cf_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
    FollowFrames();
  return QMainWindow::eventFilter(watched, event);
}

void MainForm::MainForm_SizeChanged() {
  if (auto_alignment_->isChecked())
    AlignVideoForms();
}

}  // namespace quorvex
