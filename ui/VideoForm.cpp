#include "ui/VideoForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "engine/ChannelTerms.h"
#include "engine/MovieUtils.h"
#include "hosting/Channel.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/NumberFormat.h"
#include "platform/ui/TrackBar.h"
#include "ui/SplitContainer.h"

namespace quorvex {

namespace {

constexpr QSize kClientSize(401, 273);  // the window's designed client area
constexpr int kDesignSplitterDistance = 230;
constexpr int kStripHeight = 42;
constexpr double kUnitsPerSecond = double(media::kUnitsPerSecond);

// The panel the server draws into. Qt paints nothing on it: it has no paint engine.
class VideoPanel : public QWidget {
 public:
  QPaintEngine* paintEngine() const override { return nullptr; }
};

// Seconds to 100-ns units, truncated toward zero. Saturates instead of overflowing (NaN is 0),
// so that no input can make the conversion undefined.
int64_t SecondsToUnits(double seconds) {
  const double units = std::trunc(seconds * kUnitsPerSecond);
  if (std::isnan(units))
    return 0;
  if (units >= 9.2e18)
    return std::numeric_limits<int64_t>::max();
  if (units <= -9.2e18)
    return std::numeric_limits<int64_t>::min();
  return int64_t(units);
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum))
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  return sum;
}

// The control strip is a table of 12 columns of fixed widths (the last takes the rest) and two
// rows of 21 pixels; every control has a fixed size inside its cell.
constexpr int kColumnWidths[11] = {45, 5, 40, 40, 40, 5, 40, 40, 40, 5, 20};
constexpr int kRowHeight = kStripHeight / 2;

// The wheel's unit: one notch of a common wheel; finer wheels and touch pads send parts of it.
constexpr double kWheelNotch = 120.0;

QString KeyText(QKeyCombination key) {
  return QKeySequence(key).toString(QKeySequence::NativeText);
}

int ColumnX(int column) {
  int x = 0;
  for (int c = 0; c < column; ++c)
    x += kColumnWidths[c];
  return x;
}

}  // namespace

int32_t VolumeFromBar(int bar_value) {
  return bar_value == -10000 ? -10000 : bar_value / 2;
}

VideoForm::VideoForm(ControlInterface& ctrl, int number, QMdiArea* area,
                     const ClientOptions& options)
    : ctrl_(ctrl), options_(options), no_(number) {
  setAttribute(Qt::WA_DeleteOnClose);
  BuildControls();
  BuildMenus();
  Retitle(false);
  TakeSizeDifferences(area);
  ShowControlPanel(ctrl_.IsVideoFormControlsShowing());
  timer1->start();
}

VideoForm::~VideoForm() {
  timer1->stop();
  // The server's window lives inside the video panel: end the server before the panel goes.
  mov_.Destroy();
}

void VideoForm::BuildControls() {
  movie_window0_ = new SplitContainer(nullptr, new VideoPanel);
  movie_window0_->resize(kClientSize);
  movie_window0_->SetPanel2MinSize(kStripHeight);
  movie_window0_->SetSplitterDistance(kDesignSplitterDistance);
  setWidget(movie_window0_);

  // The server draws into this panel's X window from another process: Qt must neither paint
  // it nor give it a background of its own.
  QWidget* panel = movie_window0_->Panel1();
  panel->setAttribute(Qt::WA_DontCreateNativeAncestors);
  panel->setAttribute(Qt::WA_NativeWindow);
  panel->setAttribute(Qt::WA_PaintOnScreen);
  panel->setAttribute(Qt::WA_NoSystemBackground);
  panel->setAttribute(Qt::WA_OpaquePaintEvent);
  panel->setUpdatesEnabled(false);
  panel->setAcceptDrops(true);
  panel->installEventFilter(this);
  // The server's windows inside the panel select no pointer events: X passes them on to it.
  panel->setToolTip(
      QStringLiteral("ﾎｲｰﾙ: 拡大/縮小 (Ctrl+ﾎｲｰﾙ: すべての動画)\nﾄﾞﾗｯｸﾞ: 移動\n"
                     "ﾀﾞﾌﾞﾙｸﾘｯｸ: 全体を表示\n%1 / %2 / %3: すべての動画の拡大/縮小/全体")
          .arg(KeyText(Qt::CTRL | Qt::Key_Plus), KeyText(Qt::CTRL | Qt::Key_Minus),
               KeyText(Qt::CTRL | Qt::Key_0)));

  tableLayoutPanel1 = new QWidget(movie_window0_->Panel2());
  auto* fill = new QVBoxLayout(movie_window0_->Panel2());
  fill->setContentsMargins(0, 0, 0, 0);
  fill->addWidget(tableLayoutPanel1);
  BuildStrip(tableLayoutPanel1);

  timer1 = new QTimer(this);
  timer1->setInterval(100);
  connect(timer1, &QTimer::timeout, this, &VideoForm::timer1_Tick);
}

