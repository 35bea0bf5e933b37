// The main window with real movie windows and server processes: menus and dialogs,
// opening by command line, dialog and drop, numbering after closing, the control strips, the
// arrangement of the movie windows, fan-out from the control panel, laps and the lap file, the
// comparison movie's export, no server left behind, and a killed server among others.
#include <gtest/gtest.h>
#include <signal.h>

#include <QtTest>
#include <QtWidgets>

#include <memory>

#include "app/ExportDialog.h"
#include "app/MainForm.h"
#include "hosting/Channel.h"
#include "laps/LapFile.h"
#include "laps/LapForm.h"
#include "laps/LapMessages.h"
#include "platform/ipc/MessagePort.h"
#include "platform/ui/Fonts.h"
#include "tests/support/TestEnv.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"
#include "ui/ControlForm.h"
#include "ui/VideoForm.h"

namespace quorvex::test {
namespace {

constexpr double kUnits = 1e7;

QStringList ThreeMovies() {
  return {MoviePath("h264-aac-16x9.mp4"), MoviePath("mjpeg-pcm-4x3.avi"),
          MoviePath("h264-noaudio.mp4")};
}

// Paths that no server can play: their windows stay without a movie.
QStringList Missing(int n) {
  QStringList paths;
  for (int i = 0; i < n; ++i)
    paths << QString("/nonexistent/movie-%1.mp4").arg(i);
  return paths;
}

// Answers a file dialog with `typed` in its name field (names relative to `dir`, or full paths)
// and no file selected in its list, so the dialog takes the typed names whether or not its list
// has caught up with the directory yet.
ModalWatcher::Handler TypeIntoFileDialog(const QString& dir, const QString& typed) {
  return [dir, typed](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    if (dialog == nullptr)
      return;
    if (!dir.isEmpty())
      dialog->setDirectory(dir);
    for (auto* view : dialog->findChildren<QAbstractItemView*>()) {
      if (view->selectionModel() != nullptr)
        view->selectionModel()->clearSelection();
    }
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText(typed);
    QMetaObject::invokeMethod(dialog, "accept");
  };
}

// Answers the export dialog with the last size and `sound`, then the save dialog with `path`.
ModalWatcher::Handler AnswerExport(int sound, const QString& path) {
  return [sound, save = TypeIntoFileDialog("", path)](QWidget* w) {
    if (auto* dialog = qobject_cast<ExportDialog*>(w)) {
      dialog->size()->setCurrentIndex(dialog->size()->count() - 1);
      dialog->sound()->setCurrentIndex(sound);
      QMetaObject::invokeMethod(dialog, "accept");
    }
    save(w);
  };
}

class MainFormTest : public testing::Test {
 protected:
  void SetUp() override { ui::SubstituteUiGothicFont(); }
  void TearDown() override { form_.reset(); }

  // Shows a main window that opens `files` once loaded, and waits until it has.
  MainForm& Start(const QStringList& files = {}) {
    form_ = std::make_unique<MainForm>(files, ClientOptions{.server_path = QuorvexExe()});
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form_->loaded(); }, 60000));
    QTest::qWait(20);
    return *form_;
  }
  // What `f` gives for each movie window, in order.
  template <typename F>
  auto Each(F f) const {
    std::vector<decltype(f(nullptr))> out;
    for (VideoForm* vf : form_->vfs())
      out.push_back(f(vf));
    return out;
  }
  QStringList Titles() const {
    const auto titles = Each([](VideoForm* vf) { return vf->windowTitle(); });
    return QStringList(titles.begin(), titles.end());
  }
  // The grid the main window would choose for the current client area.
  QSize Shape() {
    int32_t columns = 4;
    int32_t rows = 2;
    form_->GetOptimizedLayout(form_->mdi_area()->viewport(), columns, rows);
    return QSize(columns, rows);
  }
  // Resizes the main window so that its area's client rectangle is w x h.
  void SetClientSize(int w, int h) {
    QWidget* client = form_->mdi_area()->viewport();
    for (int attempt = 0; attempt < 3 && client->size() != QSize(w, h); ++attempt) {
      form_->resize(form_->width() + (w - client->width()),
                    form_->height() + (h - client->height()));
      QTest::qWait(30);
    }
    ASSERT_EQ(client->size(), QSize(w, h));
  }
  std::vector<double> Positions() const {
    return Each([](VideoForm* vf) {
      int64_t p = -1;
      vf->client()->GetCurrentPosition(&p);
      return double(p) / kUnits;
    });
  }
  std::vector<bool> Playing() const {
    return Each([](VideoForm* vf) { return vf->client()->IsPlaying(); });
  }
  void Click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
  ExportRun* Running() { return form_->findChild<ExportRun*>("export_run"); }

  std::unique_ptr<MainForm> form_;
};

