// The common control panel, driven through its real buttons, list and menu: which controller
// calls each element makes, the toggle, the lap buttons' questions and the shortcuts. The
// user's close request is tested with the main window.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <functional>
#include <memory>

#include "platform/ui/Fonts.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"
#include "tests/ui/RecordingControl.h"
#include "ui/ControlForm.h"
#include "ui/VideoForm.h"

namespace quorvex {
namespace {

using test::RecordingControl;

class ControlFormTest : public testing::Test {
 protected:
  void SetUp() override {
    ui::SubstituteUiGothicFont();
    form_ = std::make_unique<ControlForm>(ctrl_);
    built_calls_ = ctrl_.calls;
    ctrl_.calls.clear();
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }
  void Click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }

  RecordingControl ctrl_;
  QStringList built_calls_;
  std::unique_ptr<ControlForm> form_;
};

// Built paused at the first rate, which it sets. A rate picked (with the keyboard, as a user
// would) is set at once and again by Play; the start button toggles between Play and Pause.
TEST_F(ControlFormTest, RatesAreSetWhenPickedAndOnPlay) {
  EXPECT_EQ(built_calls_, QStringList{"SetRate 1"});
  EXPECT_EQ(form_->play_rate()->currentText(), "1/1");
  EXPECT_TRUE(form_->show_video_form_controls_item()->isChecked());
  const Qt::WindowFlags boxes = Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint;
  EXPECT_EQ(form_->windowFlags() & (boxes | Qt::Tool), Qt::WindowFlags(Qt::Tool));
  const double rates[5] = {1.0, 0.5, 0.25, 0.125, 0.0625};
  form_->play_rate()->setFocus();
  for (int i = 0; i < 5; ++i) {
    const QString set_rate = RecordingControl::Call("SetRate", rates[i]);
    ctrl_.calls.clear();
    if (i > 0)
      QTest::keyClick(form_->play_rate(), Qt::Key_Down);
    ASSERT_EQ(form_->play_rate()->currentIndex(), i);
    Click(form_->start_button());
    EXPECT_TRUE(form_->is_playing());
    EXPECT_EQ(form_->start_button()->text(), "停止");
    Click(form_->start_button());
    EXPECT_FALSE(form_->is_playing());
    EXPECT_EQ(form_->start_button()->text(), "再生");
    QStringList expected{set_rate, "Play", "Pause"};
    if (i > 0)
      expected.prepend(set_rate);
    EXPECT_EQ(ctrl_.calls, expected);
  }
}

// Each step seeks by its exact frame period, not by its rounded text, playing or not.
TEST_F(ControlFormTest, StepButtonsSeekByTheirFramePeriods) {
  const double steps[6] = {-0.33366700033366703, -0.16683350016683351, -0.033366700033366704,
                           0.033366700033366704, 0.16683350016683351,  0.33366700033366703};
  QStringList expected;
  for (int i = 0; i < 6; ++i) {
    Click(form_->step_button(i));
    expected << RecordingControl::Call("SeekCurrentPosition", steps[i]);
  }
  Click(form_->start_button());
  Click(form_->step_button(3));
  expected << "SetRate 1"
           << "Play" << RecordingControl::Call("SeekCurrentPosition", steps[3]);
  EXPECT_EQ(ctrl_.calls, expected);
}

// A mark needs a base first; clearing asks only when laps exist, and only Yes clears.
TEST_F(ControlFormTest, LapButtonsAskTheirQuestions) {
  using Box = QMessageBox;
  const test::SeenBox need_base{"Control", "クリアーボタンを押し、基準位置を設定してください。",
                                Box::Information, Box::Ok};
  const test::SeenBox clear{"Control",
                            "ラップをクリアーし、現在位置を基準位置にします。\nよろしいですか？",
                            Box::Question, Box::Yes | Box::No};
  struct Case {
    QPushButton* button;
    int32_t count;
    Box::StandardButton answer;
    std::vector<test::SeenBox> boxes;
    QStringList calls;
  };
  QPushButton* mark = form_->time_add_button();
  QPushButton* base = form_->base_time_set_button();
  for (const Case& c :
       std::vector<Case>{{mark, 0, Box::Ok, {need_base}, {"GetCountTime"}},
                         {mark, 2, Box::Ok, {}, {"GetCountTime", "AddTime"}},
                         {base, 0, Box::No, {}, {"GetCountTime", "SetBaseTime"}},
                         {base, 3, Box::Yes, {clear}, {"GetCountTime", "SetBaseTime"}},
                         {base, 1, Box::No, {clear}, {"GetCountTime"}}}) {
    std::vector<test::SeenBox> seen;
    std::unique_ptr<test::ModalWatcher> w(test::ModalWatcher::AnsweringBoxes(c.answer, &seen));
    ctrl_.calls.clear();
    ctrl_.count_time = c.count;
    Click(c.button);
    EXPECT_EQ(seen, c.boxes) << c.button->text().toStdString() << " with " << c.count;
    EXPECT_EQ(ctrl_.calls, c.calls) << c.button->text().toStdString() << " with " << c.count;
  }
}

// A right click opens the menu (through the window system, so that Qt turns it into a
// context-menu request); each click on the item toggles once and flips its mark.
TEST_F(ControlFormTest, ContextMenuItemTogglesOncePerClickAndFlipsItsMark) {
  QMenu* menu = form_->context_menu();
  QAction* item = form_->show_video_form_controls_item();
  for (bool expected_mark : {false, true, false}) {
    QTest::mouseClick(form_->windowHandle(), Qt::RightButton, {}, QPoint(140, 10));
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 5000));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !menu->isVisible(); }, 5000));
    EXPECT_EQ(item->isChecked(), expected_mark);
  }
  EXPECT_EQ(ctrl_.calls, QStringList(3, "ToggleVideoFormControlsShowing"));
}

