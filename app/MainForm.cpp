#include "app/MainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include "laps/LapFile.h"
#include "laps/LapForm.h"
#include "platform/ui/FileDialogFilter.h"
#include "platform/ui/MenuMerge.h"
#include "platform/ui/MessageBox.h"
#include "ui/ControlForm.h"
#include "ui/VideoForm.h"

namespace quorvex {

namespace {

// Paths of the local files that dragged data offers, in its order.
QStringList DroppedFiles(const QMimeData* data) {
  QStringList files;
  if (data == nullptr || !data->hasUrls())
    return files;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile())
      files << url.toLocalFile();
  }
  return files;
}

}  // namespace

MainForm::MainForm(const QStringList& files, const ClientOptions& options, QWidget* parent)
    : QMainWindow(parent), files_(files), options_(options) {
  setWindowTitle(QStringLiteral("Quorvex"));
  setAcceptDrops(true);
  mdi_ = new QMdiArea(this);
  setCentralWidget(mdi_);
  BuildMenus();
  BuildDialogs();
  new ui::MdiMenuMerger(menuBar(), mdi_);

  // The upper half of the working area of the window's screen. Until the window manager has
  // framed the window, its frame is its inside; FollowFrames then fits the frame to the half.
  const QRect work = screen()->availableGeometry();
  move(work.topLeft());
  resize(work.width(), work.height() / 2);

  lf_ = new LapForm(*this, this);
  lf_->show();
  cf_ = new ControlForm(*this, this);
  cf_->show();
  cf_->installEventFilter(this);
  PlaceWindows();
}

MainForm::~MainForm() {
  FinishStartSound(false);  // gives the cursor back
  // The movie windows go first, while the panel, the lap table and the menus they reach are
  // still whole; each ends its server.
  for (VideoForm* vf : mdi_->findChildren<VideoForm*>())
    delete vf;
  vfs_.clear();
}

void MainForm::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ"));
  open_movie_ = file->addAction(QStringLiteral("動画を開く..."));
  open_movie_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  file->addSeparator();
  open_lap_ = file->addAction(QStringLiteral("ﾗｯﾌﾟを開く..."));
  save_lap_ = file->addAction(QStringLiteral("ﾗｯﾌﾟを保存..."));
  save_csv_ = file->addAction(QStringLiteral("CSVで保存..."));
  export_movie_ = file->addAction(QStringLiteral("比較動画を書き出す..."));
  QMenu* window = menuBar()->addMenu(QStringLiteral("ｳｨﾝﾄﾞｳ"));
  align_ = window->addAction(QStringLiteral("整列"));
  auto_alignment_ = window->addAction(QStringLiteral("自動整列"));
  auto_alignment_->setCheckable(true);
  auto_alignment_->setChecked(true);
  QMenu* tools = menuBar()->addMenu(QStringLiteral("ﾂｰﾙ"));
  start_sound_ = tools->addAction(QStringLiteral("音でｽﾀｰﾄを合わせる"));
  search_timer_ = new QTimer(this);
  search_timer_->setInterval(20);

  connect(open_movie_, &QAction::triggered, this, &MainForm::open_movie__Click);
  connect(open_lap_, &QAction::triggered, this, &MainForm::open_lap__Click);
  connect(save_lap_, &QAction::triggered, this, &MainForm::save_lap__Click);
  connect(save_csv_, &QAction::triggered, this, &MainForm::save_csv__Click);
  connect(export_movie_, &QAction::triggered, this, &MainForm::export_movie__Click);
  connect(align_, &QAction::triggered, this, &MainForm::align__Click);
  connect(auto_alignment_, &QAction::triggered, this, &MainForm::auto_alignment__Click);
  connect(start_sound_, &QAction::triggered, this, &MainForm::start_sound__Click);
  connect(search_timer_, &QTimer::timeout, this, &MainForm::PollStartSound);
}