void VideoForm::BuildStrip(QWidget* strip) {
  auto* bar = new ui::TrackBar(Qt::Horizontal, ui::TrackBar::Clicks::kReportsClicks, strip);
  bar->setRange(0, 100);
  bar->setPageStep(10);
  bar->setGeometry(ColumnX(0), 2, 288, 19);  // row 0, columns 0-8, top margin 2
  connect(bar, &ui::TrackBar::Scroll, this, &VideoForm::track_bar0__Scroll);
  connect(bar, &ui::TrackBar::Click, this, &VideoForm::track_bar0__Click);
  track_bar0_ = bar;

  time_text_ = new QLineEdit(strip);
  time_text_->setReadOnly(true);
  time_text_->setAlignment(Qt::AlignCenter);
  time_text_->setFocusPolicy(Qt::NoFocus);
  time_text_->setTextMargins(0, 0, 0, 0);
  time_text_->setGeometry(ColumnX(0), kRowHeight, 45, 19);

  const int columns[6] = {2, 3, 4, 6, 7, 8};
  for (int i = 0; i < 6; ++i) {
    auto* b = new QPushButton(QString::fromLatin1(kStepTexts[i]), strip);
    b->setGeometry(ColumnX(columns[i]), kRowHeight, 40, kRowHeight);
    // "-0.33", "-0.03", "+0.03" and "+0.17" carry the Japanese UI font; the others the window's.
    if (i == 0 || i == 2 || i == 3 || i == 4)
      b->setFont(ui::UiGothicFont(9));
    connect(b, &QPushButton::clicked, this, [this, i] { step_button__Click(i); });
    step_buttons_[size_t(i)] = b;
  }

  auto* volume = new ui::TrackBar(Qt::Vertical, ui::TrackBar::Clicks::kPages, strip);
  volume->setRange(-10000, 0);
  volume->setValue(0);
  volume->setSingleStep(100);
  volume->setPageStep(1000);
  volume->setGeometry(ColumnX(10), 0, 20, kStripHeight);  // column 10, both rows
  connect(volume, &ui::TrackBar::Scroll, this, &VideoForm::volume_bar__Scroll);
  volume_bar_ = volume;
}

void VideoForm::BuildMenus() {
  // The main menu strip stays hidden: its menus show in the main window's menu bar while this
  // window is the active child.
  menuStrip1 = new QMenuBar(this);
  menuStrip1->hide();
  QMenu* file = menuStrip1->addMenu(QStringLiteral("ﾌｧｲﾙ"));
  open_movie_ = file->addAction(QStringLiteral("開く"));
  QMenu* options = menuStrip1->addMenu(QStringLiteral("ｵﾌﾟｼｮﾝ"));
  const_pitch_ = options->addAction(QStringLiteral("音声ﾋﾟｯﾁ一定"));
  testToolStripMenuItem = options->addAction(QStringLiteral("test"));

  contextMenuStrip1 = new QMenu(this);
  QMenu* file2 = contextMenuStrip1->addMenu(QStringLiteral("ﾌｧｲﾙ"));
  open_movie2_ = file2->addAction(QStringLiteral("動画を開く..."));
  QMenu* options2 = contextMenuStrip1->addMenu(QStringLiteral("ｵﾌﾟｼｮﾝ"));
  const_pitch2_ = options2->addAction(QStringLiteral("音声ﾋﾟｯﾁ一定"));
  set_lap_base_ = contextMenuStrip1->addAction(QStringLiteral("この動画を基準にする"));
  movie_window0_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(movie_window0_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { contextMenuStrip1->popup(movie_window0_->mapToGlobal(p)); });

  for (QAction* pitch : {const_pitch_, const_pitch2_}) {
    pitch->setCheckable(true);
    pitch->setChecked(false);  // pitch correction is off in a new window
    connect(pitch, &QAction::triggered, this, &VideoForm::const_pitch__Click);
  }
  connect(open_movie_, &QAction::triggered, this, &VideoForm::open_movie__Click);
  connect(open_movie2_, &QAction::triggered, this, &VideoForm::open_movie__Click);
  connect(testToolStripMenuItem, &QAction::triggered, this,
          &VideoForm::testToolStripMenuItem_Click);
  connect(set_lap_base_, &QAction::triggered, this, &VideoForm::set_lap_base__Click);

  openFileDialog = new QFileDialog(this);
  openFileDialog->setOption(QFileDialog::DontUseNativeDialog);
  openFileDialog->setFileMode(QFileDialog::ExistingFile);
  openFileDialog->setAcceptMode(QFileDialog::AcceptOpen);
}

