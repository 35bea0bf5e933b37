#include "ui/ControlForm.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>

#include <algorithm>
#include <cmath>

#include "platform/ui/Fonts.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/OwnedWindow.h"
#include "ui/ZoomView.h"

namespace quorvex {

namespace {

constexpr auto kCtrl = Qt::ControlModifier;
constexpr auto kShift = Qt::ShiftModifier;

// The step buttons' keys, "-0.33" ... "+0.33".
const QKeyCombination kStepKeys[6] = {
    kCtrl | kShift | Qt::Key_Left, kShift | Qt::Key_Left,  kCtrl | Qt::Key_Left,
    kCtrl | Qt::Key_Right,         kShift | Qt::Key_Right, kCtrl | kShift | Qt::Key_Right};

QString KeyText(QKeyCombination key) {
  return QKeySequence(key).toString(QKeySequence::NativeText);
}

// Where typed keys are text: the shortcuts keep away from them.
bool IsTextField(const QObject* object) {
  return qobject_cast<const QLineEdit*>(object) || qobject_cast<const QTextEdit*>(object) ||
         qobject_cast<const QPlainTextEdit*>(object) ||
         qobject_cast<const QAbstractSpinBox*>(object) ||
         (qobject_cast<const QComboBox*>(object) &&
          static_cast<const QComboBox*>(object)->isEditable());
}

QPushButton* MakeButton(const QString& text, QWidget* parent, QRect geometry) {
  auto* b = new QPushButton(text, parent);
  b->setGeometry(geometry);
  return b;
}

}  // namespace

ControlForm::ControlForm(ControlInterface& ctrl, QWidget* owner) : QWidget(nullptr), ctrl_(ctrl) {
  setWindowTitle(QStringLiteral("Control"));
  setWindowFlags(Qt::Window | Qt::Tool | Qt::WindowMinimizeButtonHint);
  if (owner != nullptr)
    ui::MakeOwnedToolWindow(this, owner);
  resize(256, 50);
  BuildStepRow();
  BuildBottomRow();
  BuildContextMenu();
  // Keyboard order of the design: steps left to right, play/stop, the lap buttons, the rate.
  setTabOrder(step_buttons_[5], start_button_);
  setTabOrder(start_button_, time_add_button_);
  setTabOrder(time_add_button_, base_time_set_button_);
  setTabOrder(base_time_set_button_, play_rate_);
  ui::DisableCloseButton(this);
  // Selecting the first rate tells the controller the rate in force.
  play_rate_->setCurrentIndex(0);
  play_rate__SelectedIndexChanged();
  connect(play_rate_, &QComboBox::currentIndexChanged, this,
          &ControlForm::play_rate__SelectedIndexChanged);
  SetShortcutToolTips();
  qApp->installEventFilter(this);  // removed by QObject when the panel goes
}

void ControlForm::BuildStepRow() {
  tableLayoutPanel4 = new QWidget(this);
  tableLayoutPanel4->setGeometry(6, 3, 267, 20);
  auto* grid = new QGridLayout(tableLayoutPanel4);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(0);
  // Three backward steps, a 5-pixel gap, three forward steps, and the rest.
  const int widths[8] = {40, 40, 40, 5, 40, 40, 40, 0};
  for (int c = 0; c < 8; ++c) {
    grid->setColumnMinimumWidth(c, widths[c]);
    grid->setColumnStretch(c, c == 7 ? 1 : 0);
  }
  const int columns[6] = {0, 1, 2, 4, 5, 6};
  for (int i = 0; i < 6; ++i) {
    auto* b = new QPushButton(QString::fromLatin1(kStepTexts[i]), tableLayoutPanel4);
    b->setFixedSize(40, 20);
    // "-0.03", "+0.03" and "+0.17" carry the Japanese UI font; the others the window's.
    if (i == 2 || i == 3 || i == 4)
      b->setFont(ui::UiGothicFont(9));
    grid->addWidget(b, 0, columns[i]);
    connect(b, &QPushButton::clicked, this, [this, i] { step_button__Click(i); });
    step_buttons_[size_t(i)] = b;
  }
  for (int i = 0; i + 1 < 6; ++i)
    setTabOrder(step_buttons_[size_t(i)], step_buttons_[size_t(i + 1)]);
}

void ControlForm::BuildBottomRow() {
  start_button_ = MakeButton(QStringLiteral("再生"), this, QRect(6, 27, 50, 20));
  connect(start_button_, &QPushButton::clicked, this, &ControlForm::start_button__Click);

  play_rate_ = new QComboBox(this);
  play_rate_->setGeometry(62, 27, 65, 20);
  play_rate_->setEditable(false);
  play_rate_->addItems({"1/1", "1/2", "1/4", "1/8", "1/16"});
  play_rate_->view()->setMinimumWidth(65);

  time_add_button_ = MakeButton(QStringLiteral("セット"), this, QRect(146, 27, 50, 20));
  connect(time_add_button_, &QPushButton::clicked, this, &ControlForm::time_add_button__Click);
  base_time_set_button_ = MakeButton(QStringLiteral("クリア"), this, QRect(202, 27, 50, 20));
  connect(base_time_set_button_, &QPushButton::clicked, this,
          &ControlForm::base_time_set_button__Click);
}

void ControlForm::BuildContextMenu() {
  contextMenuStrip1 = new QMenu(this);
  show_vedio_form_controls_ =
      contextMenuStrip1->addAction(QStringLiteral("ﾋﾞﾃﾞｵｳｨﾝﾄﾞｳのｺﾝﾄﾛｰﾙを表示する"));
  show_vedio_form_controls_->setCheckable(true);
  show_vedio_form_controls_->setChecked(true);
  connect(show_vedio_form_controls_, &QAction::triggered, this,
          &ControlForm::show_video_form_controls__Click);
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { contextMenuStrip1->popup(mapToGlobal(pos)); });
}

