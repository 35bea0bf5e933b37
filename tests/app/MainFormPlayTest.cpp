// The main window driving several real movies at once: fan-out from the control panel,
// lap rows and opening, no server left behind, and a killed server among others.
#include <gtest/gtest.h>
#include <signal.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

#include <cmath>

#include "laps/LapForm.h"
#include "tests/app/MainFormFixture.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"
#include "ui/ControlForm.h"

namespace quorvex::test {
namespace {

constexpr double kUnits = 1e7;

QStringList ThreeMovies() {
  return {MoviePath("h264-aac-16x9.mp4"), MoviePath("mjpeg-pcm-4x3.avi"),
          MoviePath("h264-noaudio.mp4")};
}

class MainFormPlayTest : public MainFormTest {
 protected:
  std::vector<double> Positions() {
    std::vector<double> seconds;
    for (VideoForm* vf : form_->vfs()) {
      int64_t p = -1;
      vf->client()->GetCurrentPosition(&p);
      seconds.push_back(double(p) / kUnits);
    }
    return seconds;
  }
  std::vector<bool> Playing() {
    std::vector<bool> playing;
    for (VideoForm* vf : form_->vfs())
      playing.push_back(vf->client()->IsPlaying());
    return playing;
  }
  void Click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
};

TEST_F(MainFormPlayTest, CommandLineMoviesOpenTitledInOrder) {
  Start(ThreeMovies());
  EXPECT_EQ(Titles(), (QStringList{"No.1: h264-aac-16x9.mp4", "No.2: mjpeg-pcm-4x3.avi",
                                   "No.3: h264-noaudio.mp4"}));
}

TEST_F(MainFormPlayTest, OpenDialogOpensTheSelectedFilesInItsOrder) {
  MainForm& f = Start();
  const QString dir = QFileInfo(MoviePath("h264-aac-16x9.mp4")).path();
  {
    QFileDialog* seen = nullptr;
    ModalWatcher watcher([&](QWidget* w) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      if (dialog == nullptr)
        return;
      seen = dialog;
      dialog->setDirectory(dir);
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(name, nullptr);
      name->setText("\"h264-noaudio.mp4\" \"mjpeg-pcm-4x3.avi\" \"h264-aac-16x9.mp4\"");
      QMetaObject::invokeMethod(dialog, "accept");
    });
    f.open_movie_item()->trigger();
    EXPECT_EQ(seen, f.open_movie_file_dialog());
  }
  ASSERT_EQ(f.vfs().size(), 3u);
  EXPECT_EQ(f.lf()->current_num_item(), 3);
  QStringList names;
  for (VideoForm* vf : f.vfs())
    names << QFileInfo(vf->GetFileName()).fileName();
  EXPECT_EQ(names, (QStringList{"h264-noaudio.mp4", "mjpeg-pcm-4x3.avi", "h264-aac-16x9.mp4"}));
  EXPECT_EQ(Titles(), (QStringList{"No.1: h264-noaudio.mp4", "No.2: mjpeg-pcm-4x3.avi",
                                   "No.3: h264-aac-16x9.mp4"}));
  // Cancelling changes nothing.
  ModalWatcher cancel([](QWidget* w) {
    if (auto* d = qobject_cast<QDialog*>(w))
      d->reject();
  });
  f.open_movie_item()->trigger();
  EXPECT_EQ(f.vfs().size(), 3u);
}

// Each movie steps from its own position by the same amount; rates and play/pause reach all.
TEST_F(MainFormPlayTest, PanelDrivesEveryMovie) {
  MainForm& f = Start(ThreeMovies());
  f.vfs()[0]->SetCurrentPosition(1.0);
  f.vfs()[1]->SetCurrentPosition(2.0);
  f.vfs()[2]->SetCurrentPosition(3.0);
  Click(f.cf()->step_button(4));  // "+0.17"
  const std::vector<double> after = Positions();
  for (size_t i = 0; i < 3; ++i)
    EXPECT_NEAR(after[i], 1.0 + double(i) + 5 / 29.97, 0.002) << i;
  Click(f.cf()->step_button(0));  // "-0.33"
  for (size_t i = 0; i < 3; ++i)
    EXPECT_NEAR(Positions()[i], after[i] - 10 / 29.97, 0.002) << i;

  f.cf()->play_rate()->setCurrentIndex(2);  // "1/4"
  for (VideoForm* vf : f.vfs())
    EXPECT_EQ(vf->client()->GetRate(), 0.25);
  Click(f.cf()->start_button());
  EXPECT_EQ(Playing(), (std::vector<bool>{true, true, true}));
  const std::vector<double> t0 = Positions();
  QTest::qWait(800);
  const std::vector<double> t1 = Positions();
  for (size_t i = 0; i < 3; ++i) {
    // A quarter of the real time passes in the movie (generous bounds: a loaded machine).
    EXPECT_GT(t1[i] - t0[i], 0.05) << i;
    EXPECT_LT(t1[i] - t0[i], 0.5) << i;
  }
  Click(f.cf()->start_button());
  EXPECT_EQ(Playing(), (std::vector<bool>{false, false, false}));
}

TEST_F(MainFormPlayTest, OpeningAnotherMovieEmptiesTheLapRows) {
  MainForm& f = Start({MoviePath("h264-aac-16x9.mp4"), MoviePath("mjpeg-pcm-4x3.avi")});
  f.vfs()[0]->SetCurrentPosition(1.0);
  f.vfs()[1]->SetCurrentPosition(2.0);
  Click(f.cf()->base_time_set_button());  // no laps yet: no question
  EXPECT_EQ(f.GetCountTime(), 1);
  Click(f.cf()->step_button(5));
  Click(f.cf()->time_add_button());
  EXPECT_EQ(f.GetCountTime(), 2);
  EXPECT_EQ(f.lf()->grid()->rowCount(), 2);
  EXPECT_NEAR(f.vfs()[1]->base_time_units() / kUnits, 2.0, 0.002);

  f.OpenMovies({MoviePath("h264-noaudio.mp4")});
  EXPECT_EQ(f.GetCountTime(), 0);
  EXPECT_EQ(f.lf()->grid()->rowCount(), 0);
  EXPECT_EQ(f.lf()->current_num_item(), 3);
  // The windows already open keep their base; the new one starts at 0.
  EXPECT_NEAR(f.vfs()[1]->base_time_units() / kUnits, 2.0, 0.002);
  EXPECT_EQ(f.vfs()[2]->base_time_units(), 0);
}

// Closing the panel closes the main window; disposing it leaves no server process behind.
TEST_F(MainFormPlayTest, ClosingThePanelLeavesNoServerBehind) {
  MainForm& f = Start(ThreeMovies());
  std::vector<pid_t> servers;
  for (VideoForm* vf : f.vfs())
    servers.push_back(vf->client()->server_pid());
  EXPECT_FALSE(f.cf()->close());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !f.isVisible(); }, 10000));
  form_.reset();
  for (pid_t pid : servers)
    EXPECT_TRUE(kill(pid, 0) != 0 && errno == ESRCH) << pid;
}