void MainForm::BuildDialogs() {
  // Qt's own dialogs: the same on every desktop, and they honour every option set here.
  const QString all = QStringLiteral("|すべてのﾌｧｲﾙ|*.*");
  open_movie_file_dialog_ = new QFileDialog(this);
  open_movie_file_dialog_->setOption(QFileDialog::DontUseNativeDialog);
  open_movie_file_dialog_->setFileMode(QFileDialog::ExistingFiles);
  open_movie_file_dialog_->setNameFilters(ui::FileDialogFilters(
      QStringLiteral("Movie files (*.avi;*.mpg;*.mp4;*.mov;*.wmv)|*.avi;*.mpg;*.mp4;*.mov;*.wmv") +
      all));

  const QStringList xml = ui::FileDialogFilters(QStringLiteral("XML files (*.xml)|*.xml") + all);
  open_xml_file_dialog_ = new QFileDialog(this);
  open_xml_file_dialog_->setOption(QFileDialog::DontUseNativeDialog);
  open_xml_file_dialog_->setFileMode(QFileDialog::ExistingFile);
  open_xml_file_dialog_->setNameFilters(xml);

  saveFileDialog = new QFileDialog(this);
  saveFileDialog->setOption(QFileDialog::DontUseNativeDialog);
  saveFileDialog->setAcceptMode(QFileDialog::AcceptSave);
  saveFileDialog->setFileMode(QFileDialog::AnyFile);
  saveFileDialog->setDefaultSuffix(QStringLiteral("xml"));
  saveFileDialog->setNameFilters(xml);

  save_csv_file_dialog_ = new QFileDialog(this);
  save_csv_file_dialog_->setOption(QFileDialog::DontUseNativeDialog);
  save_csv_file_dialog_->setAcceptMode(QFileDialog::AcceptSave);
  save_csv_file_dialog_->setFileMode(QFileDialog::AnyFile);
  save_csv_file_dialog_->setDefaultSuffix(QStringLiteral("csv"));
  save_csv_file_dialog_->setNameFilters(
      ui::FileDialogFilters(QStringLiteral("CSV files (*.csv)|*.csv") + all));
}

namespace {

// Whether the window manager has reported a frame around `window` (never, without one).
bool HasFrame(const QWidget* window) {
  const QWindow* handle = window->windowHandle();
  return handle != nullptr && !handle->frameMargins().isNull();
}

}  // namespace

void MainForm::FollowFrames() {
  if (cf_ == nullptr)
    return;  // still being built
  // Each frame counts once: afterwards the windows are the user's to move.
  const bool main_framed = !main_framed_ && HasFrame(this);
  const bool panel_framed = !panel_framed_ && HasFrame(cf_);
  if (!main_framed && !panel_framed)
    return;
  main_framed_ = main_framed_ || main_framed;
  panel_framed_ = panel_framed_ || panel_framed;
  if (main_framed) {
    const QRect work = screen()->availableGeometry();
    const QMargins frame = windowHandle()->frameMargins();
    move(work.topLeft());
    resize(work.width() - frame.left() - frame.right(),
           work.height() / 2 - frame.top() - frame.bottom());
  }
  PlaceWindows();
}

void MainForm::PlaceWindows() {
  // The panel and the lap table side by side directly below the main window, the panel left.
  const QRect outer = frameGeometry();
  const int bottom = outer.y() + outer.height();
  cf_->move(0, bottom);
  const QRect panel = cf_->frameGeometry();
  lf_->move(panel.x() + panel.width(), bottom);
}

// ---- Opening, numbering, closing ----

void MainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (load_posted_)
    return;
  load_posted_ = true;
  // Once the window is on the screen: starting servers takes a while, and the user should see
  // the windows appear one by one.
  QTimer::singleShot(0, this, &MainForm::MainForm_Load);
}

void MainForm::MainForm_Load() {
  // "Open with" of a file manager hands over a lap file as the only argument.
  if (files_.size() == 1 && laps::LooksLikeLapFile(files_.front()))
    LoadLapFile(files_.front());
  else
    OpenMovies(files_);
  loaded_ = true;
}

bool MainForm::RefuseBeyondLimit(qsizetype after) {
  if (after <= kMaxMovies)
    return false;
  ui::ShowMessageBox(this, QStringLiteral("動画は%1個まで開けます。").arg(kMaxMovies),
                     windowTitle(), ui::MessageBoxButtons::kOk, ui::MessageBoxIcon::kWarning);
  return true;
}

void MainForm::OpenMovies(const QStringList& paths) {
  if (RefuseBeyondLimit(qsizetype(vfs_.size()) + paths.size()))
    return;
  OpenInNewWindows(paths);
  lf_->ClearRows();
  time_list_.Reset(int(vfs_.size()));
  if (auto_alignment_->isChecked())
    AlignVideoForms();
}

std::vector<QPointer<VideoForm>> MainForm::OpenInNewWindows(const QStringList& paths) {
  // Every server starts, then every one opens its file, then each first picture is collected:
  // the movies open side by side instead of one after another. What went wrong is told once
  // every open has finished: a box's event loop must not run while a reply is awaited. A
  // window closed meanwhile drops out of the lists.
  std::vector<QPointer<VideoForm>> opening, all;
  for (const QString& path : paths) {
    VideoForm* vf = AddVideoForm();
    all.push_back(vf);
    if (vf->StartOpening(path))
      opening.push_back(vf);
    lf_->AddItem();
  }
  for (const QPointer<VideoForm>& vf : opening)
    if (vf)
      vf->SendOpen();
  for (const QPointer<VideoForm>& vf : opening)
    if (vf)
      vf->FinishOpening();
  for (const QPointer<VideoForm>& vf : all)
    if (vf)
      vf->ReportOpenFailure();
  return all;
}

