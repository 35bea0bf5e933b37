#include "laps/LapMessages.h"

#include <QWidget>

#include "laps/Log.h"
#include "platform/ui/MessageBox.h"

namespace quorvex::laps {

namespace {

void Show(QWidget* owner, const QString& text, ui::MessageBoxIcon icon) {
  QWidget* window = owner ? owner->window() : nullptr;
  const QString caption = window ? window->windowTitle() : QString();
  ui::ShowMessageBox(window, text, caption, ui::MessageBoxButtons::kOk, icon);
}

}  // namespace

void ShowBeforeBaseMessage(QWidget* owner) {
  Show(owner, QStringLiteral("基準位置より前の位置をセットすることはできません。"),
       ui::MessageBoxIcon::kInformation);
}

void ShowNoLapDataMessage(QWidget* owner) {
  Show(owner, QStringLiteral("ラップデータがありません。"), ui::MessageBoxIcon::kWarning);
}

void ShowSaveFailedMessage(QWidget* owner, const QString& description) {
  Show(owner, QStringLiteral("ﾌｧｲﾙの書き込みに失敗しました。\n") + description,
       ui::MessageBoxIcon::kWarning);
}

void ShowLoadFailedMessage(QWidget* owner, const QString& description) {
  Show(owner, QStringLiteral("ﾌｧｲﾙの読み込みに失敗しました。\n") + description,
       ui::MessageBoxIcon::kWarning);
}

bool SaveLapFile(QWidget* owner, const QString& path, const LapFile& file, const QLocale& locale) {
  const std::optional<QString> error = WriteLapFile(path, file, locale);
  if (error) {
    qCWarning(LapLog).noquote() << "lap file" << path << "not saved:" << *error;
    ShowSaveFailedMessage(owner, *error);
  }
  return !error;
}

std::optional<LapFile> LoadLapFile(QWidget* owner, const QString& path, const QLocale& locale) {
  LapFileReadResult result = ReadLapFile(path, locale);
  if (!result.file) {
    qCWarning(LapLog).noquote() << "lap file" << path << "not loaded:" << result.error;
    ShowLoadFailedMessage(owner, result.error);
  }
  return std::move(result.file);
}

}  // namespace quorvex::laps
