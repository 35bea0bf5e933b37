#include "app/MainForm.h"

namespace quorvex {

MainForm::MainForm(const QStringList& files, QWidget* parent) : QMainWindow(parent), files_(files) {
  setWindowTitle("Quorvex");
  resize(1024, 480);
}

}  // namespace quorvex
