// The active child's menus in the container's menu bar, on real MDI windows.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include "platform/ui/MenuMerge.h"
#include "tests/ui/Printers.h"

namespace quorvex::ui {
namespace {

class Child : public QMdiSubWindow, public MenuStripHost {
 public:
  explicit Child(const QString& name) : strip_(new QMenuBar(this)) {
    strip_->hide();
    check_ = strip_->addMenu(name + "-file")->addAction("check");
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
    area_->setActiveSubWindow(c);
    return c;
  }
  // The menu bar's titles after the main window's own two.
  QStringList Merged() const {
    QStringList titles;
    for (const QAction* a : window_.menuBar()->actions())
      titles << a->text();
    EXPECT_EQ(titles.mid(0, 2), (QStringList{"main-file", "main-window"}));
    return titles.mid(2);
  }

  QMainWindow window_;
  QMdiArea* area_ = new QMdiArea;
  MdiMenuMerger* merger_ = nullptr;
};

// The active child's menus follow the main menus, as the child's own objects; its strip stays
// hidden inside it. Closing the active child merges the next one, closing the last none.
TEST_F(MenuMergeTest, ActiveChildsMenusFollowTheMainMenus) {
  EXPECT_EQ(Merged(), QStringList{});
  Child* one = Add("one");
  EXPECT_EQ(Merged(), (QStringList{"one-file", "one-options"}));
  window_.menuBar()->actions().at(2)->menu()->actions().at(0)->trigger();
  EXPECT_TRUE(one->check_->isChecked());
  Child* two = Add("two");
  EXPECT_EQ(Merged(), (QStringList{"two-file", "two-options"}));
  EXPECT_EQ(merger_->merged_child(), two);
  EXPECT_FALSE(two->MainMenuStrip()->isVisible());

  // Another top-level window taking the focus keeps the menus.
  QWidget tool(&window_, Qt::Tool);
  tool.show();
  tool.activateWindow();
  QApplication::setActiveWindow(&tool);
  QTest::qWait(50);
  EXPECT_EQ(Merged(), (QStringList{"two-file", "two-options"}));

  two->close();
  QTest::qWait(20);
  EXPECT_EQ(Merged(), (QStringList{"one-file", "one-options"}));
  one->close();
  QTest::qWait(20);
  EXPECT_EQ(Merged(), QStringList{});
  EXPECT_EQ(merger_->merged_child(), nullptr);
}

TEST_F(MenuMergeTest, DeletedChildTakesItsMenusAlong) {
  delete Add("one");
  EXPECT_EQ(Merged(), QStringList{});
}

}  // namespace
}  // namespace quorvex::ui
