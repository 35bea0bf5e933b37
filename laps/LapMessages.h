#pragma once

// The messages of the lap operations and of the lap file commands, and the two file commands'
// steps that tell the user of a failure. Each box is modal over `owner`'s window, carries that
// window's title as caption and an OK button, and runs a nested event loop until answered.
// UI thread only.

#include <QLocale>
#include <QString>

#include <optional>

#include "laps/LapFile.h"

class QWidget;

namespace quorvex::laps {

// "基準位置より前の位置をセットすることはできません。", information icon: a lap mark was refused
// because the first movie stands before its base.
void ShowBeforeBaseMessage(QWidget* owner);
// "ラップデータがありません。", warning icon: there is nothing to save.
void ShowNoLapDataMessage(QWidget* owner);
// "ﾌｧｲﾙの書き込みに失敗しました。" and the description on the next line, warning icon.
void ShowSaveFailedMessage(QWidget* owner, const QString& description);
// "ﾌｧｲﾙの読み込みに失敗しました。" and the description on the next line, warning icon.
void ShowLoadFailedMessage(QWidget* owner, const QString& description);

// Writes `file` to `path` (WriteLapFile); on failure shows the save-failure message. Returns
// whether the file was written.
bool SaveLapFile(QWidget* owner, const QString& path, const LapFile& file,
                 const QLocale& locale = QLocale::system());
// Reads and checks the whole file at `path` (ReadLapFile); on failure shows the load-failure
// message and returns nullopt. Changes nothing either way: the caller replaces its movies and
// lap lists only with a file returned here.
std::optional<LapFile> LoadLapFile(QWidget* owner, const QString& path,
                                   const QLocale& locale = QLocale::system());

}  // namespace quorvex::laps
