// The active child's menus in the container's menu bar, on real MDI windows.
#include <gtest/gtest.h>

#include "tests/ui/Printers.h"

#include <QAction>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include "platform/ui/MenuMerge.h"

namespace quorvex::ui {
namespace {

class Child : public QMdiSubWindow, public MenuStripHost {
 public:
  explicit Child(const QString& name) : strip_(new QMenuBar(this)) {
    strip_->hide();
    QMenu* file = strip_->addMenu(name + "-file");
    check_ = file->addAction("check");
    check_->setCheckable(true);
    strip_->addMenu(name + "-options");
    setWidget(new QWidget);
    setAttribute(Qt::WA_DeleteOnClose);
  }
  QMenuBar* MainMenuStrip() const override { return strip_; }
  QAction* check_ = nullptr;

 private:
  QMenuBar* strip_;
};

QStringList Titles(const QMenuBar* bar) {
  QStringList titles;
  for (const QAction* a : bar->actions())
    titles << a->text();
  return titles;
}

class MenuMergeTest : public testing::Test {
 protected:
  void SetUp() override {
    window_.setCentralWidget(area_);
    window_.menuBar()->addMenu("main-file");
    window_.menuBar()->addMenu("main-window");
    merger_ = new MdiMenuMerger(window_.menuBar(), area_);
    window_.resize(800, 600);
    window_.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }
  Child* Add(const QString& name) {
    auto* c = new Child(name);
    area_->addSubWindow(c);
    c->show();
    return c;
  }

  QMainWindow window_;
  QMdiArea* area_ = new QMdiArea;
  MdiMenuMerger* merger_ = nullptr;
};

TEST_F(MenuMergeTest, ActiveChildsMenusFollowTheMainMenus) {
  EXPECT_EQ(Titles(window_.menuBar()), (QStringList{"main-file", "main-window"}));
  Child* one = Add("one");
  Child* two = Add("two");
  area_->setActiveSubWindow(one);
  EXPECT_EQ(Titles(window_.menuBar()),
            (QStringList{"main-file", "main-window", "one-file", "one-options"}));
  area_->setActiveSubWindow(two);
  EXPECT_EQ(Titles(window_.menuBar()),
            (QStringList{"main-file", "main-window", "two-file", "two-options"}));
  EXPECT_EQ(merger_->merged_child(), two);
  // The strip stays hidden inside its window; its menus are the same objects in the bar.
  EXPECT_FALSE(two->MainMenuStrip()->isVisible());
}

TEST_F(MenuMergeTest, MergedItemsAreTheChildsOwn) {
  Child* one = Add("one");
  area_->setActiveSubWindow(one);
  QAction* file = window_.menuBar()->actions().at(2);
  ASSERT_NE(file->menu(), nullptr);
  file->menu()->actions().at(0)->trigger();
  EXPECT_TRUE(one->check_->isChecked());
}

TEST_F(MenuMergeTest, ClosingChildrenLeavesTheNextOneOrOnlyTheMainMenus) {
  Child* one = Add("one");
  Child* two = Add("two");
  area_->setActiveSubWindow(two);
  two->close();
  QTest::qWait(20);
  EXPECT_EQ(Titles(window_.menuBar()),
            (QStringList{"main-file", "main-window", "one-file", "one-options"}));
  one->close();
  QTest::qWait(20);
  EXPECT_EQ(Titles(window_.menuBar()), (QStringList{"main-file", "main-window"}));
  EXPECT_EQ(merger_->merged_child(), nullptr);
}

TEST_F(MenuMergeTest, DeletedChildTakesItsMenusAlong) {
  Child* one = Add("one");
  area_->setActiveSubWindow(one);
  delete one;
  EXPECT_EQ(Titles(window_.menuBar()), (QStringList{"main-file", "main-window"}));
}

TEST_F(MenuMergeTest, AnotherTopLevelWindowTakingFocusKeepsTheMenus) {
  Child* one = Add("one");
  area_->setActiveSubWindow(one);
  QWidget tool(&window_, Qt::Tool);
  tool.show();
  tool.activateWindow();
  QApplication::setActiveWindow(&tool);
  QTest::qWait(50);
  EXPECT_EQ(Titles(window_.menuBar()),
            (QStringList{"main-file", "main-window", "one-file", "one-options"}));
}

}  // namespace
}  // namespace quorvex::ui