// One server killed among three: that window is told and emptied, the others go on.
TEST_F(MainFormPlayTest, KilledServerLeavesTheOthersPlaying) {
  MainForm& f = Start(ThreeMovies());
  std::vector<SeenBox> seen;
  std::unique_ptr<ModalWatcher> w(ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
  ASSERT_EQ(kill(f.vfs()[1]->client()->server_pid(), SIGKILL), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.empty(); }, 10000));
  EXPECT_EQ(seen[0].caption, "No.2: mjpeg-pcm-4x3.avi");
  EXPECT_EQ(Titles(), (QStringList{"No.1: h264-aac-16x9.mp4", "No.2", "No.3: h264-noaudio.mp4"}));
  f.Play();
  EXPECT_TRUE(f.vfs()[0]->client()->IsPlaying());
  EXPECT_TRUE(f.vfs()[2]->client()->IsPlaying());
  EXPECT_FALSE(f.vfs()[1]->IsValid());
  f.SetBaseTime();  // refused while a window has no movie
  EXPECT_EQ(f.GetCountTime(), 0);
}

TEST_F(MainFormPlayTest, RenumberedTitlesKeepTheirFileNames) {
  MainForm& f = Start(ThreeMovies());
  f.vfs()[1]->close();
  EXPECT_EQ(Titles(), (QStringList{"No.1: h264-aac-16x9.mp4", "No.2: h264-noaudio.mp4"}));
  EXPECT_EQ(f.lf()->current_num_item(), 2);
}

