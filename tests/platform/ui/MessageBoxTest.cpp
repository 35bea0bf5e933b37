// Message boxes: caption, text, icon and buttons as the caller asked, and the answer returned.
#include <gtest/gtest.h>

#include "tests/ui/Printers.h"

#include <memory>

#include "platform/ui/MessageBox.h"
#include "tests/ui/Modal.h"

namespace quorvex::ui {
namespace {

struct BoxCase {
  const char* name;
  MessageBoxButtons buttons;
  MessageBoxIcon icon;
  QMessageBox::StandardButton press;  // NoButton: close the box without a button
  QMessageBox::Icon shown_icon;
  QMessageBox::StandardButtons shown_buttons;
  DialogResult expected;
};

void PrintTo(const BoxCase& c, std::ostream* os) {
  *os << c.name;
}

class MessageBoxTest : public testing::TestWithParam<BoxCase> {};

TEST_P(MessageBoxTest, ShowsWhatWasAskedAndReturnsTheAnswer) {
  const BoxCase& c = GetParam();
  std::vector<test::SeenBox> seen;
  std::unique_ptr<test::ModalWatcher> watcher(test::ModalWatcher::AnsweringBoxes(c.press, &seen));
  QWidget owner;
  owner.setWindowTitle("Owner");
  owner.show();
  const DialogResult result =
      ShowMessageBox(&owner, QString::fromUtf8("一行目\n二行目"), "Caption", c.buttons, c.icon);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "Caption");
  EXPECT_EQ(seen[0].text, QString::fromUtf8("一行目\n二行目"));
  EXPECT_EQ(seen[0].icon, c.shown_icon);
  EXPECT_EQ(seen[0].buttons, c.shown_buttons);
  EXPECT_EQ(result, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageBoxTest,
    testing::Values(
        BoxCase{"InformationOk", MessageBoxButtons::kOk, MessageBoxIcon::kInformation,
                QMessageBox::Ok, QMessageBox::Information, QMessageBox::Ok, DialogResult::kOk},
        BoxCase{"WarningClosed", MessageBoxButtons::kOk, MessageBoxIcon::kWarning,
                QMessageBox::NoButton, QMessageBox::Warning, QMessageBox::Ok, DialogResult::kOk},
        BoxCase{"QuestionYes", MessageBoxButtons::kYesNo, MessageBoxIcon::kQuestion,
                QMessageBox::Yes, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                DialogResult::kYes},
        BoxCase{"QuestionNo", MessageBoxButtons::kYesNo, MessageBoxIcon::kQuestion, QMessageBox::No,
                QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, DialogResult::kNo},
        BoxCase{"QuestionClosedIsNo", MessageBoxButtons::kYesNo, MessageBoxIcon::kQuestion,
                QMessageBox::NoButton, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                DialogResult::kNo}),
    [](const testing::TestParamInfo<BoxCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvex::ui
