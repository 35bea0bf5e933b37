#pragma once

// The user-interface role's main window: a multiple-document container with one VideoForm per
// movie, the common control panel and the lap table below it, and the lap lists. It drives all
// movies together (ControlInterface, for the panel and the movie windows), answers the lap
// table (GridInterface), opens movies from the dialog, the command line and dropped files,
// keeps the movie windows numbered by their place in its list and arranges them in a grid.
//
// Ownership: the movie windows (sub-windows of its area), the panel, the lap table (owned tool
// windows), the dialogs and the lap lists are all the window's. Closing it closes them all;
// their servers end when the movie windows are disposed. UI thread only.

#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "hosting/CMovieClient.h"
#include "laps/GridInterface.h"
#include "laps/LapModel.h"
#include "platform/ui/OwnedWindow.h"
#include "ui/ControlInterface.h"

class QAction;
class QFileDialog;
class QProgressDialog;
class QTimer;
class QMdiArea;
class QMenu;

namespace quorvex {

class ControlForm;
class LapForm;
class VideoForm;

// The first direct child of `window` that is a multiple-document area, or null.
QMdiArea* GetMdiClient(QWidget* window);

class MainForm : public QMainWindow, public ControlInterface, public GridInterface {
  Q_OBJECT

 public:
  // `files` are opened once the window has been shown. `options` say how movie clients start
  // their servers (tests pass the built program).
  explicit MainForm(const QStringList& files, const ClientOptions& options = {},
                    QWidget* parent = nullptr);
  ~MainForm() override;

  // Movie windows open at most at the same time: each one's server holds a connection to the
  // X server, which has a few hundred for the whole desktop.
  static constexpr int kMaxMovies = 32;

  // Opens every path in order into a new movie window, discards all lap rows and base
  // positions of the lap lists, and arranges the windows when automatic arrangement is on.
  // Beyond kMaxMovies windows in all it is refused with a message, and nothing changes.
  void OpenMovies(const QStringList& paths);
  // Asks every movie window to close, first to last; returns once their servers have ended.
  void CloseAllVideoForms();
  // Arranges the movie windows as a grid of equal cells in the area (two passes).
  void AlignVideoForms();
  // Chooses the grid shape whose cells show the largest picture; leaves `columns` and `rows`
  // as they are when there is no movie window.
  void GetOptimizedLayout(QWidget* client, int32_t& columns, int32_t& rows);

  // ControlInterface.
  void Play() override;
  void Pause() override;
  void Stop() override;
  void SeekCurrentPosition(double step_seconds) override;
  void ClearTime() override;
  void SetBaseTime() override;
  void AddTime() override;
  void SetRate(double rate) override;
  int32_t GetCountTime() override;
  void ToggleVideoFormControlsShowing() override;
  bool IsVideoFormControlsShowing() override { return show_video_form_controls_; }
  void SetBaseMovieIndex(int32_t index) override;
  void StepFrames(int32_t frames) override;
  void ZoomAll(double factor, double view_x, double view_y) override;
  void ResetZoomAll() override;

  // GridInterface.
  void RowSelected(int32_t row) override;
  void RemoveRow(int32_t row) override;
  int32_t GetCountRow() override;
  void SetDataGridView() override;

