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
    if (area)
      area->closeAllSubWindows();
    e->accept();
  }
  QMdiArea* area = nullptr;
};

// Deleted when closed, as movie windows are: the reasons go to the test's own list.
class Child : public QMdiSubWindow {
 public:
  explicit Child(Reasons* reasons) : reasons_(reasons) {
    setWidget(new QWidget);
    setAttribute(Qt::WA_DeleteOnClose);
  }
  void closeEvent(QCloseEvent* e) override {
    reasons_->push_back(ClosingReason(this));
    QMdiSubWindow::closeEvent(e);
  }

 private:
  Reasons* reasons_;
};

// The owner closing closes its owned windows and children with the container's reason; a child
// the program closes alone has its own; nested scopes restore the outer state.
TEST(OwnedWindow, OwnerClosingGivesTheContainerReason) {
  Owner owner;
  owner.area = new QMdiArea;
  owner.setCentralWidget(owner.area);
  auto* a = new Owned;
  auto* b = new Owned;
  MakeOwnedToolWindow(a, &owner);
  MakeOwnedToolWindow(b, &owner);
  Reasons first_reasons, second_reasons;
  auto* first = new Child(&first_reasons);
  owner.area->addSubWindow(first);
  owner.area->addSubWindow(new Child(&second_reasons));
  owner.show();
  a->show();
  b->show();
  first->close();
  EXPECT_TRUE(owner.close());
  QTest::qWait(20);
  EXPECT_FALSE(a->isVisible());
  EXPECT_FALSE(b->isVisible());
  EXPECT_EQ(a->reasons, Reasons{CloseReason::kContainerClosing});
  EXPECT_EQ(first_reasons, Reasons{CloseReason::kUserClosing});
  EXPECT_EQ(second_reasons, Reasons{CloseReason::kContainerClosing});
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
