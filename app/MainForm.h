#pragma once

#include <QMainWindow>
#include <QStringList>

namespace quorvex {

// The user-interface role's main window.
class MainForm : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainForm(const QStringList& files, QWidget* parent = nullptr);

 private:
  QStringList files_;
};

}  // namespace quorvex
