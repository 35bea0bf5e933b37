// The main window with real movie windows and server processes: placement, menus and dialogs,
// opening by command line, dialog and drop, numbering after closing, the control strips, the
// arrangement of the movie windows, fan-out from the control panel, laps and the lap file, no
// server left behind, and a killed server among others.
#include <gtest/gtest.h>
#include <signal.h>

#include <QtTest>
#include <QtWidgets>

#include <memory>

#include "app/MainForm.h"
#include "laps/LapFile.h"
#include "laps/LapForm.h"
#include "platform/ui/Fonts.h"
#include "tests/support/TestEnv.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"
#include "ui/ControlForm.h"
#include "ui/VideoForm.h"

namespace quorvex::test {
namespace {

constexpr double kUnits = 1e7;

QString MoviePath(const char* name) {
  return QString::fromStdString(Movie(name));
}

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

class MainFormTest : public testing::Test {
 protected:
  void SetUp() override { ui::SubstituteUiGothicFont(); }
  void TearDown() override { form_.reset(); }

  // Shows a main window that opens `files` once loaded, and waits until it has.
  MainForm& Start(const QStringList& files = {}) {
    ClientOptions options;
    options.server_path = QuorvexExe();
    form_ = std::make_unique<MainForm>(files, options);
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form_->loaded(); }, 60000));
    QTest::qWait(20);
    return *form_;
  }
  QStringList Titles() const {
    QStringList titles;
    for (VideoForm* vf : form_->vfs())
      titles << vf->windowTitle();
    return titles;
  }
  std::vector<QRect> Cells() const {
    std::vector<QRect> cells;
    for (VideoForm* vf : form_->vfs())
      cells.push_back(vf->geometry());
    return cells;
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

  std::unique_ptr<MainForm> form_;
};

// Fills the upper half, frame included, with the panel and the lap table below its frame, owned;
// offers its menus and dialogs; without movie windows every operation does nothing.
TEST_F(MainFormTest, EmptyMainWindowIsPlacedWithItsMenusAndDialogs) {
  MainForm& f = Start();
  const QRect work = f.screen()->availableGeometry();
  EXPECT_EQ(f.windowTitle(), "Quorvex");
  // Under a window manager the frames come later, when it chooses.
  const QRect upper_half(work.topLeft(), QSize(work.width(), work.height() / 2));
  auto below = [&f] { return f.frameGeometry().y() + f.frameGeometry().height(); };
  auto beside = [&f] { return f.cf()->frameGeometry().x() + f.cf()->frameGeometry().width(); };
  QTest::qWaitFor([&] {
    return f.frameGeometry() == upper_half &&
           f.cf()->frameGeometry().topLeft() == QPoint(0, below()) &&
           f.lf()->frameGeometry().topLeft() == QPoint(beside(), below());
  });
  EXPECT_EQ(f.frameGeometry(), upper_half);
  EXPECT_EQ(f.cf()->frameGeometry().topLeft(), QPoint(0, below()));
  EXPECT_EQ(f.lf()->frameGeometry().topLeft(), QPoint(beside(), below()));
  EXPECT_TRUE(f.cf()->isVisible());
  EXPECT_TRUE(f.lf()->isVisible());
  EXPECT_EQ(f.cf()->parentWidget(), &f);  // owned: above the main window, closed with it
  EXPECT_EQ(f.lf()->parentWidget(), &f);
  EXPECT_TRUE(f.acceptDrops());

  f.Play();
  f.Pause();
  f.Stop();
  f.SeekCurrentPosition(1.0);
  f.SetRate(0.25);
  f.SetBaseTime();
  f.AddTime();
  f.AlignVideoForms();
  EXPECT_EQ(f.GetCountTime(), 0);
  EXPECT_EQ(f.GetCountRow(), 0);
  EXPECT_EQ(Shape(), QSize(4, 2));  // no window: the caller's shape stays
  EXPECT_TRUE(f.IsVideoFormControlsShowing());
  f.ToggleVideoFormControlsShowing();
  EXPECT_FALSE(f.IsVideoFormControlsShowing());
  EXPECT_TRUE(f.vfs().empty());
}

