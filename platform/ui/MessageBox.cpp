#include "platform/ui/MessageBox.h"

#include <QMessageBox>

namespace quorvex::ui {

namespace {

QMessageBox::Icon ToQt(MessageBoxIcon icon) {
  switch (icon) {
    case MessageBoxIcon::kInformation:
      return QMessageBox::Information;
    case MessageBoxIcon::kWarning:
      return QMessageBox::Warning;
    case MessageBoxIcon::kQuestion:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

DialogResult ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                            MessageBoxButtons buttons, MessageBoxIcon icon) {
  QMessageBox box(ToQt(icon), caption, text, QMessageBox::NoButton, owner);
  if (buttons == MessageBoxButtons::kYesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
  }
  const int answer = box.exec();
  if (buttons == MessageBoxButtons::kOk)
    return DialogResult::kOk;
  return answer == QMessageBox::Yes ? DialogResult::kYes : DialogResult::kNo;
}

}  // namespace quorvex::ui
