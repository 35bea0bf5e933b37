#pragma once

#include <QString>

class QWidget;

namespace quorvex::ui {

enum class MessageBoxButtons { kOk, kYesNo };
enum class MessageBoxIcon { kInformation, kWarning, kQuestion };
enum class DialogResult { kOk, kYes, kNo };

// Shows a modal message box over `owner` (may be null) and returns the button pressed. Closing
// the box without a button answers OK for an OK box and No for a Yes/No box. Runs a nested
// event loop: the caller must expect other events (timers, messages) to run meanwhile.
DialogResult ShowMessageBox(QWidget* owner, const QString& text, const QString& caption,
                            MessageBoxButtons buttons, MessageBoxIcon icon);

}  // namespace quorvex::ui