// Windows are numbered in order with one lap column group each, renumbered when one closes;
// the strip setting reaches every window, one opened later too; the active one's menus join the
// menu bar.
TEST_F(MainFormTest, WindowsAreNumberedRenumberedAndFollowTheStripSetting) {
  MainForm& f = Start(Missing(3));
  ASSERT_EQ(f.vfs().size(), 3u);
  EXPECT_EQ(Titles(), (QStringList{"No.1", "No.2", "No.3"}));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(f.vfs()[size_t(i)]->GetNumber(), i);
  EXPECT_EQ(f.lf()->current_num_item(), 3);
  EXPECT_EQ(f.time_list(), (laps::LapLists{{}, {}, {}}));
  EXPECT_EQ(f.mdi_area()->subWindowList().size(), 3);
  f.mdi_area()->setActiveSubWindow(f.vfs()[0]);
  QStringList tops;
  for (QAction* a : f.menuBar()->actions())
    tops << a->text();
  EXPECT_EQ(tops, (QStringList{"ﾌｧｲﾙ", "ｳｨﾝﾄﾞｳ", "ﾂｰﾙ", "ﾌｧｲﾙ", "ｵﾌﾟｼｮﾝ"}));

  f.cf()->show_video_form_controls_item()->trigger();
  EXPECT_FALSE(f.cf()->show_video_form_controls_item()->isChecked());
  for (VideoForm* vf : f.vfs())
    EXPECT_FALSE(vf->control_panel_shown());
  f.OpenMovies(Missing(1));
  ASSERT_EQ(f.vfs().size(), 4u);
  EXPECT_FALSE(f.vfs()[3]->control_panel_shown());
  f.cf()->show_video_form_controls_item()->trigger();
  for (VideoForm* vf : f.vfs())
    EXPECT_TRUE(vf->control_panel_shown());

  VideoForm* third = f.vfs()[2];
  f.vfs()[1]->close();
  ASSERT_EQ(f.vfs().size(), 3u);
  EXPECT_EQ(f.vfs()[1], third);
  EXPECT_EQ(third->GetNumber(), 1);
  EXPECT_EQ(Titles(), (QStringList{"No.1: ", "No.2: ", "No.3: "}));  // all renumbered
  EXPECT_EQ(f.lf()->current_num_item(), 3);
  EXPECT_EQ(f.time_list().size(), 3u);

  f.CloseAllVideoForms();
  EXPECT_TRUE(f.vfs().empty());
  EXPECT_TRUE(f.time_list().empty());
  EXPECT_EQ(f.lf()->current_num_item(), 0);
  f.OpenMovies(Missing(2));
  while (!f.vfs().empty())
    f.vfs().back()->close();
  EXPECT_TRUE(f.time_list().empty());
  EXPECT_EQ(f.lf()->current_num_item(), 0);
  QTest::qWait(20);
  EXPECT_TRUE(f.mdi_area()->subWindowList().isEmpty());
}

TEST_F(MainFormTest, DroppedFilesOpenInTheDroppedOrder) {
  MainForm& f = Start();
  const QStringList files{MoviePath("mjpeg-pcm-4x3.avi"), MoviePath("h264-aac-16x9.mp4")};
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(files[0]), QUrl::fromLocalFile(files[1])});
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&f, &enter);
  EXPECT_TRUE(enter.isAccepted());
  EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&f, &drop);
  ASSERT_TRUE(QTest::qWaitFor([&] { return f.vfs().size() == 2u; }, 60000));
  QTest::qWait(50);
  EXPECT_EQ(Titles(), (QStringList{"No.1: mjpeg-pcm-4x3.avi", "No.2: h264-aac-16x9.mp4"}));
  EXPECT_EQ(f.lf()->current_num_item(), 2);
  // Text is no file list: refused.
  QMimeData text;
  text.setText("hello");
  QDragEnterEvent refused(QPoint(100, 100), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&f, &refused);
  EXPECT_FALSE(refused.isAccepted());
}