  // For tests and benchmarks.
  const std::vector<VideoForm*>& vfs() const { return vfs_; }
  ControlForm* cf() const { return cf_; }
  LapForm* lf() const { return lf_; }
  QMdiArea* mdi_area() const { return mdi_; }
  const laps::LapLists& time_list() const { return time_list_.time_list(); }
  QAction* open_movie_item() const { return open_movie_; }
  QAction* open_lap_item() const { return open_lap_; }
  QAction* save_lap_item() const { return save_lap_; }
  QAction* save_csv_item() const { return save_csv_; }
  QAction* export_movie_item() const { return export_movie_; }
  QAction* align_item() const { return align_; }
  QAction* auto_alignment_item() const { return auto_alignment_; }
  QAction* start_sound_item() const { return start_sound_; }
  // True while the movies' servers look for their start signals.
  bool finding_start_sound() const;
  QFileDialog* open_movie_file_dialog() const { return open_movie_file_dialog_; }
  QFileDialog* open_xml_file_dialog() const { return open_xml_file_dialog_; }
  QFileDialog* save_file_dialog() const { return saveFileDialog; }
  QFileDialog* save_csv_file_dialog() const { return save_csv_file_dialog_; }
  // Writes the lap table as CSV (LapTableText.h) with the movies' file names, through the lap
  // file's save; a failure is shown as the lap file's is. True when written.
  bool SaveCsv(const QString& path);
  // True once the files of the command line have been opened.
  bool loaded() const { return loaded_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  // Watches the panel for the window manager's report of its frame.
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  void BuildDialogs();
  // The panel and the lap table below the main window's frame, side by side.
  void PlaceWindows();
  // Once the window manager has reported the main window's frame, fits the frame (not the
  // inside) to the upper half of the working area; once it has reported the main window's or
  // the panel's frame, places the panel and the lap table again. Frames come after the window
  // is shown, at a time of the window manager's choosing: this runs on every move and resize
  // of the two windows and acts on the first report of each.
  void FollowFrames();
  VideoForm* AddVideoForm();
  // New windows for `paths`, their movies opened side by side; the windows made, in order.
  std::vector<QPointer<VideoForm>> OpenInNewWindows(const QStringList& paths);
  // Tells the user and returns true when `after` windows would be more than kMaxMovies.
  bool RefuseBeyondLimit(qsizetype after);
  void RemoveMovie(int index);
  void LoadLapFile(const QString& path);
  laps::PositionReader Positions();

  void MainForm_Load();
  void MainForm_SizeChanged();
  void open_movie__Click();
  void open_lap__Click();
  void save_lap__Click();
  void save_csv__Click();
  // "比較動画を書き出す...": the export role in a child process (MainFormExport.cpp).
  void export_movie__Click();
  void align__Click();
  void auto_alignment__Click();
  // "音でｽﾀｰﾄを合わせる": every server looks for the start signal in its movie's sound, from
  // the current position on, in the background; the UI polls them (PollStartSound) and, once
  // all have answered, seeks every movie to its onset and takes the bases as "クリア" does.
  void start_sound__Click();
  void PollStartSound();
  void FinishStartSound(bool complete);
  void VideoForm_FormClosing(VideoForm* form, ui::CloseReason reason);

  QStringList files_;
  ClientOptions options_;
  bool load_posted_ = false;
  bool main_framed_ = false;   // the window manager has reported the main window's frame
  bool panel_framed_ = false;  // ... and the panel's
  bool loaded_ = false;

  QAction* align_ = nullptr;
  QAction* save_lap_ = nullptr;
  QFileDialog* saveFileDialog = nullptr;
  QAction* save_csv_ = nullptr;
  QFileDialog* save_csv_file_dialog_ = nullptr;
  QAction* export_movie_ = nullptr;
  QAction* open_lap_ = nullptr;
  QFileDialog* open_xml_file_dialog_ = nullptr;
  QAction* open_movie_ = nullptr;
  QFileDialog* open_movie_file_dialog_ = nullptr;
  QAction* auto_alignment_ = nullptr;
  QAction* start_sound_ = nullptr;
  // The search for the start signals, while it runs: the movie windows as they were when it
  // began (a change of the list abandons it), each one's channel::StartSoundState and onset.
  std::vector<VideoForm*> searched_;
  std::vector<int32_t> search_states_;
  std::vector<double> search_onsets_;
  QTimer* search_timer_ = nullptr;              // owned (child); active while searching
  QProgressDialog* search_progress_ = nullptr;  // owned (child) while searching
  QMdiArea* mdi_ = nullptr;
  // The open movie windows; the position in this list is the movie index. Not owning: each is
  // a sub-window of mdi_ and leaves the list when it closes on its own account.
  std::vector<VideoForm*> vfs_;
  ControlForm* cf_ = nullptr;
  LapForm* lf_ = nullptr;
  laps::LapModel time_list_;
  bool show_video_form_controls_ = true;
};

}  // namespace quorvex