// Windows are numbered in order with one lap column group each and renumbered when one closes;
// the strip setting reaches every window, one opened later too.
TEST_F(MainFormTest, WindowsAreNumberedRenumberedAndFollowTheStripSetting) {
  MainForm& f = Start(Missing(3));
  EXPECT_EQ(Titles(), (QStringList{"No.1", "No.2", "No.3"}));
  const auto menus = [&f] {
    QStringList titles;
    for (QAction* a : f.menuBar()->actions())
      titles << a->text();
    return titles;
  };
  f.mdi_area()->setActiveSubWindow(f.vfs()[0]);  // its menus join the menu bar
  EXPECT_EQ(menus(), (QStringList{"ﾌｧｲﾙ", "ｳｨﾝﾄﾞｳ", "ﾂｰﾙ", "ﾌｧｲﾙ", "ｵﾌﾟｼｮﾝ"}));
  f.cf()->show_video_form_controls_item()->trigger();
  f.OpenMovies(Missing(1));
  ASSERT_EQ(f.vfs().size(), 4u);
  for (VideoForm* vf : f.vfs())
    EXPECT_FALSE(vf->control_panel_shown());
  VideoForm* third = f.vfs()[2];
  f.vfs()[1]->close();
  ASSERT_EQ(f.vfs().size(), 3u);
  EXPECT_EQ(third->GetNumber(), 1);
  EXPECT_EQ(Titles(), (QStringList{"No.1: ", "No.2: ", "No.3: "}));
  EXPECT_EQ(f.time_list().size(), 3u);
  f.mdi_area()->setActiveSubWindow(f.vfs()[0]);
  f.vfs()[0]->close();  // the active one: the next one's menus take its place
  EXPECT_EQ(menus().size(), 5);
  f.CloseAllVideoForms();
  EXPECT_TRUE(f.time_list().empty());
  EXPECT_EQ(f.lf()->current_num_item(), 0);
  QTest::qWait(20);
  EXPECT_EQ(menus(), (QStringList{"ﾌｧｲﾙ", "ｳｨﾝﾄﾞｳ", "ﾂｰﾙ"}));
}

// Dropped files and the files chosen in the open dialog open in their order; text is no file
// list.
TEST_F(MainFormTest, DroppedAndChosenFilesOpenInTheirOrder) {
  MainForm& f = Start();
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(MoviePath("mjpeg-pcm-4x3.avi")),
                QUrl::fromLocalFile(MoviePath("h264-aac-16x9.mp4"))});
  EXPECT_TRUE(DragOver(&f, &data));
  DragOver(&f, &data, /*drop=*/true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return f.vfs().size() == 2u; }, 60000));
  QMimeData text;
  text.setText("hello");
  EXPECT_FALSE(DragOver(&f, &text));
  {
    ModalWatcher watcher(TypeIntoFileDialog(QFileInfo(MoviePath("h264-noaudio.mp4")).path(),
                                            "\"h264-noaudio.mp4\" \"mjpeg-pcm-4x3.avi\""));
    f.open_movie_item()->trigger();
  }
  EXPECT_EQ(Titles(), (QStringList{"No.1: mjpeg-pcm-4x3.avi", "No.2: h264-aac-16x9.mp4",
                                   "No.3: h264-noaudio.mp4", "No.4: mjpeg-pcm-4x3.avi"}));
}