void VideoForm::TakeSizeDifferences(QMdiArea* area) {
  // No maximise and no minimise box.
  const Qt::WindowFlags flags = Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  setWindowFlags(flags);
  // Inside an area the window has its frame and title bar, and the designed outer size is the
  // client size plus them.
  if (area != nullptr)
    area->addSubWindow(this, flags);
  const QMargins frame = contentsMargins();
  resize(kClientSize.width() + frame.left() + frame.right(),
         kClientSize.height() + frame.top() + frame.bottom());
  difference_between_form_width_and_panel_width_ = width() - kClientSize.width();
  difference_between_form_height_and_panel_height_ = height() - kDesignSplitterDistance;
}

QWidget* VideoForm::video_panel() const {
  return movie_window0_->Panel1();
}

bool VideoForm::control_panel_shown() const {
  return movie_window0_->Panel2MinSize() != 0;
}

void VideoForm::Retitle(bool with_file_name) {
  QString title = QStringLiteral("No.") + QString::number(no_ + 1);
  if (with_file_name)
    title += QStringLiteral(": ") + QFileInfo(file_name_).fileName();
  setWindowTitle(title);
}

// ---- Movie ----

void VideoForm::OpenMovie(const QString& path) {
  if (StartOpening(path)) {
    SendOpen();
    FinishOpening();
  }
  ReportOpenFailure();
}

bool VideoForm::StartOpening(const QString& path) {
  file_name_.clear();
  opening_path_.clear();
  open_failure_.clear();
  Retitle(false);
  mov_.Destroy();
  zoom_.Reset();  // a new server shows the whole picture
  try {
    mov_.Attach(new CMovieClient(options_, CMovieClient::Start::kLater));
  } catch (const std::exception& e) {
    HoldOpenFailure(QString::fromLocal8Bit(e.what()));
    return false;
  }
  opening_path_ = path;
  return true;
}

void VideoForm::SendOpen() {
  if (!mov_ || opening_path_.isEmpty())
    return;
  try {
    mov_->WaitUntilStarted();
  } catch (const std::exception& e) {
    opening_path_.clear();
    CloseMovie();
    HoldOpenFailure(QString::fromLocal8Bit(e.what()));
    return;
  }
  const std::u16string file = opening_path_.toStdU16String();
  if (!mov_->BeginInitializeGraph(file.c_str(), int32_t(video_panel()->winId()))) {
    opening_path_.clear();
    CloseMovie();
  }
}

void VideoForm::FinishOpening() {
  const QString path = opening_path_;
  opening_path_.clear();
  if (!mov_ || path.isEmpty())
    return;
  if (!mov_->EndInitializeGraph()) {
    CloseMovie();  // not playable (or the server died on it): the window stays empty, silently
    return;
  }
  // A loss before this point is a movie that could not be opened: the window stays empty,
  // silently. From here on it is reported.
  mov_->SetEvents({[this] { timer1_Tick(); }, [this] { ServerLost(); }});
  QWidget* panel = video_panel();
  mov_->SetVideoSize(panel->width(), panel->height());
  if (mov_->WatchGraphEvents() == media::E_OUTOFMEMORY) {
    // No window for the server's notices: the end of the movie would never be told.
    CloseMovie();
    HoldOpenFailure(QStringLiteral("動画ｳｨﾝﾄﾞｳを作成できません。"));
    return;
  }
  mov_->EnablePitchShift(const_pitch_->isChecked());
  mov_->Pause();
  SetVolume();
  if (!IsValid())
    return;
  file_name_ = path;
  Retitle(true);
}

void VideoForm::HoldOpenFailure(const QString& text) {
  open_failure_ = text;
}

void VideoForm::ReportOpenFailure() {
  const QString text = std::exchange(open_failure_, QString());
  if (!text.isEmpty())
    ui::ShowMessageBox(this, text, windowTitle(), ui::MessageBoxButtons::kOk,
                       ui::MessageBoxIcon::kWarning);
}

