// The common control panel, driven through its real buttons, list and menu: which controller
// calls each element makes, the toggle, the lap buttons' questions, layout and closing.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontInfo>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <memory>

#include "platform/ui/Fonts.h"
#include "platform/ui/OwnedWindow.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"
#include "tests/ui/RecordingControl.h"
#include "ui/ControlForm.h"

namespace quorvex {
namespace {

class ControlFormTest : public testing::Test {
 protected:
  void SetUp() override {
    ui::SubstituteUiGothicFont();
    form_ = std::make_unique<ControlForm>(ctrl_);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    ctrl_.calls.clear();
    ctrl_.rates.clear();
  }
  void Click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }

  test::RecordingControl ctrl_;
  std::unique_ptr<ControlForm> form_;
};

TEST(ControlFormConstruction, SelectsTheFirstRateAndTellsTheController) {
  test::RecordingControl ctrl;
  ControlForm form(ctrl);
  EXPECT_EQ(ctrl.calls, QStringList{"SetRate"});
  EXPECT_EQ(ctrl.rates, std::vector<double>{1.0});
  EXPECT_EQ(form.windowTitle(), "Control");
  EXPECT_EQ(form.play_rate()->currentText(), "1/1");
  EXPECT_EQ(form.play_rate()->count(), 5);
  EXPECT_FALSE(form.is_playing());
  EXPECT_EQ(form.start_button()->text(), QString::fromUtf8("再生"));
  EXPECT_TRUE(form.show_video_form_controls_item()->isChecked());
  EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form.windowFlags() & Qt::Tool);
}

TEST_F(ControlFormTest, PlayThenStopTogglesTheTextAndCalls) {
  Click(form_->start_button());
  EXPECT_EQ(form_->start_button()->text(), QString::fromUtf8("停止"));
  EXPECT_TRUE(form_->is_playing());
  Click(form_->start_button());
  EXPECT_EQ(form_->start_button()->text(), QString::fromUtf8("再生"));
  EXPECT_FALSE(form_->is_playing());
  EXPECT_EQ(ctrl_.calls, (QStringList{"SetRate", "Play", "Pause"}));
  EXPECT_EQ(ctrl_.rates, std::vector<double>{1.0});
}

class RateTest : public ControlFormTest, public testing::WithParamInterface<int> {};

TEST_P(RateTest, SelectingARateSetsItAtOnceAndPlayRepeatsIt) {
  const int index = GetParam();
  const double expected[5] = {1.0, 0.5, 0.25, 0.125, 0.0625};
  // Pick the entry with the keyboard, as a user would.
  form_->play_rate()->setFocus();
  QTest::keyClick(form_->play_rate(), Qt::Key_Home);
  ctrl_.calls.clear();
  ctrl_.rates.clear();
  for (int i = 0; i < index; ++i)
    QTest::keyClick(form_->play_rate(), Qt::Key_Down);
  ASSERT_EQ(form_->play_rate()->currentIndex(), index);
  EXPECT_EQ(ctrl_.rates.size(), size_t(index));
  if (index > 0) {
    EXPECT_EQ(ctrl_.rates.back(), expected[index]);
  }
  ctrl_.calls.clear();
  ctrl_.rates.clear();
  Click(form_->start_button());
  EXPECT_EQ(ctrl_.calls, (QStringList{"SetRate", "Play"}));
  EXPECT_EQ(ctrl_.rates, std::vector<double>{expected[index]});
}

INSTANTIATE_TEST_SUITE_P(AllRates, RateTest, testing::Range(0, 5));

class StepTest : public ControlFormTest, public testing::WithParamInterface<int> {};

TEST_P(StepTest, EachStepButtonSeeksByItsFramePeriods) {
  const int i = GetParam();
  const char* texts[6] = {"-0.33", "-0.17", "-0.03", "+0.03", "+0.17", "+0.33"};
  const double steps[6] = {-0.33366700033366703, -0.16683350016683351, -0.033366700033366704,
                           0.033366700033366704, 0.16683350016683351,  0.33366700033366703};
  EXPECT_EQ(form_->step_button(i)->text(), texts[i]);
  Click(form_->step_button(i));
  EXPECT_EQ(ctrl_.calls, QStringList{"SeekCurrentPosition"});
  ASSERT_EQ(ctrl_.steps.size(), 1u);
  EXPECT_EQ(ctrl_.steps[0], steps[i]);  // exactly, not the rounded text
}

INSTANTIATE_TEST_SUITE_P(AllSteps, StepTest, testing::Range(0, 6));

TEST_F(ControlFormTest, StepButtonsWorkWhilePlaying) {
  Click(form_->start_button());
  Click(form_->step_button(3));
  EXPECT_EQ(ctrl_.calls, (QStringList{"SetRate", "Play", "SeekCurrentPosition"}));
}

TEST_F(ControlFormTest, LapMarkWithoutBaseShowsTheInstructionInstead) {
  std::vector<test::SeenBox> seen;
  std::unique_ptr<test::ModalWatcher> w(test::ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
  ctrl_.count_time = 0;
  Click(form_->time_add_button());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, QString::fromUtf8("クリアーボタンを押し、基準位置を設定してください。"));
  EXPECT_EQ(seen[0].caption, "Control");
  EXPECT_EQ(seen[0].icon, QMessageBox::Information);
  EXPECT_EQ(seen[0].buttons, QMessageBox::Ok);
  EXPECT_EQ(ctrl_.calls, QStringList{"GetCountTime"});
  ctrl_.calls.clear();
  ctrl_.count_time = 2;
  Click(form_->time_add_button());
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(ctrl_.calls, (QStringList{"GetCountTime", "AddTime"}));
}