// Base and marks through the panel, a row selection seeking every movie, and the refusal of a
// mark before the base.
TEST_F(MainFormPlayTest, LapMarksAndRowSelectionMoveEveryMovie) {
  MainForm& f = Start({MoviePath("h264-aac-16x9.mp4"), MoviePath("mjpeg-pcm-4x3.avi")});
  f.vfs()[0]->SetCurrentPosition(1.0);
  f.vfs()[1]->SetCurrentPosition(2.0);
  Click(f.cf()->base_time_set_button());
  Click(f.cf()->step_button(5));
  Click(f.cf()->time_add_button());
  ASSERT_EQ(f.GetCountTime(), 2);
  EXPECT_NEAR(f.time_list()[0][1] - f.time_list()[0][0], 10 / 29.97, 0.002);
  EXPECT_NEAR(f.time_list()[1][1] - f.time_list()[1][0], 10 / 29.97, 0.002);

  f.RowSelected(0);
  EXPECT_NEAR(Positions()[0], 1.0, 0.002);
  EXPECT_NEAR(Positions()[1], 2.0, 0.002);

  std::vector<SeenBox> seen;
  std::unique_ptr<ModalWatcher> w(ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
  f.vfs()[0]->SetCurrentPosition(0.5);  // before the first movie's base
  Click(f.cf()->time_add_button());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "Quorvex");
  EXPECT_EQ(seen[0].text, QString::fromUtf8("基準位置より前の位置をセットすることはできません。"));
  EXPECT_EQ(f.GetCountTime(), 2);
}

// A lap file saved from the menu loads back into the same movies, bases and rows; a file that
// cannot be read leaves what is open.
TEST_F(MainFormPlayTest, LapFileRoundTripThroughTheMenus) {
  MainForm& f = Start({MoviePath("h264-aac-16x9.mp4"), MoviePath("h264-noaudio.mp4")});
  f.vfs()[0]->SetCurrentPosition(1.0);
  f.vfs()[1]->SetCurrentPosition(3.0);
  f.SetBaseTime();
  f.SeekCurrentPosition(0.5);
  f.AddTime();
  const laps::LapLists saved = f.time_list();
  ASSERT_EQ(saved[0].size(), 2u);

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  auto answer_with = [](const QString& path) {
    return [path](QWidget* w) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      if (dialog == nullptr)
        return;
      // Typed as a full path, with no file selected in the list: the dialog takes the typed
      // name, whether or not its list has caught up with the directory yet.
      for (auto* view : dialog->findChildren<QAbstractItemView*>()) {
        if (view->selectionModel() != nullptr)
          view->selectionModel()->clearSelection();
      }
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      ASSERT_NE(name, nullptr);
      name->setText(QFileInfo(path).absoluteFilePath());
      QMetaObject::invokeMethod(dialog, "accept");
    };
  };
  {
    ModalWatcher save(answer_with(dir.filePath("laps")));  // the default suffix is added
    f.save_lap_item()->trigger();
  }
  ASSERT_TRUE(QFileInfo::exists(dir.filePath("laps.xml")));

  f.CloseAllVideoForms();
  f.OpenMovies({MoviePath("mjpeg-pcm-4x3.avi")});
  {
    ModalWatcher load(answer_with(dir.filePath("laps.xml")));
    f.open_lap_item()->trigger();
  }
  EXPECT_EQ(Titles(), (QStringList{"No.1: h264-aac-16x9.mp4", "No.2: h264-noaudio.mp4"}));
  ASSERT_EQ(f.time_list().size(), 2u);
  for (size_t m = 0; m < 2; ++m)
    for (size_t r = 0; r < 2; ++r)
      EXPECT_NEAR(f.time_list()[m][r], saved[m][r], 1e-9);
  EXPECT_EQ(f.lf()->grid()->rowCount(), 2);
  EXPECT_NEAR(f.vfs()[1]->base_time_units() / kUnits, saved[1][0], 1e-6);

  QFile broken(dir.filePath("broken.xml"));
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write("<QuorvexLapFile><file_name/></QuorvexLapFile>");
  broken.close();
  std::vector<SeenBox> seen;
  {
    ModalWatcher load([&](QWidget* w) {
      if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
        answer_with(dir.filePath("broken.xml"))(dialog);
      } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
        seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
        box->button(QMessageBox::Ok)->click();
      }
    });
    f.open_lap_item()->trigger();
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].text.startsWith(QString::fromUtf8("ﾌｧｲﾙの読み込みに失敗しました。\n")));
  EXPECT_EQ(f.vfs().size(), 2u);  // the open movies stay
  EXPECT_EQ(f.GetCountTime(), 2);
}

}  // namespace
}  // namespace quorvex::test
