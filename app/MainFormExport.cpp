// "比較動画を書き出す...": the comparison as one movie, written by this program's export role in
// a child process from a lap file of the movies and laps as they are now.
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>

#include <algorithm>

#include "app/ExportDialog.h"
#include "app/Log.h"
#include "app/MainForm.h"
#include "hosting/Channel.h"
#include "laps/LapFile.h"
#include "laps/LapForm.h"
#include "laps/LapMessages.h"
#include "ui/ControlForm.h"
#include "ui/VideoForm.h"

namespace quorvex {

void MainForm::export_movie__Click() {
  if (!time_list_.HasLapData()) {
    laps::ShowNoLapDataMessage(this);
    return;
  }
  laps::LapFile file;
  QStringList names;
  for (VideoForm* vf : vfs_) {
    file.file_names << vf->GetFileName();
    names << QFileInfo(vf->GetFileName()).fileName();
  }
  file.time_list = time_list_.time_list();
  const int base = laps::ClampBaseMovieIndex(lf_->base_movie_index(), int(vfs_.size()));
  // The panel's rates are 1/1, 1/2, ... 1/16 in this order.
  const double rate = 1.0 / double(1 << std::clamp(cf_->play_rate()->currentIndex(), 0, 4));
  ExportDialog dialog(names, base, rate, this);
  if (dialog.exec() != QDialog::Accepted)
    return;
  QFileDialog save(this, QStringLiteral("比較動画を書き出す"));
  save.setAcceptMode(QFileDialog::AcceptSave);
  save.setDefaultSuffix(QStringLiteral("mp4"));
  save.setNameFilters({QStringLiteral("MP4 (*.mp4)"), QStringLiteral("すべてのﾌｧｲﾙ (*)")});
  save.setObjectName(QStringLiteral("export_file_dialog"));
  if (save.exec() != QDialog::Accepted || save.selectedFiles().isEmpty())
    return;
  QByteArray bytes;
  try {
    bytes = laps::LapFileBytes(file);
  } catch (const laps::LapFileError& error) {
    qCWarning(AppLog).noquote() << "export: the lap table cannot be written:"
                                << error.description();
    laps::ShowSaveFailedMessage(this, error.description());
    return;
  }
  const QString program = options_.server_path.empty()
                              ? QCoreApplication::applicationFilePath()
                              : QString::fromStdString(options_.server_path);
  auto* run = new ExportRun(this, program);
  run->setObjectName(QStringLiteral("export_run"));
  // Each movie as it is shown: a zoomed one exports only its part.
  QStringList arguments = dialog.Arguments();
  for (size_t i = 0; i < vfs_.size(); ++i) {
    if (vfs_[i]->zoom().whole())
      continue;
    const ZoomView::Units u = vfs_[i]->zoom().ToUnits(channel::kZoomUnits);
    arguments << QStringLiteral("--zoom")
              << QStringLiteral("%1:%2,%3,%4,%5")
                     .arg(i + 1)
                     .arg(u.left)
                     .arg(u.top)
                     .arg(u.width)
                     .arg(u.height);
  }
  if (!run->Start(save.selectedFiles().first(), bytes, arguments))
    delete run;
}

}  // namespace quorvex
