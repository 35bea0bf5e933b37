// The closing reason of owned tool windows, on real top-level windows of the X server.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include "platform/ui/OwnedWindow.h"
#include "tests/ui/Printers.h"

namespace quorvex::ui {
namespace {

using Reasons = std::vector<CloseReason>;

// A window that may not be closed alone, as the control panel and the lap table are.
class Owned : public QWidget {
 public:
  void closeEvent(QCloseEvent* e) override {
    reasons.push_back(ClosingReason(this));
    RedirectUserCloseToOwner(this, e);
  }
  Reasons reasons;
};

class Owner : public QMainWindow {
 public:
  void closeEvent(QCloseEvent* e) override {
    ContainerClosingScope closing(this);
    CloseOwnedWindows(this);
    e->accept();
  }
};

// The owner closing closes its owned windows with the container's reason.
TEST(OwnedWindow, OwnerClosingGivesTheContainerReason) {
  Owner owner;
  auto* a = new Owned;
  MakeOwnedToolWindow(a, &owner);
  owner.show();
  a->show();
  EXPECT_TRUE(owner.close());
  EXPECT_FALSE(a->isVisible());
  EXPECT_EQ(a->reasons, Reasons{CloseReason::kContainerClosing});
  EXPECT_EQ(ClosingReason(a), CloseReason::kUserClosing);  // outside the scope again
}

}  // namespace
}  // namespace quorvex::ui