// The grid shape with the largest picture, filled row by row.
TEST_F(MainFormTest, ArrangementTakesTheGridWithTheLargestPicture) {
  struct Case {
    int windows;
    QSize client, shape;
    std::vector<QRect> cells;
  };
  const std::vector<Case> cases{
      {1, {900, 400}, {1, 1}, {{0, 0, 900, 400}}},
      {5,
       {1200, 600},
       {3, 2},
       {{0, 0, 400, 300},
        {400, 0, 400, 300},
        {800, 0, 400, 300},
        {0, 300, 400, 300},
        {400, 300, 400, 300}}},  // the sixth empty
      {3, {1500, 300}, {3, 1}, {{0, 0, 500, 300}, {500, 0, 500, 300}, {1000, 0, 500, 300}}}};
  MainForm& f = Start();
  for (const Case& c : cases) {
    f.CloseAllVideoForms();
    f.OpenMovies(Missing(c.windows));
    SetClientSize(c.client.width(), c.client.height());
    f.AlignVideoForms();
    EXPECT_EQ(Shape(), c.shape) << c.windows;
    EXPECT_EQ(Each([](VideoForm* vf) { return vf->geometry(); }), c.cells) << c.windows;
  }
  // Two windows: where one column and two columns give the same area, one column wins.
  f.CloseAllVideoForms();
  f.OpenMovies(Missing(2));
  VideoForm* first = f.vfs()[0];
  const int h = 700;
  int tie_width = 0;
  for (int w = 300; w < 1500 && tie_width == 0; ++w) {
    const int one_column = first->CalcActualVideoArea(w, h / 2);
    if (one_column > 16 * 16 && one_column == first->CalcActualVideoArea(w / 2, h))
      tie_width = w;
  }
  ASSERT_NE(tie_width, 0) << "no client width gives equal areas";
  SetClientSize(tie_width, h);
  EXPECT_EQ(Shape(), QSize(1, 2));
  SetClientSize(tie_width + 2, h);
  EXPECT_EQ(Shape(), QSize(2, 1));
}

// Each movie steps from its own position by the same amount; rates and play/pause reach all;
// the arrow keys step each by one of its own frames and pause them.
TEST_F(MainFormTest, PanelAndKeysDriveEveryMovie) {
  MainForm& f = Start(
      {MoviePath("h264-aac-16x9.mp4"), MoviePath("h264-25fps.mp4"), MoviePath("h264-60fps.mp4")});
  for (size_t i = 0; i < 3; ++i)
    f.vfs()[i]->SetCurrentPosition(0.41 + 0.5 * double(i));
  Click(f.cf()->step_button(4));  // "+0.17"
  Click(f.cf()->step_button(0));  // "-0.33"
  for (size_t i = 0; i < 3; ++i)
    EXPECT_NEAR(Positions()[i], 0.41 + 0.5 * double(i) - 5 / 29.97, 0.002) << i;
  f.cf()->play_rate()->setCurrentIndex(2);  // "1/4"
  Click(f.cf()->start_button());
  EXPECT_EQ(Playing(), (std::vector<bool>{true, true, true}));
  for (VideoForm* vf : f.vfs())
    EXPECT_EQ(vf->client()->GetRate(), 0.25);
  QTest::keyClick(&f, Qt::Key_Right);
  EXPECT_EQ(Playing(), (std::vector<bool>{false, false, false}));
  f.vfs()[1]->SetCurrentPosition(0.41);  // inside frame 10 at 25 fps
  f.vfs()[2]->SetCurrentPosition(0.41);  // inside frame 24 at 60 fps
  QTest::keyClick(&f, Qt::Key_Right);
  EXPECT_NEAR(Positions()[1], 11 / 25.0, 2e-7);
  EXPECT_NEAR(Positions()[2], 25 / 60.0, 2e-7);
  QTest::keyClick(&f, Qt::Key_Left);
  QTest::keyClick(&f, Qt::Key_Left);
  EXPECT_NEAR(Positions()[1], 9 / 25.0, 2e-7);
  EXPECT_NEAR(Positions()[2], 23 / 60.0, 2e-7);
}

