#pragma once

// "比較動画を書き出す...": the small dialog that asks how to write the comparison movie, and the
// run of the export role as a child process of this program with a progress dialog. The child
// reads a lap file written for it, so that it sees the movies and laps as they are now; a
// fault there costs the user nothing here. UI thread only.

#include <QDialog>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QComboBox;
class QProcess;
class QProgressDialog;
class QTemporaryFile;

namespace quorvex {

class ExportDialog : public QDialog {
  Q_OBJECT

 public:
  // `movie_names` are the open movies' file names, in index order; `rate` the panel's rate.
  ExportDialog(const QStringList& movie_names, int base_movie, double rate, QWidget* parent);

  // The export role's options for the choices made (everything but the two paths).
  QStringList Arguments() const;

  QComboBox* range() const { return range_; }
  QComboBox* size() const { return size_; }
  QComboBox* sound() const { return sound_; }

 private:
  int base_movie_;
  double rate_;
  QComboBox* range_ = nullptr;
  QComboBox* size_ = nullptr;
  QComboBox* sound_ = nullptr;
};

// One export running in a child process. Deletes itself when the child has ended and the user
// has been told of a failure.
class ExportRun : public QObject {
  Q_OBJECT

 public:
  ExportRun(QWidget* owner, QString program);
  ~ExportRun() override;

  // Writes `lap_file` to a temporary file and starts `program --export target that-file
  // arguments...`. False (and the user told) when it cannot start.
  bool Start(const QString& target, const QByteArray& lap_file, const QStringList& arguments);
  QProgressDialog* progress() const { return progress_; }
  QProcess* process() const { return process_; }

 signals:
  // The child has ended: `written` when the movie is complete.
  void Ended(bool written);

 private:
  void ReadProgress();
  void Finish();

  QWidget* owner_;
  QString program_;
  QProcess* process_ = nullptr;           // owned (child)
  QProgressDialog* progress_ = nullptr;   // owned by owner_'s window, deleted with this
  std::unique_ptr<QTemporaryFile> laps_;  // the lap file the child reads
  QString last_line_;                     // the child's last line on standard error
  bool cancelled_ = false;
};

}  // namespace quorvex
