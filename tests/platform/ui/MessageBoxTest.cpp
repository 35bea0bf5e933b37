// Message boxes: caption, text, icon and buttons as the caller asked, and the answer returned;
// a box closed without a button answers Ok or No.
#include <gtest/gtest.h>

#include <memory>

#include "platform/ui/MessageBox.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"

namespace quorvex::ui {
namespace {

TEST(MessageBox, ShowsWhatWasAskedAndReturnsTheAnswer) {
  using Box = QMessageBox;
  struct Case {
    MessageBoxButtons buttons;
    MessageBoxIcon icon;
    Box::StandardButton press;  // NoButton: close the box without a button
    Box::Icon shown_icon;
    DialogResult expected;
  };
  const auto ok = MessageBoxButtons::kOk;
  const auto yes_no = MessageBoxButtons::kYesNo;
  QWidget owner;
  owner.setWindowTitle("Owner");
  owner.show();
  for (const Case& c :
       {Case{ok, MessageBoxIcon::kWarning, Box::NoButton, Box::Warning, DialogResult::kOk},
        Case{yes_no, MessageBoxIcon::kQuestion, Box::Yes, Box::Question, DialogResult::kYes},
        Case{yes_no, MessageBoxIcon::kQuestion, Box::NoButton, Box::Question, DialogResult::kNo}}) {
    test::BoxAnswerer boxes(c.press);
    const DialogResult result =
        ShowMessageBox(&owner, "一行目\n二行目", "Caption", c.buttons, c.icon);
    const Box::StandardButtons shown_buttons = c.buttons == ok ? Box::Ok : Box::Yes | Box::No;
    EXPECT_EQ(
        boxes.seen,
        (std::vector<test::SeenBox>{{"Caption", "一行目\n二行目", c.shown_icon, shown_buttons}}));
    EXPECT_EQ(result, c.expected) << int(c.expected);
  }
}

}  // namespace
}  // namespace quorvex::ui