// Every shortcut makes exactly the controller calls that its button or list makes, pressed in
// another window of the program (a movie window) as well as in the panel; none while the movie
// window's time field has the focus.
struct ShortcutCase {
  const char* name;
  QKeyCombination key;
  std::function<void(ControlForm&)> by_panel;  // null: expected_calls instead
  QStringList expected_calls;
  int32_t count_time = 0;
  int rate_index = 0;  // the list's entry before the key
};

TEST_F(ControlFormTest, ShortcutsDoWhatThePanelDoesInEveryWindowButInTextFields) {
  const auto click = [](QPushButton* (ControlForm::*b)() const) {
    return [b](ControlForm& f) { (f.*b)()->click(); };
  };
  const auto step = [](int i) { return [i](ControlForm& f) { f.step_button(i)->click(); }; };
  const auto rate = [](int i) {
    return [i](ControlForm& f) { f.play_rate()->setCurrentIndex(i); };
  };
  const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;
  const ShortcutCase cases[] = {
      {"space", QKeyCombination(Qt::Key_Space), click(&ControlForm::start_button), {}},
      {"ctrl+shift+left", (ctrl | shift) | Qt::Key_Left, step(0), {}},
      {"shift+left", shift | Qt::Key_Left, step(1), {}},
      {"ctrl+left", ctrl | Qt::Key_Left, step(2), {}},
      {"ctrl+right", ctrl | Qt::Key_Right, step(3), {}},
      {"shift+right", shift | Qt::Key_Right, step(4), {}},
      {"ctrl+shift+right", (ctrl | shift) | Qt::Key_Right, step(5), {}},
      {"insert", QKeyCombination(Qt::Key_Insert), click(&ControlForm::time_add_button), {}, 1},
      {"keypad enter",
       Qt::KeypadModifier | Qt::Key_Enter,
       click(&ControlForm::time_add_button),
       {},
       1},
      {"ctrl+backspace", ctrl | Qt::Key_Backspace, click(&ControlForm::base_time_set_button), {}},
      {"down", QKeyCombination(Qt::Key_Down), rate(3), {}, 0, 2},
      {"up", QKeyCombination(Qt::Key_Up), rate(1), {}, 0, 2},
      {"up at the first rate", QKeyCombination(Qt::Key_Up), rate(0), {}},
      {"left", QKeyCombination(Qt::Key_Left), nullptr, {"StepFrames -1"}},
      {"right", QKeyCombination(Qt::Key_Right), nullptr, {"StepFrames 1"}},
  };
  QMainWindow main;
  auto* area = new QMdiArea;
  main.setCentralWidget(area);
  auto* movie = new VideoForm(ctrl_, 0, area);
  main.show();
  movie->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  // A fresh panel per press, so that the play toggle and the rate start alike.
  const auto fresh = [&](const ShortcutCase& c) {
    form_ = std::make_unique<ControlForm>(ctrl_);
    form_->play_rate()->setCurrentIndex(c.rate_index);
    ctrl_.count_time = c.count_time;
    ctrl_.calls.clear();
  };
  for (const ShortcutCase& c : cases) {
    QStringList expected = c.expected_calls;
    if (c.by_panel) {
      fresh(c);
      c.by_panel(*form_);
      expected = ctrl_.calls;
    }
    for (int window = 0; window < 2; ++window) {
      fresh(c);  // before the target is taken: the panel is a new one
      QWidget* target = window == 0 ? static_cast<QWidget*>(movie) : form_.get();
      target->activateWindow();
      target->setFocus();
      QTest::keyClick(target, c.key.key(), c.key.keyboardModifiers());
      EXPECT_EQ(ctrl_.calls, expected) << c.name << " in " << target->metaObject()->className();
    }
    fresh(c);
    main.activateWindow();
    movie->time_text()->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    for (int wait = 0; wait < 100 && QApplication::focusWidget() != movie->time_text(); ++wait)
      QTest::qWait(20);
    ASSERT_EQ(QApplication::focusWidget(), movie->time_text());
    QTest::keyClick(movie->time_text(), c.key.key(), c.key.keyboardModifiers());
    EXPECT_EQ(ctrl_.calls, QStringList()) << c.name << " in the time field";
  }
  // A native step leaves the movies paused: the play button offers play again.
  fresh(cases[0]);
  form_->start_button()->click();
  movie->setFocus();  // out of the time field
  for (int wait = 0; wait < 100 && QApplication::focusWidget() == movie->time_text(); ++wait)
    QTest::qWait(20);
  QTest::keyClick(movie, Qt::Key_Right);
  EXPECT_FALSE(form_->is_playing());
}

}  // namespace
}  // namespace quorvex