void VideoForm::CloseMovie() {
  mov_.Destroy();
  zoom_.Reset();
  pan_from_.reset();
}

void VideoForm::ServerLost() {
  const QString caption = windowTitle();
  file_name_.clear();
  Retitle(false);
  // Told once the current event is over: the loss may be found in the middle of a fan-out or a
  // layout pass, which a modal box's nested event loop must not interrupt. The client, whose
  // call is still running, goes then too, unless a new movie has replaced it meanwhile.
  QTimer::singleShot(0, this, [this, caption] {
    if (mov_ && mov_->lost())
      CloseMovie();
    ReportLostServer(caption);
  });
}

void VideoForm::ReportLostServer(const QString& caption) {
  ui::ShowMessageBox(this, QStringLiteral("動画ｻｰﾊﾞｰとの通信に失敗しました。"), caption,
                     ui::MessageBoxButtons::kOk, ui::MessageBoxIcon::kWarning);
}

void VideoForm::Play() {
  if (!IsValid())
    return;
  if (!mov_->IsPlaying())
    mov_->Run();
}

void VideoForm::Pause() {
  if (!IsValid())
    return;
  mov_->Pause();
}

void VideoForm::Stop() {
  if (!IsValid())
    return;
  mov_->Stop();
}

void VideoForm::SetRate(double rate) {
  if (!IsValid())
    return;
  const double current = mov_->GetRate();
  if (!IsValid() || rate == current)
    return;
  const bool was_playing = mov_->IsPlaying();
  mov_->Stop();
  mov_->SetRate(rate);
  mov_->Pause();
  if (was_playing)
    Play();
}

double VideoForm::GetCurrentPosition() {
  if (!IsValid())
    return 0.0;
  int64_t pos = 0;
  const media::HRESULT hr = mov_->GetCurrentPosition(&pos);
  if (media::FAILED(hr))
    return 0.0;
  return double(pos) / kUnitsPerSecond;
}

void VideoForm::SeekTo(int64_t units) {
  int64_t current = units;
  mov_->SetPositions(&current, media::AM_SEEKING_AbsolutePositioning, nullptr,
                     media::AM_SEEKING_NoPositioning);
}

void VideoForm::SetCurrentPosition(double seconds) {
  if (!IsValid())
    return;
  SeekTo(SecondsToUnits(seconds));
}

void VideoForm::StepFrames(int32_t frames) {
  if (!IsValid())
    return;
  mov_->StepFrames(frames);
}

void VideoForm::SeekCurrentPosition(double delta_seconds) {
  if (!IsValid())
    return;
  int64_t cur = 0;
  int64_t dur = 0;
  mov_->GetCurrentPosition(&cur);
  // A movie of unknown length (a stream still being written, a broken index) is not clamped at
  // its end: the server holds the target within what it can reach.
  const bool known = media::SUCCEEDED(mov_->GetDuration(&dur));
  int64_t next = SaturatingAdd(cur, SecondsToUnits(delta_seconds));
  if (next < 0)
    next = 0;
  else if (known && next > dur)
    next = dur;
  SeekTo(next);
}

bool VideoForm::FindStartSound() {
  if (!IsValid())
    return false;
  const media::HRESULT hr = mov_->FindStartSound();
  return media::SUCCEEDED(hr);
}

int32_t VideoForm::GetStartSound(double* seconds) {
  if (!IsValid())
    return channel::kStartSoundFailed;
  int64_t onset = 0;
  const int32_t state = mov_->GetStartSound(&onset);
  if (!IsValid())
    return channel::kStartSoundFailed;
  if (seconds)
    *seconds = double(onset) / kUnitsPerSecond;
  return state;
}

void VideoForm::CancelStartSound() {
  if (IsValid())
    mov_->CancelStartSound();
}

QSize VideoForm::PictureSize() {
  int32_t ax = 4, ay = 3;
  mov_->GetAspectRatio(ax, ay);
  int32_t w = 0, h = 0;
  MovieUtils::CalcActualVideoSize(video_panel()->width(), video_panel()->height(), ax, ay, w, h);
  return QSize(w, h);
}

void VideoForm::ApplyZoom() {
  const ZoomView::Units u = zoom_.ToUnits(channel::kZoomUnits);
  if (mov_->SetZoom(u.left, u.top, u.width, u.height) != media::E_INVALIDARG)
    return;
  // Never for a ZoomView's part; should the server refuse one, both sides show the whole.
  zoom_.Reset();
  mov_->SetZoom(0, 0, channel::kZoomUnits, channel::kZoomUnits);
}