TEST_F(MainFormTest, OpenDialogOpensTheSelectedFilesInItsOrder) {
  MainForm& f = Start();
  {
    ModalWatcher watcher(
        TypeIntoFileDialog(QFileInfo(MoviePath("h264-aac-16x9.mp4")).path(),
                           "\"h264-noaudio.mp4\" \"mjpeg-pcm-4x3.avi\" \"h264-aac-16x9.mp4\""));
    f.open_movie_item()->trigger();
  }
  ASSERT_EQ(f.vfs().size(), 3u);
  EXPECT_EQ(f.lf()->current_num_item(), 3);
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

// The grid shape with the largest picture, filled row by row; the client rectangle goes to the
// diagnostic output on every arrangement.
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
      {3, {1500, 300}, {3, 1}, {{0, 0, 500, 300}, {500, 0, 500, 300}, {1000, 0, 500, 300}}},
      {3, {400, 900}, {1, 3}, {{0, 0, 400, 300}, {0, 300, 400, 300}, {0, 600, 400, 300}}}};
  MainForm& f = Start();
  static QStringList messages;
  for (const Case& c : cases) {
    f.CloseAllVideoForms();
    f.OpenMovies(Missing(c.windows));
    SetClientSize(c.client.width(), c.client.height());
    messages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext& context, const QString& text) {
          messages << QString(context.category) + ": " + text;
        });
    f.AlignVideoForms();
    qInstallMessageHandler(previous);
    EXPECT_EQ(Shape(), c.shape) << c.windows;
    EXPECT_EQ(Cells(), c.cells) << c.windows;
    EXPECT_TRUE(messages.contains(QString("quorvex.layout: client rectangle QRect(0,0 %1x%2)")
                                      .arg(c.client.width())
                                      .arg(c.client.height())))
        << ::testing::PrintToString(messages);
  }
}

// Two windows: one column of two rows against two columns of one row. Among client sizes
// where both pictures have the same area, the single column must win.
TEST_F(MainFormTest, EqualAreasKeepTheFewerColumns) {
  Start(Missing(2));
  VideoForm* first = form_->vfs()[0];
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
  // One pixel wider and two columns give more.
  SetClientSize(tie_width + 2, h);
  EXPECT_EQ(Shape(), QSize(2, 1));
}

// While checked, resizes, opening and closing rearrange; unchecked, nothing moves until the
// next resize after checking again; arranging by hand works whatever the setting, also when a
// window opens while it runs.
TEST_F(MainFormTest, AutomaticArrangementFollowsResizesOnlyWhileChecked) {
  Start(Missing(2));
  auto two = [](int w, int h) { return std::vector<QRect>{{0, 0, w, h}, {w, 0, w, h}}; };
  SetClientSize(1000, 400);  // checked at start
  EXPECT_EQ(Cells(), two(500, 400));
  form_->auto_alignment_item()->trigger();  // off
  EXPECT_FALSE(form_->auto_alignment_item()->isChecked());
  SetClientSize(1200, 500);
  EXPECT_EQ(Cells(), two(500, 400));
  form_->auto_alignment_item()->trigger();  // on again
  EXPECT_EQ(Cells(), two(500, 400));
  SetClientSize(1200, 480);
  EXPECT_EQ(Cells(), two(600, 480));
  form_->auto_alignment_item()->trigger();  // off
  SetClientSize(1200, 400);
  form_->align_item()->trigger();
  EXPECT_EQ(Cells(), two(600, 400));
  form_->auto_alignment_item()->trigger();  // on
  form_->OpenMovies(Missing(1));
  EXPECT_EQ(Cells(),
            (std::vector<QRect>{{0, 0, 400, 400}, {400, 0, 400, 400}, {800, 0, 400, 400}}));
  form_->vfs()[0]->close();
  EXPECT_EQ(Cells(), two(600, 400));
  // A window opened by the events the arrangement processes gets a cell of the new grid.
  form_->auto_alignment_item()->trigger();  // off
  QTimer::singleShot(0, form_.get(), [this] { form_->OpenMovies(Missing(1)); });
  form_->AlignVideoForms();
  EXPECT_EQ(Cells(),
            (std::vector<QRect>{{0, 0, 400, 400}, {400, 0, 400, 400}, {800, 0, 400, 400}}));
}

