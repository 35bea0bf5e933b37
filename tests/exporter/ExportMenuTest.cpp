// "ﾌｧｲﾙ > 比較動画を書き出す..." in a real main window with real movie servers: the choices
// reach the export role, the movie is written by a child process while the window goes on,
// and a cancel leaves nothing behind.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <memory>

#include "app/ExportDialog.h"
#include "app/MainForm.h"
#include "platform/ui/Fonts.h"
#include "tests/support/TestEnv.h"
#include "tests/ui/Modal.h"
#include "ui/ControlForm.h"
#include "ui/VideoForm.h"

namespace quorvex::test {
namespace {

QString MoviePath(const char* name) {
  return QString::fromStdString(Movie(name));
}

// Answers the export dialog with the last size and `sound`, then the save dialog with `path`.
ModalWatcher::Handler AnswerExport(int sound, const QString& path) {
  return [sound, path](QWidget* w) {
    if (auto* dialog = qobject_cast<ExportDialog*>(w)) {
      dialog->size()->setCurrentIndex(dialog->size()->count() - 1);
      dialog->sound()->setCurrentIndex(sound);
      QMetaObject::invokeMethod(dialog, "accept");
    } else if (auto* files = qobject_cast<QFileDialog*>(w)) {
      auto* name = files->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(name, nullptr);
      for (auto* view : files->findChildren<QAbstractItemView*>()) {
        if (view->selectionModel() != nullptr)
          view->selectionModel()->clearSelection();
      }
      name->setText(path);
      QMetaObject::invokeMethod(files, "accept");
    }
  };
}

class ExportMenuTest : public testing::Test {
 protected:
  void SetUp() override { ui::SubstituteUiGothicFont(); }

  MainForm& Start(const QStringList& files) {
    ClientOptions options;
    options.server_path = QuorvexExe();
    form_ = std::make_unique<MainForm>(files, options);
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form_->loaded(); }, 60000));
    return *form_;
  }
  ExportRun* Running() { return form_->findChild<ExportRun*>("export_run"); }

  std::unique_ptr<MainForm> form_;
};

TEST_F(ExportMenuTest, WritesTheComparisonInAChildProcessAndCancelsCleanly) {
  MainForm& f = Start({MoviePath("h264-aac-16x9.mp4"), MoviePath("h264-noaudio.mp4")});
  ASSERT_EQ(f.vfs().size(), 2u);
  QTemporaryDir dir;
  {
    std::vector<SeenBox> seen;
    std::unique_ptr<ModalWatcher> boxes(ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
    f.export_movie_item()->trigger();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "ラップデータがありません。");
  }
  f.vfs()[0]->SetCurrentPosition(1.0);
  f.vfs()[1]->SetCurrentPosition(2.0);
  f.SetBaseTime();
  f.SeekCurrentPosition(1.0);
  f.AddTime();
  f.cf()->play_rate()->setCurrentIndex(1);  // 1/2
  f.SetBaseMovieIndex(1);

  const QString target = dir.filePath("comparison.mp4");
  {
    ModalWatcher answer(AnswerExport(/*sound=*/2 /* なし */, target));
    f.export_movie_item()->trigger();
  }
  ExportRun* run = Running();
  ASSERT_NE(run, nullptr);
  const QStringList args = run->process()->arguments();
  EXPECT_EQ(args.mid(0, 2), (QStringList{"--export", target}));
  const QStringList options = args.mid(3);
  for (const QStringList& pair :
       {QStringList{"--rate", "1/2"}, {"--size", "640x360"}, {"--base", "2"}, {"--audio", "none"},
        {"--to", "laps"}}) {
    const int at = int(options.indexOf(pair[0]));
    ASSERT_GE(at, 0) << pair[0].toStdString();
    EXPECT_EQ(options.value(at + 1), pair[1]) << pair[0].toStdString();
  }
  EXPECT_TRUE(run->progress()->isVisible());
  // The window goes on while the child writes.
  int ticks = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
  tick.start(50);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Running() == nullptr; }, 120000));
  EXPECT_GT(ticks, 1);
  QFile written(target);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(written.read(8).mid(4), "ftyp");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"comparison.mp4"});

  // Cancelled as soon as the child has reported progress: nothing is left, nothing is said.
  const QString cancelled = dir.filePath("cancelled.mp4");
  f.SetBaseMovieIndex(0);
  f.cf()->play_rate()->setCurrentIndex(4);  // 1/16: long enough to be cancelled on the way
  {
    ModalWatcher answer(AnswerExport(0, cancelled));
    f.export_movie_item()->trigger();
  }
  run = Running();
  ASSERT_NE(run, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return run->progress()->value() > 0; }, 60000));
  std::vector<SeenBox> seen;
  std::unique_ptr<ModalWatcher> boxes(ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
  auto* cancel = run->progress()->findChild<QPushButton*>();
  ASSERT_NE(cancel, nullptr);
  QTest::mouseClick(cancel, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Running() == nullptr; }, 60000));
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"comparison.mp4"});
}

}  // namespace
}  // namespace quorvex::test