void ControlForm::SetShortcutToolTips() {
  start_button_->setToolTip(KeyText(QKeyCombination(Qt::Key_Space)));
  for (size_t i = 0; i < 6; ++i)
    step_buttons_[i]->setToolTip(KeyText(kStepKeys[i]));
  play_rate_->setToolTip(KeyText(QKeyCombination(Qt::Key_Up)) + QStringLiteral(" / ") +
                         KeyText(QKeyCombination(Qt::Key_Down)));
  time_add_button_->setToolTip(KeyText(QKeyCombination(Qt::Key_Insert)) + QStringLiteral(", ") +
                               KeyText(Qt::KeypadModifier | Qt::Key_Enter));
  base_time_set_button_->setToolTip(KeyText(kCtrl | Qt::Key_Backspace));
}

bool ControlForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || QApplication::activeModalWidget() != nullptr ||
      QApplication::activePopupWidget() != nullptr || IsTextField(watched) ||
      IsTextField(QApplication::focusWidget()))
    return false;
  return HandleShortcut(static_cast<const QKeyEvent&>(*event));
}

bool ControlForm::HandleShortcut(const QKeyEvent& key) {
  const QKeyCombination combination = key.keyCombination();
  const Qt::KeyboardModifiers mods = combination.keyboardModifiers() & (kCtrl | kShift);
  for (size_t i = 0; i < 6; ++i) {
    if (combination == kStepKeys[i]) {
      step_buttons_[i]->click();
      return true;
    }
  }
  const bool plain = (combination.keyboardModifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  switch (combination.key()) {
    case Qt::Key_Space:
      return plain && (start_button_->click(), true);
    case Qt::Key_Left:
    case Qt::Key_Right:
      return plain && (StepFrames(combination.key() == Qt::Key_Left ? -1 : 1), true);
    case Qt::Key_Up:
    case Qt::Key_Down:
      return plain && (MoveRate(combination.key() == Qt::Key_Up ? -1 : 1), true);
    case Qt::Key_Insert:
      return mods == Qt::NoModifier && (time_add_button_->click(), true);
    case Qt::Key_Enter:  // the number pad's; Return is the dialogs' and the buttons'
      return mods == Qt::NoModifier && (time_add_button_->click(), true);
    case Qt::Key_Backspace:
      return mods == kCtrl && (base_time_set_button_->click(), true);
    // Every movie around the middle of what it shows. "+" needs Shift on most layouts, and "="
    // shares its key.
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      return (mods & kCtrl) && (ctrl_.ZoomAll(ZoomView::kNotch, 0.5, 0.5), true);
    case Qt::Key_Minus:
      return mods == kCtrl && (ctrl_.ZoomAll(1 / ZoomView::kNotch, 0.5, 0.5), true);
    case Qt::Key_0:
      return mods == kCtrl && (ctrl_.ResetZoomAll(), true);
    default:
      return false;
  }
}

void ControlForm::StepFrames(int32_t frames) {
  ctrl_.StepFrames(frames);
  is_playing_ = false;
  start_button_->setText(QStringLiteral("再生"));
}

void ControlForm::MoveRate(int delta) {
  const int index = std::clamp(play_rate_->currentIndex() + delta, 0, play_rate_->count() - 1);
  play_rate_->setCurrentIndex(index);  // the list's own handler tells the controller
}

double ControlForm::SelectedRate() const {
  return 1.0 / std::pow(2.0, std::max(0, play_rate_->currentIndex()));
}

void ControlForm::start_button__Click() {
  if (is_playing_) {
    ctrl_.Pause();
    start_button_->setText(QStringLiteral("再生"));
  } else {
    ctrl_.SetRate(SelectedRate());
    ctrl_.Play();
    start_button_->setText(QStringLiteral("停止"));
  }
  is_playing_ = !is_playing_;
}

void ControlForm::ShowPaused() {
  is_playing_ = false;
  start_button_->setText(QStringLiteral("再生"));
}

void ControlForm::step_button__Click(int i) {
  ctrl_.SeekCurrentPosition(kStepSeconds[i]);
}

void ControlForm::time_add_button__Click() {
  if (ctrl_.GetCountTime() == 0) {
    ui::ShowMessageBox(this, QStringLiteral("クリアーボタンを押し、基準位置を設定してください。"),
                       windowTitle(), ui::MessageBoxButtons::kOk, ui::MessageBoxIcon::kInformation);
    return;
  }
  ctrl_.AddTime();
}

void ControlForm::base_time_set_button__Click() {
  if (ctrl_.GetCountTime() > 0) {
    const ui::DialogResult answer = ui::ShowMessageBox(
        this, QStringLiteral("ラップをクリアーし、現在位置を基準位置にします。\nよろしいですか？"),
        windowTitle(), ui::MessageBoxButtons::kYesNo, ui::MessageBoxIcon::kQuestion);
    if (answer != ui::DialogResult::kYes)
      return;
  }
  ctrl_.SetBaseTime();
}

void ControlForm::play_rate__SelectedIndexChanged() {
  ctrl_.SetRate(SelectedRate());
}

void ControlForm::show_video_form_controls__Click() {
  // A checkable QAction has flipped its own check mark by now; it follows every click.
  ctrl_.ToggleVideoFormControlsShowing();
}

void ControlForm::closeEvent(QCloseEvent* event) {
  ControlForm_FormClosing(event);
}

void ControlForm::ControlForm_FormClosing(QCloseEvent* event) {
  if (!ui::RedirectUserCloseToOwner(this, event))
    event->accept();
}

}  // namespace quorvex
