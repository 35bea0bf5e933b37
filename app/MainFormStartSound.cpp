// Lining every movie up on its start signal: the servers search their movies' sound in the
// background, the main window polls them on a short timer, so the UI never waits for them.
#include <QApplication>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>

#include "app/Log.h"
#include "app/MainForm.h"
#include "hosting/Channel.h"
#include "platform/ui/MessageBox.h"
#include "ui/ControlForm.h"
#include "ui/VideoForm.h"

namespace quorvex {

namespace {
constexpr int kProgressAfterMs = 500;
}  // namespace

bool MainForm::finding_start_sound() const {
  return search_timer_->isActive();
}

void MainForm::start_sound__Click() {
  if (finding_start_sound() || vfs_.empty())
    return;
  for (VideoForm* vf : vfs_) {
    if (!vf->IsValid())
      return;  // as "クリア": the window without a movie says so itself
  }
  // The panel's question, asked before anything moves: a "no" leaves every movie where it is.
  if (GetCountTime() > 0 &&
      ui::ShowMessageBox(
          cf_, QStringLiteral("ラップをクリアーし、現在位置を基準位置にします。\nよろしいですか？"),
          cf_->windowTitle(), ui::MessageBoxButtons::kYesNo,
          ui::MessageBoxIcon::kQuestion) != ui::DialogResult::kYes)
    return;
  Pause();
  cf_->ShowPaused();
  searched_ = vfs_;
  search_states_.assign(vfs_.size(), channel::kStartSoundFailed);
  search_onsets_.assign(vfs_.size(), 0.0);
  for (size_t i = 0; i < vfs_.size(); ++i) {
    if (vfs_[i]->FindStartSound())
      search_states_[i] = channel::kStartSoundRunning;
  }
  // Not modal: a modal dialog's progress runs nested event loops, and the UI stays usable.
  search_progress_ = new QProgressDialog(QStringLiteral("開始音を探しています..."),
                                         QStringLiteral("ｷｬﾝｾﾙ"), 0, int(vfs_.size()), this);
  search_progress_->setMinimumDuration(kProgressAfterMs);
  search_progress_->setAutoReset(false);
  connect(search_progress_, &QProgressDialog::canceled, this, [this] { FinishStartSound(false); });
  QApplication::setOverrideCursor(Qt::BusyCursor);
  start_sound_->setEnabled(false);
  search_timer_->start();
  PollStartSound();
}

void MainForm::PollStartSound() {
  if (vfs_ != searched_) {
    FinishStartSound(false);  // a movie was opened or closed meanwhile: the answers are stale
    return;
  }
  int running = 0;
  for (size_t i = 0; i < searched_.size(); ++i) {
    if (search_states_[i] == channel::kStartSoundRunning)
      search_states_[i] = searched_[i]->GetStartSound(&search_onsets_[i]);
    running += search_states_[i] == channel::kStartSoundRunning ? 1 : 0;
  }
  search_progress_->setValue(int(searched_.size()) - running);
  if (running == 0)
    FinishStartSound(true);
}

void MainForm::FinishStartSound(bool complete) {
  if (!finding_start_sound())
    return;
  search_timer_->stop();
  search_progress_->disconnect(this);
  search_progress_->deleteLater();
  search_progress_ = nullptr;
  QApplication::restoreOverrideCursor();
  start_sound_->setEnabled(true);
  if (!complete) {
    // Every server still searching stops now, not when its search runs out. A window that has
    // left the list is closing, and its server with it.
    for (size_t i = 0; i < searched_.size(); ++i) {
      if (search_states_[i] == channel::kStartSoundRunning &&
          std::find(vfs_.begin(), vfs_.end(), searched_[i]) != vfs_.end())
        searched_[i]->CancelStartSound();
    }
    return;
  }
  QStringList missing;
  Pause();  // the user may have started them meanwhile
  for (size_t i = 0; i < vfs_.size(); ++i) {
    if (search_states_[i] == channel::kStartSoundFound) {
      vfs_[i]->SetCurrentPosition(search_onsets_[i]);
    } else {
      missing << QStringLiteral("No.%1").arg(vfs_[i]->GetNumber() + 1);
      if (search_states_[i] == channel::kStartSoundNotFound)
        qCInfo(AppLog).noquote() << missing.back() << "has no clear start sound";
      else
        qCWarning(AppLog).noquote() << missing.back()
                                    << "was not searched: it has no sound, or its sound could "
                                       "not be decoded (quorvex.engine says why)";
    }
  }
  SetBaseTime();
  if (!missing.isEmpty()) {
    ui::ShowMessageBox(this, QStringLiteral("開始音が見つかりません: ") + missing.join(", "),
                       windowTitle(), ui::MessageBoxButtons::kOk, ui::MessageBoxIcon::kInformation);
  }
}

}  // namespace quorvex
