// The common control panel, driven through its real buttons, list and menu: which controller
// calls each element makes, the toggle, the lap buttons' questions and the shortcuts. The
// user's close request is tested with the main window.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include "tests/ui/Modal.h"
#include "tests/ui/RecordingControl.h"
#include "ui/ControlForm.h"
#include "ui/VideoForm.h"

namespace quorvex {
namespace {

using test::RecordingControl;

class ControlFormTest : public testing::Test {
 protected:
  void SetUp() override {
    form_ = std::make_unique<ControlForm>(ctrl_);
    EXPECT_EQ(ctrl_.calls, QStringList{"SetRate 1"});  // built paused at the first rate
    ctrl_.calls.clear();
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }
  void Click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }

  RecordingControl ctrl_;
  std::unique_ptr<ControlForm> form_;
};

// A rate picked (with the keyboard, as a user
// would) is set at once and again by Play; the start button toggles between Play and Pause.
TEST_F(ControlFormTest, RatesAreSetWhenPickedAndOnPlay) {
  form_->play_rate()->setFocus();
  for (const double rate : {0.5, 0.25, 0.125, 0.0625}) {
    ctrl_.calls.clear();
    QTest::keyClick(form_->play_rate(), Qt::Key_Down);
    Click(form_->start_button());
    const QString set_rate = RecordingControl::Call("SetRate", rate);
    EXPECT_EQ(ctrl_.calls, (QStringList{set_rate, set_rate, "Play"}));
    form_->start_button()->click();
  }
}

// Each step seeks by its exact frame period, not by its rounded text.
TEST_F(ControlFormTest, StepButtonsSeekByTheirFramePeriods) {
  const double steps[6] = {-0.33366700033366703, -0.16683350016683351, -0.033366700033366704,
                           0.033366700033366704, 0.16683350016683351,  0.33366700033366703};
  QStringList expected;
  for (int i = 0; i < 6; ++i) {
    Click(form_->step_button(i));
    expected << RecordingControl::Call("SeekCurrentPosition", steps[i]);
  }
  EXPECT_EQ(ctrl_.calls, expected);
}

// A mark needs a base first; clearing asks only when laps exist, and only Yes clears.
TEST_F(ControlFormTest, LapButtonsAskTheirQuestions) {
  using Box = QMessageBox;
  QPushButton* mark = form_->time_add_button();
  QPushButton* base = form_->base_time_set_button();
  const char* ask = "ラップをクリアーし、現在位置を基準位置にします。\nよろしいですか？";
  const std::tuple<QPushButton*, int32_t, Box::StandardButton, const char*, QStringList> cases[] = {
      {mark, 0, Box::Ok, "クリアーボタンを押し、基準位置を設定してください。", {"GetCountTime"}},
      {mark, 2, Box::Ok, "", {"GetCountTime", "AddTime"}},
      {base, 3, Box::Yes, ask, {"GetCountTime", "SetBaseTime"}},
      {base, 1, Box::No, ask, {"GetCountTime"}}};
  for (const auto& [button, count, answer, text, calls] : cases) {
    test::BoxAnswerer boxes(answer);
    ctrl_.calls.clear();
    ctrl_.count_time = count;
    Click(button);
    EXPECT_EQ(boxes.seen.size() == 1 ? boxes.seen[0].text : QString(), QString(text)) << count;
    EXPECT_EQ(ctrl_.calls, calls) << count;
  }
}

// Every shortcut makes the controller calls that its button or list makes, pressed in another
// window of the program (a movie window) as well as in the panel; none while the movie window's
// time field has the focus.
TEST_F(ControlFormTest, ShortcutsDoWhatThePanelDoesInEveryWindowButInTextFields) {
  const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;
  const struct {
    QKeyCombination key;
    QStringList calls;
    int32_t count_time = 0;
    int rate_index = 0;  // the list's entry before the key
  } cases[] = {
      {QKeyCombination(Qt::Key_Space), {"SetRate 1", "Play"}},
      {(ctrl | shift) | Qt::Key_Left,
       {RecordingControl::Call("SeekCurrentPosition", -0.33366700033366703)}},
      {QKeyCombination(Qt::Key_Insert), {"GetCountTime", "AddTime"}, 1},
      {QKeyCombination(Qt::Key_Up), {"SetRate 0.5"}, 0, 2},
      {QKeyCombination(Qt::Key_Right), {"StepFrames 1"}},
  };
  QMainWindow main;
  auto* area = new QMdiArea;
  main.setCentralWidget(area);
  auto* movie = new VideoForm(ctrl_, 0, area);
  main.show();
  movie->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
  for (const auto& c : cases) {
    for (QWidget* in_time_field : {(QWidget*)nullptr, (QWidget*)movie->time_text()}) {
      for (int window = 0; window < 2; ++window) {
        // A fresh panel per press, so that the play toggle and the rate start alike.
        form_ = std::make_unique<ControlForm>(ctrl_);
        form_->play_rate()->setCurrentIndex(c.rate_index);
        ctrl_.count_time = c.count_time;
        ctrl_.calls.clear();
        QWidget* target = in_time_field ? in_time_field
                          : window == 0 ? static_cast<QWidget*>(movie)
                                        : form_.get();
        target->activateWindow();
        target->setFocus();
        ASSERT_TRUE(!in_time_field || QTest::qWaitFor([&] { return target->hasFocus(); }));
        QTest::keyClick(target, c.key.key(), c.key.keyboardModifiers());
        EXPECT_EQ(ctrl_.calls, in_time_field ? QStringList() : c.calls)
            << c.key.key() << " in " << target->metaObject()->className();
      }
    }
  }
}

}  // namespace
}  // namespace quorvex
