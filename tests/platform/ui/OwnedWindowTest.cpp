// Owned tool windows, the greyed close box, the closing reason and the redirection of a user's
// close request to the owner, on real top-level windows of the X server.
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

// The owner closing closes its owned windows with the container's reason; nested scopes
// restore the outer state.
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
  {
    ContainerClosingScope outer(&owner);
    { ContainerClosingScope inner(&owner); }
    EXPECT_EQ(ClosingReason(a), CloseReason::kContainerClosing);
  }
  EXPECT_EQ(ClosingReason(a), CloseReason::kUserClosing);
}

// The window manager learns that the window has no close function (Motif hints, where
// MWM_FUNC_CLOSE is bit 5 of the functions field), while other windows keep theirs.
TEST(OwnedWindow, DisabledCloseButtonReachesTheWindowManager) {
  QWidget normal;
  QWidget greyed;
  DisableCloseButton(&greyed);
  EXPECT_FALSE(greyed.windowFlags() & Qt::WindowCloseButtonHint);
  normal.show();
  greyed.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&greyed));
  // _MOTIF_WM_HINTS = flags, functions, ...; -1: no functions field in use, every one allowed.
  auto functions = [](QWidget& w) -> long {
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(w.winId()), "_MOTIF_WM_HINTS"});
    EXPECT_TRUE(xprop.waitForFinished(10000));
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput());
    const QStringList fields = out.mid(out.indexOf('=') + 1).split(',');
    if (!out.contains('=') || fields.size() < 2 || !(fields[0].trimmed().toLong(nullptr, 0) & 1))
      return -1;
    return fields[1].trimmed().toLong(nullptr, 0);
  };
  const long greyed_functions = functions(greyed);
  ASSERT_GE(greyed_functions, 0);
  EXPECT_EQ(greyed_functions & 0x20, 0);
  const long normal_functions = functions(normal);
  EXPECT_TRUE(normal_functions == -1 || (normal_functions & 0x21)) << normal_functions;
}

}  // namespace
}  // namespace quorvex::ui