VideoForm* MainForm::AddVideoForm() {
  const int n = int(vfs_.size());
  auto* vf = new VideoForm(*this, n, mdi_, options_);
  vfs_.push_back(vf);
  connect(vf, &VideoForm::FormClosing, this,
          [this, vf](ui::CloseReason reason) { VideoForm_FormClosing(vf, reason); });
  vf->show();
  return vf;
}

void MainForm::VideoForm_FormClosing(VideoForm* form, ui::CloseReason reason) {
  if (reason != ui::CloseReason::kUserClosing)
    return;  // the main window is closing: the lists go with it
  RemoveMovie(form->GetNumber());
}

void MainForm::RemoveMovie(int index) {
  if (index < 0 || index >= int(vfs_.size()))
    return;
  vfs_.erase(vfs_.begin() + index);
  for (size_t i = 0; i < vfs_.size(); ++i)
    vfs_[i]->SetNumber(int(i));
  time_list_.RemoveMovie(index);
  lf_->DeleteBackItem();
  lf_->SetDataGridView(time_list_.time_list());
  if (auto_alignment_->isChecked())
    AlignVideoForms();
}

void MainForm::CloseAllVideoForms() {
  while (!vfs_.empty()) {
    VideoForm* first = vfs_.front();
    first->close();
    if (!vfs_.empty() && vfs_.front() == first)
      RemoveMovie(0);  // it refused to close: it must still leave the list, or this never ends
  }
}

void MainForm::closeEvent(QCloseEvent* event) {
  ui::ContainerClosingScope closing(this);
  ui::CloseOwnedWindows(this);
  mdi_->closeAllSubWindows();
  // The movie windows are disposed with the container; the list must not outlive them.
  vfs_.clear();
  event->accept();
}

void MainForm::open_movie__Click() {
  if (open_movie_file_dialog_->exec() != QDialog::Accepted)
    return;
  OpenMovies(open_movie_file_dialog_->selectedFiles());
}

void MainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFiles(event->mimeData()).isEmpty() && (event->possibleActions() & Qt::CopyAction)) {
    event->setDropAction(Qt::CopyAction);
    event->accept();
  } else {
    event->ignore();
  }
}

void MainForm::dropEvent(QDropEvent* event) {
  const QStringList files = DroppedFiles(event->mimeData());
  if (files.isEmpty()) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::CopyAction);
  event->accept();
  // Opened once the drop has been answered: the source application waits for the answer.
  QTimer::singleShot(0, this, [this, files] { OpenMovies(files); });
}

// ---- Driving all movies ----

void MainForm::Play() {
  for (size_t i = 0; i < vfs_.size(); ++i)
    vfs_[i]->Play();
}

void MainForm::Pause() {
  for (size_t i = 0; i < vfs_.size(); ++i)
    vfs_[i]->Pause();
}

void MainForm::Stop() {
  for (size_t i = 0; i < vfs_.size(); ++i)
    vfs_[i]->Stop();
}

void MainForm::SeekCurrentPosition(double step_seconds) {
  for (size_t i = 0; i < vfs_.size(); ++i)
    vfs_[i]->SeekCurrentPosition(step_seconds);
}

void MainForm::StepFrames(int32_t frames) {
  for (size_t i = 0; i < vfs_.size(); ++i)
    vfs_[i]->StepFrames(frames);
}

void MainForm::ZoomAll(double factor, double view_x, double view_y) {
  for (size_t i = 0; i < vfs_.size(); ++i)
    vfs_[i]->ZoomAt(factor, view_x, view_y);
}

void MainForm::ResetZoomAll() {
  for (size_t i = 0; i < vfs_.size(); ++i)
    vfs_[i]->ResetZoom();
}

void MainForm::SetRate(double rate) {
  for (size_t i = 0; i < vfs_.size(); ++i)
    vfs_[i]->SetRate(rate);
}

void MainForm::ToggleVideoFormControlsShowing() {
  show_video_form_controls_ = !show_video_form_controls_;
  for (size_t i = 0; i < vfs_.size(); ++i)
    vfs_[i]->ShowControlPanel(show_video_form_controls_);
}

}  // namespace quorvex