void VideoForm::ZoomAt(double factor, double view_x, double view_y) {
  if (IsValid() && zoom_.ZoomAround(factor, view_x, view_y))
    ApplyZoom();
}

void VideoForm::ResetZoom() {
  if (!IsValid() || zoom_.whole())
    return;
  zoom_.Reset();
  ApplyZoom();
}

void VideoForm::SetBaseTime(double seconds) {
  base_time_ = SecondsToUnits(seconds);
}

void VideoForm::SetNumber(int number) {
  no_ = number;
  Retitle(true);
}

void VideoForm::ShowControlPanel(bool show) {
  if (show) {
    movie_window0_->SetSplitterDistance(
        std::max(movie_window0_->height() - 41, movie_window0_->Panel1MinSize()));
    movie_window0_->SetPanel2MinSize(kStripHeight);
  } else {
    movie_window0_->SetPanel2MinSize(0);
    movie_window0_->SetSplitterDistance(movie_window0_->height());
  }
}

int VideoForm::CalcActualVideoArea(int formWidth, int formHeight) {
  const int w = std::max(formWidth - difference_between_form_width_and_panel_width_, 16);
  const int h = std::max(formHeight - difference_between_form_height_and_panel_height_, 16);
  int32_t ax = 4;
  int32_t ay = 3;
  if (IsValid()) {
    mov_->GetAspectRatio(ax, ay);
  }
  int32_t vw = 0;
  int32_t vh = 0;
  MovieUtils::CalcActualVideoSize(w, h, ax, ay, vw, vh);
  return int(std::min<int64_t>(int64_t(vw) * vh, INT_MAX));
}

void VideoForm::SetVolume() {
  if (!IsValid())
    return;
  mov_->put_Volume(VolumeFromBar(volume_bar_->value()));
}

void VideoForm::SeekByTrackBar() {
  if (!IsValid()) {
    track_bar0_->setValue(0);
    return;
  }
  int64_t dur = 0;
  mov_->GetDuration(&dur);
  SeekTo(int64_t(track_bar0_->value() / 100.0 * double(dur)));
}

// ---- Events ----

void VideoForm::timer1_Tick() {
  if (!IsValid())
    return;
  int64_t pos = 0;
  int64_t dur = 0;
  mov_->GetCurrentPosition(&pos);
  mov_->GetDuration(&dur);
  if (!IsValid())  // lost on the way: the bar and the time field keep their last values
    return;
  if (pos > dur)
    pos = dur;
  const double percent = dur > 0 ? std::clamp(100.0 * double(pos) / double(dur), 0.0, 100.0) : 0.0;
  // The user's drag has the bar until the button is released.
  if (!track_bar0_->isSliderDown())
    track_bar0_->setValue(int(percent));
  time_text_->setText(ui::FormatFixed2((double(pos) - double(base_time_)) / kUnitsPerSecond));
}

void VideoForm::track_bar0__Scroll() {
  SeekByTrackBar();
}

void VideoForm::track_bar0__Click(int x) {
  // 10 pixels of dead margin at each end, as the bar's track leaves them.
  const int span = track_bar0_->width() - 20;
  const int value = span > 0 ? (x - 10) * 100 / span : 0;
  track_bar0_->setValue(std::clamp(value, 0, 100));
  SeekByTrackBar();
}

void VideoForm::step_button__Click(int i) {
  SeekCurrentPosition(kStepSeconds[i]);
}

void VideoForm::volume_bar__Scroll() {
  SetVolume();
}

void VideoForm::open_movie__Click() {
  if (openFileDialog->exec() != QDialog::Accepted)
    return;
  const QStringList files = openFileDialog->selectedFiles();
  if (!files.isEmpty())
    OpenMovie(files.first());
}

void VideoForm::const_pitch__Click(bool checked) {
  // The item clicked has flipped its own tick; the other follows, so the two stay equal.
  const_pitch_->setChecked(checked);
  const_pitch2_->setChecked(checked);
  if (!IsValid())
    return;
  mov_->EnablePitchShift(const_pitch_->isChecked());
}

void VideoForm::testToolStripMenuItem_Click() {
  ShowControlPanel(movie_window0_->Panel2MinSize() == 0);
}

void VideoForm::set_lap_base__Click() {
  ctrl_.SetBaseMovieIndex(no_);
}

QString VideoForm::IsSingleFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls())
    return {};
  const QList<QUrl> urls = data->urls();
  if (urls.size() != 1 || !urls.first().isLocalFile())
    return {};
  const QString path = urls.first().toLocalFile();
  return QFileInfo(path).isFile() ? path : QString();
}