// Base and mark through the panel, a row selection seeking every movie, the refusal of a mark
// before the base, and opening another movie emptying the rows while the bases stay.
TEST_F(MainFormTest, LapMarksAndRowSelectionMoveEveryMovie) {
  MainForm& f = Start({MoviePath("h264-aac-16x9.mp4"), MoviePath("mjpeg-pcm-4x3.avi")});
  f.vfs()[0]->SetCurrentPosition(1.0);
  f.vfs()[1]->SetCurrentPosition(2.0);
  Click(f.cf()->base_time_set_button());  // no laps yet: no question
  Click(f.cf()->step_button(5));
  Click(f.cf()->time_add_button());
  ASSERT_EQ(f.GetCountTime(), 2);
  for (size_t m = 0; m < 2; ++m)
    EXPECT_NEAR(f.time_list()[m][1] - f.time_list()[m][0], 10 / 29.97, 0.002);
  f.RowSelected(0);
  EXPECT_NEAR(Positions()[0], 1.0, 0.002);
  EXPECT_NEAR(Positions()[1], 2.0, 0.002);
  BoxAnswerer boxes(QMessageBox::Ok);
  f.vfs()[0]->SetCurrentPosition(0.5);  // before the first movie's base
  Click(f.cf()->time_add_button());
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(boxes.seen[0].text, "基準位置より前の位置をセットすることはできません。");
  EXPECT_EQ(f.GetCountTime(), 2);
  f.OpenMovies({MoviePath("h264-noaudio.mp4")});
  EXPECT_EQ(f.GetCountTime(), 0);
  EXPECT_EQ(f.lf()->grid()->rowCount(), 0);
  EXPECT_NEAR(f.vfs()[1]->base_time_units() / kUnits, 2.0, 0.002);
}

// A lap file saved from the menu loads back into the same movies, bases and rows, also when it
// is the file the program is started with; a file that cannot be read leaves what is open.
TEST_F(MainFormTest, LapFileRoundTripThroughTheMenus) {
  MainForm& f = Start({MoviePath("h264-aac-16x9.mp4"), MoviePath("h264-noaudio.mp4")});
  f.vfs()[0]->SetCurrentPosition(1.0);
  f.vfs()[1]->SetCurrentPosition(3.0);
  f.SetBaseTime();
  f.SeekCurrentPosition(0.5);
  f.AddTime();
  const laps::LapLists saved = f.time_list();
  QTemporaryDir dir;
  for (QFileDialog* d : {f.save_file_dialog(), f.save_csv_file_dialog()})
    EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);  // asks before overwriting
  {
    ModalWatcher save(TypeIntoFileDialog("", dir.filePath("laps")));  // the suffix is added
    f.save_lap_item()->trigger();
  }
  f.CloseAllVideoForms();
  f.OpenMovies({MoviePath("mjpeg-pcm-4x3.avi")});
  {
    ModalWatcher load(TypeIntoFileDialog("", dir.filePath("laps.xml")));
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
  {
    BoxAnswerer boxes(QMessageBox::Ok);
    ModalWatcher load(TypeIntoFileDialog("", dir.filePath("broken.xml")));
    f.open_lap_item()->trigger();
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_TRUE(boxes.seen[0].text.startsWith("ﾌｧｲﾙの読み込みに失敗しました。\n"));
  }
  EXPECT_EQ(f.vfs().size(), 2u);  // the open movies stay
  EXPECT_EQ(f.GetCountTime(), 2);
  // Given as the only file to open ("open with"), a lap file opens its movies and laps.
  Start({dir.filePath("laps.xml")});
  EXPECT_EQ(Titles(), (QStringList{"No.1: h264-aac-16x9.mp4", "No.2: h264-noaudio.mp4"}));
  EXPECT_EQ(form_->GetCountTime(), 2);
}

