// Owned tool windows, the greyed close box, the closing reason and the redirection of a user's
// close request to the owner, on real top-level windows of the X server.
#include <gtest/gtest.h>

#include "tests/ui/Printers.h"

#include <QCloseEvent>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QProcess>
#include <QTest>

#include "platform/ui/OwnedWindow.h"

namespace quorvex::ui {
namespace {

// A window that may not be closed alone, as the control panel and the lap table are.
class Owned : public QWidget {
 public:
  void closeEvent(QCloseEvent* e) override {
    reasons.push_back(ClosingReason(this));
    RedirectUserCloseToOwner(this, e);
  }
  std::vector<CloseReason> reasons;
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
  explicit Child(std::vector<CloseReason>* reasons) : reasons_(reasons) {
    setWidget(new QWidget);
    setAttribute(Qt::WA_DeleteOnClose);
  }
  void closeEvent(QCloseEvent* e) override {
    reasons_->push_back(ClosingReason(this));
    QMdiSubWindow::closeEvent(e);
  }

 private:
  std::vector<CloseReason>* reasons_;
};

TEST(OwnedWindow, UserCloseOfAnOwnedWindowClosesTheOwnerAndThenIt) {
  Owner owner;
  auto* owned = new Owned;
  MakeOwnedToolWindow(owned, &owner);
  DisableCloseButton(owned);
  EXPECT_TRUE(owned->isWindow());
  EXPECT_EQ(owned->parentWidget(), &owner);
  EXPECT_TRUE(owned->windowFlags() & Qt::Tool);
  owner.show();
  owned->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(owned));

  EXPECT_FALSE(owned->close());  // the user's request is turned down for the window itself
  EXPECT_TRUE(owned->isVisible());
  EXPECT_TRUE(owner.isVisible());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !owner.isVisible(); }, 5000));
  EXPECT_FALSE(owned->isVisible());
  EXPECT_EQ(owned->reasons,
            (std::vector<CloseReason>{CloseReason::kUserClosing, CloseReason::kContainerClosing}));
}

TEST(OwnedWindow, OwnerClosingClosesOwnedWindowsWithTheContainerReason) {
  Owner owner;
  auto* a = new Owned;
  auto* b = new Owned;
  MakeOwnedToolWindow(a, &owner);
  MakeOwnedToolWindow(b, &owner);
  owner.show();
  a->show();
  b->show();
  EXPECT_TRUE(owner.close());
  EXPECT_FALSE(a->isVisible());
  EXPECT_FALSE(b->isVisible());
  EXPECT_EQ(a->reasons, std::vector<CloseReason>{CloseReason::kContainerClosing});
  // Outside the scope the owner answers for itself again.
  EXPECT_EQ(ClosingReason(a), CloseReason::kUserClosing);
}

TEST(OwnedWindow, ChildWindowsTellOwnClosingFromContainerClosing) {
  Owner owner;
  owner.area = new QMdiArea;
  owner.setCentralWidget(owner.area);
  std::vector<CloseReason> first_reasons, second_reasons;
  auto* first = new Child(&first_reasons);
  owner.area->addSubWindow(first);
  owner.area->addSubWindow(new Child(&second_reasons));
  owner.show();
  first->close();  // the program asks one child to close: its own account
  owner.close();
  QTest::qWait(20);
  EXPECT_EQ(first_reasons, std::vector<CloseReason>{CloseReason::kUserClosing});
  EXPECT_EQ(second_reasons, std::vector<CloseReason>{CloseReason::kContainerClosing});
}

TEST(OwnedWindow, NestedScopesRestoreTheOuterState) {
  QWidget container;
  QWidget child(&container);
  {
    ContainerClosingScope outer(&container);
    { ContainerClosingScope inner(&container); }
    EXPECT_EQ(ClosingReason(&child), CloseReason::kContainerClosing);
  }
  EXPECT_EQ(ClosingReason(&child), CloseReason::kUserClosing);
}

// The window manager learns that the window has no close function (Motif hints), while other
// functions stay.
TEST(OwnedWindow, DisabledCloseButtonReachesTheWindowManager) {
  QWidget normal;
  QWidget greyed;
  DisableCloseButton(&greyed);
  EXPECT_FALSE(greyed.windowFlags() & Qt::WindowCloseButtonHint);
  normal.show();
  greyed.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&greyed));
  auto hints = [](QWidget& w) {
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(w.winId()), "_MOTIF_WM_HINTS"});
    EXPECT_TRUE(xprop.waitForFinished(10000));
    return QString::fromUtf8(xprop.readAllStandardOutput());
  };
  // _MOTIF_WM_HINTS = flags, functions, decorations, ...; MWM_FUNC_CLOSE is bit 5 (0x20).
  auto functions = [&](QWidget& w) -> long {
    const QString out = hints(w);
    const int eq = out.indexOf('=');
    if (eq < 0)
      return -1;  // no hints at all: every function allowed
    const QStringList fields = out.mid(eq + 1).split(',', Qt::SkipEmptyParts);
    if (fields.size() < 2)
      return -2;
    bool ok = false;
    const long flags = fields[0].trimmed().toLong(&ok, 0);
    if (!ok || !(flags & 1))
      return -1;  // functions field not in use
    return fields[1].trimmed().toLong(&ok, 0);
  };
  const long greyed_functions = functions(greyed);
  ASSERT_GE(greyed_functions, 0) << hints(greyed).toStdString();
  EXPECT_EQ(greyed_functions & 0x20, 0);
  const long normal_functions = functions(normal);
  EXPECT_TRUE(normal_functions == -1 || (normal_functions & 0x20) || (normal_functions & 1))
      << hints(normal).toStdString();
}

}  // namespace
}  // namespace quorvex::ui
