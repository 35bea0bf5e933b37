#pragma once

// The common control panel: play and stop, six step buttons, the play rate, and the two lap
// buttons. It keeps no movie state beyond its play/stop toggle; every action is one call on the
// ControlInterface it was given, which fans it out to every movie window.
//
// Keyboard: while the panel lives, its shortcuts work in every window of the program, except
// while a text field has the focus or a modal dialog is open (their keys are their own). Each
// one does exactly what its button or list does: Space play/stop; Ctrl, Shift and Ctrl+Shift
// with Left/Right the steps of one, five and ten frames; Up/Down the previous/next rate;
// Insert and the number pad's Enter "セット"; Ctrl+Backspace "クリア". Left/Right alone step
// every movie by one frame of its own rate (no button; the movies are paused, and the play
// button shows "再生" again). Ctrl++ (or Ctrl+=), Ctrl+- and Ctrl+0 zoom every movie in, out
// and back to its whole picture (the movie windows' tool tips name them).
//
// Ownership and threads: an owned tool window of `owner` (deleted with it), with a greyed close
// box; a user's request to close it closes the owner instead. UI thread only.

#include <QWidget>

#include <array>

#include "ui/ControlInterface.h"

class QAction;
class QComboBox;
class QKeyEvent;
class QMenu;
class QPushButton;

namespace quorvex {

class ControlForm : public QWidget {
  Q_OBJECT

 public:
  // `ctrl` must outlive the panel. Calls ctrl.SetRate(1.0) once: the first rate is selected.
  explicit ControlForm(ControlInterface& ctrl, QWidget* owner = nullptr);

  bool is_playing() const { return is_playing_; }
  // Shows the play button as "再生" after the main window has paused every movie itself.
  void ShowPaused();
  // The controls, for the main window's tests and the benchmarks.
  QPushButton* start_button() const { return start_button_; }
  QComboBox* play_rate() const { return play_rate_; }
  QPushButton* time_add_button() const { return time_add_button_; }
  QPushButton* base_time_set_button() const { return base_time_set_button_; }
  // 0..5: "-0.33", "-0.17", "-0.03", "+0.03", "+0.17", "+0.33".
  QPushButton* step_button(int i) const { return step_buttons_[size_t(i)]; }
  QMenu* context_menu() const { return contextMenuStrip1; }
  QAction* show_video_form_controls_item() const { return show_vedio_form_controls_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  // The program-wide shortcuts (installed on the application).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildStepRow();
  void BuildBottomRow();
  void BuildContextMenu();
  double SelectedRate() const;
  void SetShortcutToolTips();
  // True when `key` is a shortcut and was acted on.
  bool HandleShortcut(const QKeyEvent& key);
  void StepFrames(int32_t frames);
  void MoveRate(int delta);

  void start_button__Click();
  void step_button__Click(int i);
  void time_add_button__Click();
  void base_time_set_button__Click();
  void play_rate__SelectedIndexChanged();
  void show_video_form_controls__Click();
  void ControlForm_FormClosing(QCloseEvent* event);

  bool is_playing_ = false;
  ControlInterface& ctrl_;
  QWidget* tableLayoutPanel4 = nullptr;
  // all_prev2_button_, all_prev1_button_, all_prev0_button_, all_next0_button_,
  // all_next1_button_, all_next2_button_.
  std::array<QPushButton*, 6> step_buttons_{};
  QPushButton* start_button_ = nullptr;
  QComboBox* play_rate_ = nullptr;
  QPushButton* time_add_button_ = nullptr;
  QPushButton* base_time_set_button_ = nullptr;
  QMenu* contextMenuStrip1 = nullptr;
  QAction* show_vedio_form_controls_ = nullptr;
};

}  // namespace quorvex