// "音でｽﾀｰﾄを合わせる" over a shot, a beep and a whistle behind babble or wind, a clip without a
// start and a movie without sound: the first three stand paused on their onsets, which become
// their bases within 2 ms; the other two keep their positions and are named in one box. A
// second command, the shot's movie moved past its first shot, finds the second.
TEST_F(MainFormTest, StartSoundLinesUpEveryMovie) {
  MainForm& f = Start({MoviePath("start-gun.avi"), MoviePath("start-beep.avi"),
                       MoviePath("start-whistle.avi"), MoviePath("start-none.avi"),
                       MoviePath("h264-noaudio.mp4")});
  f.vfs()[3]->SetCurrentPosition(0.5);
  f.vfs()[4]->SetCurrentPosition(1.0);
  f.Play();
  const auto command = [&](QMessageBox::StandardButton answer) {
    BoxAnswerer boxes(answer);
    f.start_sound_item()->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f.finding_start_sound(); }, 60000));
    QTest::qWait(50);
    return boxes.seen;
  };
  std::vector<SeenBox> seen = command(QMessageBox::Ok);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "開始音が見つかりません: No.4, No.5");
  const std::vector<double> at = Positions();
  EXPECT_EQ(Playing(), std::vector<bool>(5, false));
  EXPECT_LT(at[3], 1.0);  // paused by the command, where that left it
  const std::vector<double> onsets{1.5, 1.8, 3.2, at[3], at[4]};
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_NEAR(at[i], onsets[i], 0.002) << i;
    EXPECT_NEAR(f.time_list()[i].front(), onsets[i], 0.002) << i;
  }
  // Laps exist now: the panel's question comes first, answered yes.
  f.vfs()[0]->SetCurrentPosition(2.0);
  seen = command(QMessageBox::Yes);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].text, "開始音が見つかりません: No.2, No.3, No.4, No.5");
  EXPECT_NEAR(f.time_list()[0].front(), 4.0, 0.002);
  EXPECT_NEAR(f.time_list()[1].front(), 1.8, 0.002);
  // The progress dialog's cancel reaches every server: none is still searching afterwards, and
  // the positions and bases stay.
  BoxAnswerer yes(QMessageBox::Yes);
  for (VideoForm* vf : f.vfs())
    vf->SetCurrentPosition(0.0);
  f.start_sound_item()->trigger();
  ASSERT_TRUE(f.finding_start_sound());
  auto* progress = f.findChild<QProgressDialog*>();
  ASSERT_NE(progress, nullptr);
  emit progress->canceled();  // its cancel button
  EXPECT_FALSE(f.finding_start_sound());
  for (VideoForm* vf : f.vfs()) {
    int64_t onset = 0;
    EXPECT_NE(vf->client()->GetStartSound(&onset), channel::kStartSoundRunning) << vf->GetNumber();
  }
  EXPECT_NEAR(f.time_list()[0].front(), 4.0, 0.002);
}

// One server killed among three: that window is told and emptied, the others go on.
TEST_F(MainFormTest, KilledServerLeavesTheOthersPlaying) {
  MainForm& f = Start(ThreeMovies());
  BoxAnswerer boxes(QMessageBox::Ok);
  const std::vector<SeenBox>& seen = boxes.seen;
  ASSERT_EQ(kill(f.vfs()[1]->client()->server_pid(), SIGKILL), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.empty(); }, 10000));
  EXPECT_EQ(seen[0].caption, "No.2: mjpeg-pcm-4x3.avi");
  EXPECT_EQ(Titles(), (QStringList{"No.1: h264-aac-16x9.mp4", "No.2", "No.3: h264-noaudio.mp4"}));
  f.Play();
  EXPECT_TRUE(f.vfs()[0]->client()->IsPlaying());
  EXPECT_TRUE(f.vfs()[2]->client()->IsPlaying());
  f.SetBaseTime();  // refused while a window has no movie
  EXPECT_EQ(f.GetCountTime(), 0);
}

// More movies than the limit, from the command line, a drop or a lap file, are refused with a
// message before anything opens or closes.
TEST_F(MainFormTest, MoviesBeyondTheLimitAreRefusedBeforeAnythingChanges) {
  BoxAnswerer boxes(QMessageBox::Ok);
  const std::vector<SeenBox>& seen = boxes.seen;
  const QString limit = QString("動画は%1個まで開けます。").arg(MainForm::kMaxMovies);
  MainForm& f = Start(Missing(MainForm::kMaxMovies + 1));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, limit);
  EXPECT_TRUE(f.vfs().empty());
  f.Play();  // without movie windows these do nothing
  f.SetBaseTime();
  f.AlignVideoForms();
  EXPECT_EQ(Shape(), QSize(4, 2));  // no window: the caller's shape stays
  f.OpenMovies({MoviePath("h264-aac-16x9.mp4")});
  f.SetBaseTime();
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& path : Missing(MainForm::kMaxMovies))
    urls << QUrl::fromLocalFile(path);
  data.setUrls(urls);
  DragOver(&f, &data, /*drop=*/true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2u; }));
  EXPECT_EQ(seen[1].text, limit);
  QTemporaryDir dir;
  const QStringList names = Missing(MainForm::kMaxMovies + 1);
  const laps::LapFile many{names, laps::LapLists(size_t(names.size()), {1.0, 2.0})};
  ASSERT_TRUE(laps::SaveLapFile(&f, dir.filePath("many.xml"), many));
  {
    ModalWatcher load(TypeIntoFileDialog("", dir.filePath("many.xml")));
    f.open_lap_item()->trigger();
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].text, limit);
  EXPECT_EQ(Titles(), QStringList{"No.1: h264-aac-16x9.mp4"});
  EXPECT_TRUE(f.vfs()[0]->IsValid());
  EXPECT_EQ(f.GetCountTime(), 1);
}