// Each movie steps from its own position by the same amount; rates and play/pause reach all.
TEST_F(MainFormTest, PanelDrivesEveryMovie) {
  MainForm& f = Start(ThreeMovies());
  EXPECT_EQ(Titles(), (QStringList{"No.1: h264-aac-16x9.mp4", "No.2: mjpeg-pcm-4x3.avi",
                                   "No.3: h264-noaudio.mp4"}));
  for (size_t i = 0; i < 3; ++i)
    f.vfs()[i]->SetCurrentPosition(1.0 + double(i));
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

// Left/Right in the main window step every movie by one frame of its own rate (25 and 60 fps)
// and leave them all paused, the panel's button offering play again.
TEST_F(MainFormTest, ArrowKeysStepEveryMovieByOneOfItsOwnFrames) {
  MainForm& f = Start({MoviePath("h264-25fps.mp4"), MoviePath("h264-60fps.mp4")});
  for (VideoForm* vf : f.vfs())
    vf->SetCurrentPosition(0.41);  // inside frame 10 at 25 fps, frame 24 at 60 fps
  QTest::keyClick(&f, Qt::Key_Right);
  std::vector<double> at = Positions();
  EXPECT_NEAR(at[0], 11 / 25.0, 2e-7);
  EXPECT_NEAR(at[1], 25 / 60.0, 2e-7);
  QTest::keyClick(&f, Qt::Key_Left);
  QTest::keyClick(&f, Qt::Key_Left);
  at = Positions();
  EXPECT_NEAR(at[0], 9 / 25.0, 2e-7);
  EXPECT_NEAR(at[1], 23 / 60.0, 2e-7);
  Click(f.cf()->start_button());
  EXPECT_EQ(Playing(), (std::vector<bool>{true, true}));
  QTest::keyClick(&f, Qt::Key_Right);
  EXPECT_EQ(Playing(), (std::vector<bool>{false, false}));
  EXPECT_EQ(f.cf()->start_button()->text(), "再生");
}

// Base and mark through the panel, a row selection seeking every movie, the refusal of a mark
// before the base, and opening another movie emptying the rows while the bases stay.
TEST_F(MainFormTest, LapMarksAndRowSelectionMoveEveryMovie) {
  MainForm& f = Start({MoviePath("h264-aac-16x9.mp4"), MoviePath("mjpeg-pcm-4x3.avi")});
  f.vfs()[0]->SetCurrentPosition(1.0);
  f.vfs()[1]->SetCurrentPosition(2.0);
  Click(f.cf()->base_time_set_button());  // no laps yet: no question
  EXPECT_EQ(f.GetCountTime(), 1);
  Click(f.cf()->step_button(5));
  Click(f.cf()->time_add_button());
  ASSERT_EQ(f.GetCountTime(), 2);
  EXPECT_EQ(f.lf()->grid()->rowCount(), 2);
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
  EXPECT_EQ(seen[0].text, "基準位置より前の位置をセットすることはできません。");
  EXPECT_EQ(f.GetCountTime(), 2);

  f.OpenMovies({MoviePath("h264-noaudio.mp4")});
  EXPECT_EQ(f.GetCountTime(), 0);
  EXPECT_EQ(f.lf()->grid()->rowCount(), 0);
  EXPECT_EQ(f.lf()->current_num_item(), 3);
  EXPECT_NEAR(f.vfs()[1]->base_time_units() / kUnits, 2.0, 0.002);
  EXPECT_EQ(f.vfs()[2]->base_time_units(), 0);
}

// A lap file saved from the menu loads back into the same movies, bases and rows; a file that
// cannot be read leaves what is open.
TEST_F(MainFormTest, LapFileRoundTripThroughTheMenus) {
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
  {
    ModalWatcher save(TypeIntoFileDialog("", dir.filePath("laps")));  // the suffix is added
    f.save_lap_item()->trigger();
  }
  ASSERT_TRUE(QFileInfo::exists(dir.filePath("laps.xml")));

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
  std::vector<SeenBox> seen;
  {
    std::unique_ptr<ModalWatcher> boxes(ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
    ModalWatcher load(TypeIntoFileDialog("", dir.filePath("broken.xml")));
    f.open_lap_item()->trigger();
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].text.startsWith("ﾌｧｲﾙの読み込みに失敗しました。\n"));
  EXPECT_EQ(f.vfs().size(), 2u);  // the open movies stay
  EXPECT_EQ(f.GetCountTime(), 2);
}

// "音でｽﾀｰﾄを合わせる" over a shot, a beep and a whistle behind babble or wind, a clip without a
// start and a movie without sound: the first three stand paused on their onsets, which are their
// bases in the lap file within 2 ms; the other two keep their positions as bases and are named in
// one box. A second command, the shot's movie moved past its first shot, finds the second.
TEST_F(MainFormTest, StartSoundLinesUpEveryMovie) {
  MainForm& f = Start({MoviePath("start-gun.avi"), MoviePath("start-beep.avi"),
                       MoviePath("start-whistle.avi"), MoviePath("start-none.avi"),
                       MoviePath("h264-noaudio.mp4")});
  ASSERT_EQ(f.vfs().size(), 5u);
  f.vfs()[3]->SetCurrentPosition(0.5);
  f.vfs()[4]->SetCurrentPosition(1.0);
  f.Play();
  const auto command = [&](QMessageBox::StandardButton answer) {
    std::vector<SeenBox> seen;
    std::unique_ptr<ModalWatcher> w(ModalWatcher::AnsweringBoxes(answer, &seen));
    f.start_sound_item()->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !f.finding_start_sound(); }, 60000));
    QTest::qWait(50);
    return seen;
  };
  std::vector<SeenBox> seen = command(QMessageBox::Ok);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "開始音が見つかりません: No.4, No.5");
  EXPECT_EQ(seen[0].icon, QMessageBox::Information);
  // The last two were playing until the command paused them: they stay where that left them.
  const std::vector<double> at = Positions();
  const std::vector<double> onsets{1.5, 1.8, 3.2, at[3], at[4]};
  EXPECT_EQ(Playing(), std::vector<bool>(5, false));
  EXPECT_LT(at[3], 1.0);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_NEAR(at[i], onsets[i], 0.002) << i;

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  {
    ModalWatcher save(TypeIntoFileDialog("", dir.filePath("laps.xml")));
    f.save_lap_item()->trigger();
  }
  const laps::LapFileReadResult read = laps::ReadLapFile(dir.filePath("laps.xml"));
  ASSERT_TRUE(read.file.has_value()) << read.error.toStdString();
  ASSERT_EQ(read.file->time_list.size(), 5u);
  for (size_t i = 0; i < 5; ++i)
    EXPECT_NEAR(read.file->time_list[i].front(), onsets[i], 0.002) << i;

  // Laps exist now: the panel's question comes first, answered yes.
  f.vfs()[0]->SetCurrentPosition(2.0);
  seen = command(QMessageBox::Yes);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].icon, QMessageBox::Question);
  EXPECT_EQ(seen[1].text, "開始音が見つかりません: No.2, No.3, No.4, No.5");
  EXPECT_NEAR(f.time_list()[0].front(), 4.0, 0.002);
  EXPECT_NEAR(f.time_list()[1].front(), 1.8, 0.002);
}

