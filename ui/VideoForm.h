#pragma once

// The window of one movie inside the main window's multiple-document area. It owns the movie
// client through which the movie's server process is driven, gives the server its video panel
// (a native X window) to draw into, and offers the controls of one movie: position bar, time
// field, six step buttons, volume bar, open command, pitch switch and the lap-base command.
//
// A window exists with or without a movie; every operation that talks to the server does
// nothing while it holds none. A server that dies or stops answering turns the window into one
// without a movie at once and tells the user (a warning box, shown once the current event is
// over, when the lost client is also released).
//
// Ownership and threads: a sub-window of the area it is given (deleted when closed, or with the
// area); the client and its server end with the window. UI thread only: the timer is a Qt
// timer and the client's events arrive from the event loop or from inside the client's calls.

#include <QMdiSubWindow>
#include <QPointF>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "hosting/CAutoNativePtr.h"
#include "hosting/CMovieClient.h"
#include "platform/ui/MenuMerge.h"
#include "platform/ui/OwnedWindow.h"
#include "ui/ControlInterface.h"
#include "ui/ZoomView.h"

class QAction;
class QFileDialog;
class QLineEdit;
class QMdiArea;
class QMenu;
class QMenuBar;
class QMimeData;
class QMouseEvent;
class QWheelEvent;
class QPushButton;
class QSlider;
class QTimer;

namespace quorvex {

class SplitContainer;

// The volume for a position of the volume bar (-10000..0), in hundredths of a decibel: half the
// bar's value, truncated toward zero, so the bar spans 0 to -50 dB; its lowest end stays
// -10000, silence.
int32_t VolumeFromBar(int bar_value);

class VideoForm : public QMdiSubWindow, public ui::MenuStripHost {
  Q_OBJECT

 public:
  // Number `number` is the window's 0-based index in the main window's list. `ctrl` must
  // outlive the window; IsVideoFormControlsShowing is asked once, here. With an `area` the
  // window becomes its sub-window at once (its frame is then known for the size differences).
  // `options` say how movie clients are started (tests pass the built program).
  VideoForm(ControlInterface& ctrl, int number, QMdiArea* area = nullptr,
            const ClientOptions& options = {});
  ~VideoForm() override;

  // Opens `path`, replacing any movie the window holds. A client that cannot be started is
  // reported in a warning box; a file that cannot be played leaves the window empty, silently.
  void OpenMovie(const QString& path);
  // OpenMovie in four steps, so that several windows open their movies at the same time:
  // take each step for every window before the next. StartOpening starts the server (false
  // when it could not), SendOpen waits for it and asks it to open the file, FinishOpening
  // waits for that and shows the first picture; ReportOpenFailure then shows what went wrong
  // on the way (no server, no window for the movie), once every open has finished, so that no
  // box's event loop runs while a reply is awaited.
  bool StartOpening(const QString& path);
  void SendOpen();
  void FinishOpening();
  void ReportOpenFailure();
  // Ends the movie's server; the bar and the time field keep their last values.
  void CloseMovie();
  // Whether the window holds a movie whose server is still there, and is not opening one: while
  // an open is pending no other command may go to its server.
  bool IsValid() const { return mov_.get() != nullptr && !mov_->lost() && opening_path_.isEmpty(); }

  void Play();  // runs the movie unless the server reports it playing
  void Pause();
  void Stop();
  // Stop, new rate, Pause and (if it was playing) Play, only when `rate` differs from the
  // movie's rate (NaN always differs).
  void SetRate(double rate);
  // Seconds; 0.0 without a movie or when the position cannot be read.
  double GetCurrentPosition();
  // Absolute seek, not clamped.
  void SetCurrentPosition(double seconds);
  // Seeks by `delta_seconds` (signed) from the current position, clamped to 0..duration.
  void SeekCurrentPosition(double delta_seconds);
  // Starts the search for the start signal in the movie's sound from its current position (the
  // server decodes it in the background). False without a movie, without sound, or when the
  // server is lost.
  bool FindStartSound();
  // Polls that search: channel::StartSoundState (kStartSoundFailed without a movie or when the
  // server is lost); `seconds` receives the onset's position when found.
  int32_t GetStartSound(double* seconds);
  // Ends that search in the server, if one runs.
  void CancelStartSound();
  // Steps by `frames` frames of the movie's own rate (signed); the movie is paused afterwards.
  void StepFrames(int32_t frames);
  // Zoom: the part of the picture the movie shows, cut from the decoded picture by its server.
  // The wheel over the picture zooms around the pointer (with Ctrl: every movie, through
  // ControlInterface::ZoomAll), a drag with the left button moves the part shown, a double
  // click shows the whole picture. Opening or closing a movie shows the whole picture again.
  // Enlarges by `factor` around the spot (`view_x`, `view_y`) of the part shown (fractions).
  void ZoomAt(double factor, double view_x, double view_y);
  void ResetZoom();
  const ZoomView& zoom() const { return zoom_; }
  // The position shown as time zero in the time field; works without a movie too.
  void SetBaseTime(double seconds);
  QString GetFileName() const { return file_name_; }
  int GetNumber() const { return no_; }
  // Sets the number and the title "No.<number + 1>: <file name without folders>".
  void SetNumber(int number);
  void ShowControlPanel(bool show);
  // The picture area in pixels (width times height) the window would show at the outer size
  // formWidth x formHeight, at the movie's aspect ratio (4:3 without a movie).
  int CalcActualVideoArea(int formWidth, int formHeight);

