// The lap operations of the main window and its lap-file commands: the lists live in a LapModel,
// the positions come from the movie windows, the lap table shows the result.
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>

#include "app/Log.h"
#include "app/MainForm.h"
#include "laps/LapFile.h"
#include "laps/LapForm.h"
#include "laps/LapMessages.h"
#include "laps/LapTableText.h"
#include "ui/VideoForm.h"

namespace quorvex {

laps::PositionReader MainForm::Positions() {
  return [this](int movie) { return vfs_[size_t(movie)]->GetCurrentPosition(); };
}

void MainForm::ClearTime() {
  time_list_.ClearTime();
  for (VideoForm* vf : vfs_)
    vf->SetBaseTime(0.0);
  lf_->ClearRows();
}

void MainForm::SetBaseTime() {
  if (vfs_.empty())
    return;
  for (VideoForm* vf : vfs_) {
    if (!vf->IsValid())
      return;  // silently: the window without a movie says so itself
  }
  ClearTime();
  if (!time_list_.SetBaseTime(Positions()))
    return;
  for (size_t i = 0; i < vfs_.size(); ++i)
    vfs_[i]->SetBaseTime(time_list_.time_list()[i][0]);
  lf_->AddRow();
  lf_->SetDataGridView(time_list_.time_list());
}

void MainForm::AddTime() {
  if (vfs_.empty())
    return;
  for (VideoForm* vf : vfs_) {
    if (!vf->IsValid())
      return;
  }
  switch (time_list_.AddTime(Positions())) {
    case laps::LapModel::AddResult::kAdded:
      lf_->AddRow();
      lf_->SetDataGridView(time_list_.time_list());
      break;
    case laps::LapModel::AddResult::kBeforeBase:
      laps::ShowBeforeBaseMessage(this);
      break;
    case laps::LapModel::AddResult::kNoBase:
      break;
  }
}

int32_t MainForm::GetCountTime() {
  return time_list_.GetCountRow();
}

void MainForm::SetBaseMovieIndex(int32_t index) {
  lf_->SetBaseMovieIndex(index);
  lf_->SetDataGridView(time_list_.time_list());
}

void MainForm::RowSelected(int32_t row) {
  const std::vector<double> positions = time_list_.RowPositions(row);
  for (size_t i = 0; i < positions.size() && i < vfs_.size(); ++i)
    vfs_[i]->SetCurrentPosition(positions[i]);
}

void MainForm::RemoveRow(int32_t row) {
  time_list_.RemoveRow(row);
}

int32_t MainForm::GetCountRow() {
  return time_list_.GetCountRow();
}

void MainForm::SetDataGridView() {
  lf_->SetDataGridView(time_list_.time_list());
}

void MainForm::save_lap__Click() {
  if (!time_list_.HasLapData()) {
    laps::ShowNoLapDataMessage(this);
    return;
  }
  if (saveFileDialog->exec() != QDialog::Accepted || saveFileDialog->selectedFiles().isEmpty())
    return;
  laps::LapFile file;
  for (VideoForm* vf : vfs_)
    file.file_names << vf->GetFileName();
  file.time_list = time_list_.time_list();
  laps::SaveLapFile(this, saveFileDialog->selectedFiles().first(), file);
}

void MainForm::save_csv__Click() {
  if (!time_list_.HasLapData()) {
    laps::ShowNoLapDataMessage(this);
    return;
  }
  if (save_csv_file_dialog_->exec() != QDialog::Accepted ||
      save_csv_file_dialog_->selectedFiles().isEmpty())
    return;
  SaveCsv(save_csv_file_dialog_->selectedFiles().first());
}

bool MainForm::SaveCsv(const QString& path) {
  QStringList names;
  for (VideoForm* vf : vfs_)
    names << QFileInfo(vf->GetFileName()).fileName();
  const QByteArray bytes = laps::CsvBytes(lf_->Texts(), names, LapForm::kColumnsPerMovie);
  const std::optional<QString> error = laps::SaveFileBytes(path, bytes);
  if (error) {
    qCWarning(AppLog).noquote() << "lap table" << path << "not saved:" << *error;
    laps::ShowSaveFailedMessage(this, *error);
  }
  return !error;
}

void MainForm::open_lap__Click() {
  if (open_xml_file_dialog_->exec() != QDialog::Accepted ||
      open_xml_file_dialog_->selectedFiles().isEmpty())
    return;
  LoadLapFile(open_xml_file_dialog_->selectedFiles().first());
}

void MainForm::LoadLapFile(const QString& path) {
  // The whole file is read and checked before anything is closed: a file that cannot be used
  // leaves the movies and laps the user has.
  std::optional<laps::LapFile> file = laps::LoadLapFile(this, path);
  if (!file || RefuseBeyondLimit(file->file_names.size()))
    return;
  CloseAllVideoForms();
  // A window the user closed while a failure was being told takes its list with it.
  const std::vector<QPointer<VideoForm>> added = OpenInNewWindows(file->file_names);
  laps::LapLists lists;
  for (size_t m = 0; m < added.size(); ++m) {
    if (!added[m])
      continue;
    added[m]->SetBaseTime(file->time_list[m].front());
    lists.push_back(std::move(file->time_list[m]));
  }
  lf_->ClearRows();
  const size_t rows = lists.empty() ? 0 : lists.front().size();
  time_list_.Replace(std::move(lists));
  for (size_t r = 0; r < rows; ++r)
    lf_->AddRow();
  lf_->SetDataGridView(time_list_.time_list());
  AlignVideoForms();
}

}  // namespace quorvex
