#include "app/ExportDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QProcess>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <cmath>

#include "app/Log.h"
#include "platform/ui/MessageBox.h"

namespace quorvex {

namespace {

const char* const kSizes[] = {"1920x1080", "1280x720", "960x540", "640x360"};

void ShowFailure(QWidget* owner, const QString& why) {
  qCWarning(AppLog).noquote() << "export failed:" << why;
  QWidget* window = owner->window();
  ui::ShowMessageBox(window, QStringLiteral("比較動画の書き出しに失敗しました。\n") + why,
                     window->windowTitle(), ui::MessageBoxButtons::kOk,
                     ui::MessageBoxIcon::kWarning);
}

QString RateText(double rate) {
  return QStringLiteral("1/%1").arg(std::lround(1.0 / rate));
}

}  // namespace

ExportDialog::ExportDialog(const QStringList& movie_names, int base_movie, double rate,
                           QWidget* parent)
    : QDialog(parent), base_movie_(base_movie), rate_(rate) {
  setWindowTitle(QStringLiteral("比較動画を書き出す"));
  auto* form = new QFormLayout(this);
  range_ = new QComboBox(this);
  range_->addItem(QStringLiteral("最後のﾗｯﾌﾟの1秒後まで"));
  range_->addItem(QStringLiteral("最も長い動画の終わりまで"));
  size_ = new QComboBox(this);
  for (const char* size : kSizes)
    size_->addItem(QString::fromLatin1(size));
  sound_ = new QComboBox(this);
  for (int m = 0; m < movie_names.size(); ++m)
    sound_->addItem(QStringLiteral("No.%1: %2").arg(m + 1).arg(movie_names[m]));
  sound_->addItem(QStringLiteral("なし"));
  sound_->setCurrentIndex(base_movie);
  form->addRow(QStringLiteral("範囲"), range_);
  form->addRow(QStringLiteral("大きさ"), size_);
  form->addRow(QStringLiteral("音声"), sound_);
  form->addRow(QStringLiteral("速度"), new QLabel(RateText(rate), this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QStringList ExportDialog::Arguments() const {
  const bool none = sound_->currentIndex() == sound_->count() - 1;
  return {QStringLiteral("--rate"), RateText(rate_),
          QStringLiteral("--size"), size_->currentText(),
          QStringLiteral("--base"), QString::number(base_movie_ + 1),
          QStringLiteral("--audio"),
          none ? QStringLiteral("none") : QString::number(sound_->currentIndex() + 1),
          QStringLiteral("--to"),
          range_->currentIndex() == 0 ? QStringLiteral("laps") : QStringLiteral("end")};
}

ExportRun::ExportRun(QWidget* owner, QString program)
    : QObject(owner), owner_(owner), program_(std::move(program)) {}

ExportRun::~ExportRun() {
  delete progress_;
}

bool ExportRun::Start(const QString& target, const QByteArray& lap_file,
                      const QStringList& arguments) {
  laps_ = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/quorvex-XXXXXX.xml"));
  if (!laps_->open() || laps_->write(lap_file) != lap_file.size() || !laps_->flush()) {
    ShowFailure(owner_, laps_->errorString());
    return false;
  }
  progress_ = new QProgressDialog(QStringLiteral("比較動画を書き出しています..."),
                                  QStringLiteral("ｷｬﾝｾﾙ"), 0, 100, owner_);
  progress_->setWindowModality(Qt::WindowModal);
  progress_->setMinimumDuration(0);
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  progress_->setValue(0);
  progress_->show();
  process_ = new QProcess(this);
  process_->setProcessChannelMode(QProcess::SeparateChannels);
  process_->setReadChannel(QProcess::StandardError);
  connect(process_, &QProcess::readyReadStandardError, this, &ExportRun::ReadProgress);
  connect(process_, &QProcess::finished, this, &ExportRun::Finish);
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart)
      Finish();
  });
  // The child removes its unfinished file itself when it is told to stop.
  connect(progress_, &QProgressDialog::canceled, this, [this] {
    cancelled_ = true;
    process_->terminate();
  });
  process_->start(program_, QStringList{QStringLiteral("--export"), target, laps_->fileName()} +
                                arguments);
  return true;
}

void ExportRun::ReadProgress() {
  static const QRegularExpression percent(QStringLiteral("\\((\\d+)%\\)"));
  const QStringList lines = QString::fromLocal8Bit(process_->readAllStandardError())
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  for (const QString& line : lines) {
    last_line_ = line;
    const QRegularExpressionMatch match = percent.match(line);
    if (match.hasMatch() && progress_)
      progress_->setValue(std::min(99, match.captured(1).toInt()));
  }
}

void ExportRun::Finish() {
  ReadProgress();
  const bool written = process_->exitStatus() == QProcess::NormalExit &&
                       process_->exitCode() == 0 && process_->error() != QProcess::FailedToStart;
  progress_->hide();
  if (!written && !cancelled_) {
    QString why = last_line_;
    why.remove(QRegularExpression(QStringLiteral("^quorvex --export: ")));
    if (process_->error() == QProcess::FailedToStart)
      why = process_->errorString();
    ShowFailure(owner_, why);
  }
  emit Ended(written);
  deleteLater();
}

}  // namespace quorvex