  QMenuBar* MainMenuStrip() const override { return menuStrip1; }

  // The 100 ms timer's work: reads position and duration and refreshes the bar and the time
  // field. Public for the benchmarks, which measure its cost.
  void timer1_Tick();

  // For the main window's tests and the benchmarks.
  CMovieClient* client() const { return mov_.get(); }
  int64_t base_time_units() const { return base_time_; }
  QWidget* video_panel() const;
  QSlider* track_bar() const { return track_bar0_; }
  QLineEdit* time_text() const { return time_text_; }
  QSlider* volume_bar() const { return volume_bar_; }
  // 0..5: "-0.33", "-0.17", "-0.03", "+0.03", "+0.17", "+0.33".
  QPushButton* step_button(int i) const { return step_buttons_[size_t(i)]; }
  QAction* const_pitch_item() const { return const_pitch_; }
  QAction* const_pitch2_item() const { return const_pitch2_; }
  QAction* open_movie_item() const { return open_movie_; }
  QAction* open_movie2_item() const { return open_movie2_; }
  QAction* test_item() const { return testToolStripMenuItem; }
  QAction* set_lap_base_item() const { return set_lap_base_; }
  QMenu* context_menu() const { return contextMenuStrip1; }
  QFileDialog* open_file_dialog() const { return openFileDialog; }
  SplitContainer* split() const { return movie_window0_; }
  bool control_panel_shown() const;
  int width_difference() const { return difference_between_form_width_and_panel_width_; }
  int height_difference() const { return difference_between_form_height_and_panel_height_; }

 signals:
  // The window is closing, after it has released its movie for the user's reason. The main
  // window keeps its list with it.
  void FormClosing(quorvex::ui::CloseReason reason);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildStrip(QWidget* strip);
  void BuildMenus();
  void TakeSizeDifferences(QMdiArea* area);
  void Retitle(bool with_file_name);
  // The client's lost event, from inside one of its calls: the window is emptied now; the
  // client is released and the loss reported once the current event is over.
  void ServerLost();
  void HoldOpenFailure(const QString& text);
  void ReportLostServer(const QString& caption);
  void SeekTo(int64_t units);
  // Where the picture is drawn in the video panel (its top-left part, at the aspect ratio).
  QSize PictureSize();
  // Tells the server the part shown; a refusal (never for a ZoomView's part) shows it whole.
  void ApplyZoom();
  void SetVolume();
  void SeekByTrackBar();
  static QString IsSingleFile(const QMimeData* data);

  void track_bar0__Scroll();
  void track_bar0__Click(int x);
  void step_button__Click(int i);
  void volume_bar__Scroll();
  void open_movie__Click();
  void const_pitch__Click(bool checked);
  void testToolStripMenuItem_Click();
  void set_lap_base__Click();
  bool movie_window0__Panel1_DragEnter(const QMimeData* data);
  // Returns whether the drop is taken: its file still exists.
  bool movie_window0__Panel1_DragDrop(const QMimeData* data);
  void movie_window0_Panel1_SizeChanged();
  void movie_window0__Panel1_MouseWheel(const QWheelEvent& event);
  void movie_window0__Panel1_MouseDown(const QMouseEvent& event);
  void movie_window0__Panel1_MouseMove(const QMouseEvent& event);
  void movie_window0__Panel1_MouseDoubleClick();
  void VideoForm_FormClosing(QCloseEvent* event);

  ControlInterface& ctrl_;
  ClientOptions options_;
  CAutoNativePtr<CMovieClient> mov_;
  int64_t base_time_ = 0;  // 100-ns units
  QString file_name_;
  QString opening_path_;  // between StartOpening and FinishOpening
  QString open_failure_;  // told by ReportOpenFailure
  int no_ = 0;
  int difference_between_form_width_and_panel_width_ = 0;
  int difference_between_form_height_and_panel_height_ = 0;
  // The drag over the panel offered one existing file when it entered; its moves are answered
  // from this, without testing the file again.
  bool drag_takes_file_ = false;
  ZoomView zoom_;
  // A drag with the left button: where it began and the part shown then.
  std::optional<QPointF> pan_from_;
  ZoomView pan_start_;

  SplitContainer* movie_window0_ = nullptr;
  QWidget* tableLayoutPanel1 = nullptr;
  QSlider* track_bar0_ = nullptr;
  QLineEdit* time_text_ = nullptr;
  // m0_prev2_button_, m0_prev1_button_, m0_prev0_button_, m0_next0_button_,
  // m0_next1_button_, m0_next2_button_.
  std::array<QPushButton*, 6> step_buttons_{};
  QSlider* volume_bar_ = nullptr;
  QTimer* timer1 = nullptr;
  QMenuBar* menuStrip1 = nullptr;
  QAction* open_movie_ = nullptr;
  QAction* const_pitch_ = nullptr;
  QAction* testToolStripMenuItem = nullptr;
  QMenu* contextMenuStrip1 = nullptr;
  QAction* open_movie2_ = nullptr;
  QAction* const_pitch2_ = nullptr;
  QAction* set_lap_base_ = nullptr;
  QFileDialog* openFileDialog = nullptr;
};

}  // namespace quorvex