struct BaseCase {
  const char* name;
  int32_t count;
  QMessageBox::StandardButton answer;
  bool asked;
  bool set;
};

void PrintTo(const BaseCase& c, std::ostream* os) {
  *os << c.name;
}

class BaseTest : public ControlFormTest, public testing::WithParamInterface<BaseCase> {};

TEST_P(BaseTest, ClearAsksOnlyWhenLapsExist) {
  const BaseCase& c = GetParam();
  std::vector<test::SeenBox> seen;
  std::unique_ptr<test::ModalWatcher> w(test::ModalWatcher::AnsweringBoxes(c.answer, &seen));
  ctrl_.count_time = c.count;
  Click(form_->base_time_set_button());
  ASSERT_EQ(seen.size(), c.asked ? 1u : 0u);
  if (c.asked) {
    EXPECT_EQ(
        seen[0].text,
        QString::fromUtf8("ラップをクリアーし、現在位置を基準位置にします。\nよろしいですか？"));
    EXPECT_EQ(seen[0].caption, "Control");
    EXPECT_EQ(seen[0].icon, QMessageBox::Question);
    EXPECT_EQ(seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
  }
  QStringList expected{"GetCountTime"};
  if (c.set)
    expected << "SetBaseTime";
  EXPECT_EQ(ctrl_.calls, expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, BaseTest,
                         testing::Values(BaseCase{"NoLaps", 0, QMessageBox::No, false, true},
                                         BaseCase{"LapsYes", 3, QMessageBox::Yes, true, true},
                                         BaseCase{"LapsNo", 1, QMessageBox::No, true, false}),
                         [](const testing::TestParamInfo<BaseCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(ControlFormTest, ContextMenuItemTogglesOncePerClickAndFlipsItsMark) {
  QMenu* menu = form_->context_menu();
  QAction* item = form_->show_video_form_controls_item();
  EXPECT_EQ(item->text(), QString::fromUtf8("ﾋﾞﾃﾞｵｳｨﾝﾄﾞｳのｺﾝﾄﾛｰﾙを表示する"));
  for (bool expected_mark : {false, true, false}) {
    menu->popup(form_->mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
    QTest::qWait(10);
    EXPECT_EQ(item->isChecked(), expected_mark);
  }
  EXPECT_EQ(ctrl_.calls.count("ToggleVideoFormControlsShowing"), 3);
  EXPECT_EQ(ctrl_.calls.size(), 3);
}

TEST_F(ControlFormTest, RightClickOpensTheContextMenu) {
  // Through the window system, so that Qt turns the click into a context-menu request.
  QTest::mouseClick(form_->windowHandle(), Qt::RightButton, {}, QPoint(140, 10));
  EXPECT_TRUE(QTest::qWaitFor([&] { return form_->context_menu()->isVisible(); }, 5000));
  form_->context_menu()->close();
}

TEST_F(ControlFormTest, ButtonsStandInTheirCellsAndTabInTheDesignedOrder) {
  const int xs[6] = {6, 46, 86, 131, 171, 211};
  for (int i = 0; i < 6; ++i) {
    QPushButton* b = form_->step_button(i);
    EXPECT_EQ(QRect(b->mapTo(form_.get(), QPoint(0, 0)), b->size()), QRect(xs[i], 3, 40, 20)) << i;
  }
  EXPECT_EQ(form_->start_button()->geometry(), QRect(6, 27, 50, 20));
  EXPECT_EQ(form_->play_rate()->geometry(), QRect(62, 27, 65, 20));
  EXPECT_EQ(form_->time_add_button()->geometry(), QRect(146, 27, 50, 20));
  EXPECT_EQ(form_->base_time_set_button()->geometry(), QRect(202, 27, 50, 20));
  EXPECT_EQ(form_->size(), QSize(256, 50));

  std::vector<QWidget*> order{form_->step_button(0),         form_->step_button(1),
                              form_->step_button(2),         form_->step_button(3),
                              form_->step_button(4),         form_->step_button(5),
                              form_->start_button(),         form_->time_add_button(),
                              form_->base_time_set_button(), form_->play_rate()};
  for (size_t i = 0; i + 1 < order.size(); ++i) {
    EXPECT_EQ(order[i]->nextInFocusChain(), order[i + 1]) << i;
  }
}

TEST_F(ControlFormTest, JapaneseFontOnThreeStepButtons) {
  for (int i = 0; i < 6; ++i) {
    const bool gothic = (i == 2 || i == 3 || i == 4);
    EXPECT_EQ(form_->step_button(i)->font().family() == ui::kUiGothicFamily, gothic) << i;
  }
  EXPECT_TRUE(QFontInfo(form_->step_button(2)->font()).family().startsWith("IPA"));
}

// A user's close request (window manager, Alt+F4) closes the owner; the panel goes with it.
TEST(ControlFormClosing, UserCloseClosesTheOwnerInstead) {
  class Owner : public QMainWindow {
   public:
    void closeEvent(QCloseEvent* e) override {
      ui::ContainerClosingScope closing(this);
      ui::CloseOwnedWindows(this);
      e->accept();
    }
  } owner;
  test::RecordingControl ctrl;
  auto* form = new ControlForm(ctrl, &owner);
  owner.show();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
  EXPECT_EQ(form->parentWidget(), &owner);
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !owner.isVisible(); }, 5000));
  EXPECT_FALSE(form->isVisible());
}

}  // namespace
}  // namespace quorvex