// One server killed among three: that window is told and emptied, the others go on.
TEST_F(MainFormTest, KilledServerLeavesTheOthersPlaying) {
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

// Renumbered titles keep their file names. A user's close of the panel or of the lap table
// closes the main window and both of them; disposing it leaves no server process behind.
class ClosingTest : public MainFormTest, public testing::WithParamInterface<bool> {};

TEST_P(ClosingTest, ClosingAnOwnedWindowClosesAllAndLeavesNoServerBehind) {
  MainForm& f = Start(ThreeMovies());
  std::vector<pid_t> servers;
  for (VideoForm* vf : f.vfs())
    servers.push_back(vf->client()->server_pid());
  f.vfs()[1]->close();
  EXPECT_EQ(Titles(), (QStringList{"No.1: h264-aac-16x9.mp4", "No.2: h264-noaudio.mp4"}));
  EXPECT_EQ(f.lf()->current_num_item(), 2);
  QWidget* owned = GetParam() ? static_cast<QWidget*>(f.cf()) : static_cast<QWidget*>(f.lf());
  EXPECT_FALSE(owned->close());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !f.isVisible(); }, 10000));
  EXPECT_FALSE(f.cf()->isVisible());
  EXPECT_FALSE(f.lf()->isVisible());
  EXPECT_TRUE(f.vfs().empty());
  form_.reset();
  for (pid_t pid : servers)
    EXPECT_TRUE(kill(pid, 0) != 0 && errno == ESRCH) << pid;
}

INSTANTIATE_TEST_SUITE_P(PanelAndLapTable, ClosingTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Panel" : "LapTable");
                         });

}  // namespace
}  // namespace quorvex::test
