#pragma once

// A main window under the test X server whose movie clients start the built program, and the
// helpers its tests share.

#include <gtest/gtest.h>

#include <QMdiArea>
#include <QTest>

#include <memory>

#include "app/MainForm.h"
#include "platform/ui/Fonts.h"
#include "tests/support/TestEnv.h"
#include "ui/VideoForm.h"

namespace quorvex::test {

inline ClientOptions TestClientOptions() {
  ClientOptions options;
  options.server_path = QuorvexExe();
  return options;
}

inline QString MoviePath(const char* name) {
  return QString::fromStdString(Movie(name));
}

class MainFormTest : public testing::Test {
 protected:
  void SetUp() override { ui::SubstituteUiGothicFont(); }
  void TearDown() override { form_.reset(); }

  // Shows a main window that opens `files` once loaded, and waits until it has.
  MainForm& Start(const QStringList& files = {}) {
    form_ = std::make_unique<MainForm>(files, TestClientOptions());
    form_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form_->loaded(); }, 60000));
    QTest::qWait(20);
    return *form_;
  }

  QStringList Titles() const {
    QStringList titles;
    for (VideoForm* vf : form_->vfs())
      titles << vf->windowTitle();
    return titles;
  }
  // Resizes the main window so that its area's client rectangle is w x h.
  void SetClientSize(int w, int h) {
    QWidget* client = form_->mdi_area()->viewport();
    for (int attempt = 0; attempt < 3 && client->size() != QSize(w, h); ++attempt) {
      form_->resize(form_->width() + (w - client->width()),
                    form_->height() + (h - client->height()));
      QTest::qWait(30);
    }
    ASSERT_EQ(client->size(), QSize(w, h));
  }

  std::unique_ptr<MainForm> form_;
};

}  // namespace quorvex::test