// A movie whose notice window cannot be made (no socket left to the process) fails its open with
// a message, told once every open of the batch has finished; the others open and stay.
TEST_F(MainFormTest, AMovieWithoutAWindowFailsAloneAndIsToldAfterTheOthersOpened) {
  MainForm& f = Start({MoviePath("h264-aac-16x9.mp4")});
  std::vector<std::unique_ptr<ipc::MessagePort>> taken;
  for (;;) {
    try {
      taken.push_back(std::make_unique<ipc::MessagePort>([](const ipc::Message&) { return 0; }));
    } catch (const std::system_error&) {
      break;
    }
    ASSERT_LT(taken.size(), 300u);
  }
  taken.pop_back();  // one left, for the first of the two new movies
  std::vector<SeenBox> seen;
  std::vector<bool> valid_when_told;
  ModalWatcher boxes([&](QWidget* w) {
    auto* box = qobject_cast<QMessageBox*>(w);
    if (box == nullptr)
      return;
    seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
    for (VideoForm* vf : f.vfs())
      valid_when_told.push_back(vf->IsValid());
    box->accept();
  });
  f.OpenMovies({MoviePath("mjpeg-pcm-4x3.avi"), MoviePath("h264-noaudio.mp4")});
  taken.clear();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "No.3");
  EXPECT_EQ(seen[0].text, "動画ｳｨﾝﾄﾞｳを作成できません。");
  EXPECT_EQ(valid_when_told, (std::vector<bool>{true, true, false}));
  EXPECT_EQ(Titles(), (QStringList{"No.1: h264-aac-16x9.mp4", "No.2: mjpeg-pcm-4x3.avi", "No.3"}));
  f.Play();
  EXPECT_TRUE(f.vfs()[0]->client()->IsPlaying());
  EXPECT_TRUE(f.vfs()[1]->client()->IsPlaying());
}

// "ﾌｧｲﾙ > 比較動画を書き出す...": the choices reach the export role, the movie is written by a
// child process while the window goes on, and a cancel leaves nothing behind.
TEST_F(MainFormTest, ExportWritesTheComparisonInAChildProcessAndCancelsCleanly) {
  MainForm& f = Start({MoviePath("h264-aac-16x9.mp4"), MoviePath("h264-noaudio.mp4")});
  ASSERT_EQ(f.vfs().size(), 2u);
  QTemporaryDir dir;
  {
    BoxAnswerer boxes(QMessageBox::Ok);
    f.export_movie_item()->trigger();
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].text, "ラップデータがありません。");
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
  BoxAnswerer boxes(QMessageBox::Ok);
  auto* cancel = run->progress()->findChild<QPushButton*>();
  ASSERT_NE(cancel, nullptr);
  QTest::mouseClick(cancel, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Running() == nullptr; }, 60000));
  EXPECT_TRUE(boxes.seen.empty());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"comparison.mp4"});
}

// A user's close of the panel or of the lap table closes the main window and both of them;
// disposing it leaves no server process behind.
class ClosingTest : public MainFormTest, public testing::WithParamInterface<bool> {};

TEST_P(ClosingTest, ClosingAnOwnedWindowClosesAllAndLeavesNoServerBehind) {
  MainForm& f = Start(ThreeMovies());
  std::vector<pid_t> servers;
  for (VideoForm* vf : f.vfs())
    servers.push_back(vf->client()->server_pid());
  QWidget* owned = GetParam() ? static_cast<QWidget*>(f.cf()) : static_cast<QWidget*>(f.lf());
  EXPECT_FALSE(owned->close());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !f.isVisible(); }, 10000));
  EXPECT_FALSE(f.cf()->isVisible());
  EXPECT_FALSE(f.lf()->isVisible());
  form_.reset();
  for (pid_t pid : servers)
    EXPECT_TRUE(kill(pid, 0) != 0 && errno == ESRCH) << pid;
}

INSTANTIATE_TEST_SUITE_P(PanelAndLapTable, ClosingTest, testing::Bool());

}  // namespace
}  // namespace quorvex::test