bool VideoForm::movie_window0__Panel1_DragEnter(const QMimeData* data) {
  return !IsSingleFile(data).isEmpty();
}

bool VideoForm::movie_window0__Panel1_DragDrop(const QMimeData* data) {
  const QString path = IsSingleFile(data);  // the file may have gone since the drag entered
  if (path.isEmpty())
    return false;
  // Opened once the drop has been answered: starting a server takes a while, and the source
  // application waits for the answer.
  QTimer::singleShot(0, this, [this, path] { OpenMovie(path); });
  return true;
}

void VideoForm::movie_window0_Panel1_SizeChanged() {
  if (!IsValid())
    return;
  mov_->SetVideoSize(video_panel()->width(), video_panel()->height());
}

void VideoForm::movie_window0__Panel1_MouseWheel(const QWheelEvent& event) {
  if (!IsValid() || event.angleDelta().y() == 0)
    return;
  const QSize picture = PictureSize();
  if (picture.isEmpty())
    return;
  const double factor = std::pow(ZoomView::kNotch, event.angleDelta().y() / kWheelNotch);
  const double x = event.position().x() / picture.width();
  const double y = event.position().y() / picture.height();
  if (event.modifiers() & Qt::ControlModifier)
    ctrl_.ZoomAll(factor, x, y);
  else
    ZoomAt(factor, x, y);
}

void VideoForm::movie_window0__Panel1_MouseDown(const QMouseEvent& event) {
  if (event.button() == Qt::LeftButton && IsValid()) {
    pan_from_ = event.position();
    pan_start_ = zoom_;
  }
}

void VideoForm::movie_window0__Panel1_MouseMove(const QMouseEvent& event) {
  if (!pan_from_ || !(event.buttons() & Qt::LeftButton) || !IsValid())
    return;
  const QSize picture = PictureSize();
  if (picture.isEmpty())
    return;
  // The picture follows the hand: a drag to the right shows what lies further left.
  const QPointF moved = event.position() - *pan_from_;
  ZoomView next = pan_start_;
  next.PanBy(-moved.x() / picture.width(), -moved.y() / picture.height());
  if (next.left() == zoom_.left() && next.top() == zoom_.top())
    return;
  zoom_ = next;
  ApplyZoom();
}

void VideoForm::movie_window0__Panel1_MouseDoubleClick() {
  pan_from_.reset();
  ResetZoom();
}

bool VideoForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched != video_panel())
    return QMdiSubWindow::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (event->type() == QEvent::DragEnter) {
        drag_takes_file_ = movie_window0__Panel1_DragEnter(drag->mimeData()) &&
                           (drag->possibleActions() & Qt::CopyAction);
      }
      drag->setDropAction(drag_takes_file_ ? Qt::CopyAction : Qt::IgnoreAction);
      drag->setAccepted(drag_takes_file_);
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      const bool taken = drag_takes_file_ && movie_window0__Panel1_DragDrop(drop->mimeData());
      drag_takes_file_ = false;
      drop->setDropAction(taken ? Qt::CopyAction : Qt::IgnoreAction);
      drop->setAccepted(taken);
      return true;
    }
    case QEvent::Resize:
      movie_window0_Panel1_SizeChanged();
      return false;
    case QEvent::Wheel:
      movie_window0__Panel1_MouseWheel(static_cast<const QWheelEvent&>(*event));
      return true;
    case QEvent::MouseButtonPress:
      movie_window0__Panel1_MouseDown(static_cast<const QMouseEvent&>(*event));
      return false;
    case QEvent::MouseMove:
      movie_window0__Panel1_MouseMove(static_cast<const QMouseEvent&>(*event));
      return false;
    case QEvent::MouseButtonRelease:
      if (static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton)
        pan_from_.reset();
      return false;
    case QEvent::MouseButtonDblClick:
      movie_window0__Panel1_MouseDoubleClick();
      return false;
    default:
      return false;
  }
}

void VideoForm::closeEvent(QCloseEvent* event) {
  VideoForm_FormClosing(event);
  QMdiSubWindow::closeEvent(event);
}

void VideoForm::VideoForm_FormClosing(QCloseEvent*) {
  const ui::CloseReason reason = ui::ClosingReason(this);
  if (reason == ui::CloseReason::kUserClosing)
    CloseMovie();
  emit FormClosing(reason);
}

}  // namespace quorvex
