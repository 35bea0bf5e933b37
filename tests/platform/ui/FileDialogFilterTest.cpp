// Filter strings of "label|patterns" pairs, mapped to Qt's name filters, and what a real file
// dialog then lists. (The movie and lap-file filters themselves are checked on the main
// window's dialogs.)
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include "platform/ui/FileDialogFilter.h"
#include "tests/ui/Printers.h"

namespace quorvex::ui {
namespace {

TEST(FileDialogFilter, MapsPairsToQtFilters) {
  const std::vector<std::pair<QString, QStringList>> cases{
      {"Text|*.txt", {"Text (*.txt *.TXT)"}},
      {"Notes (old)|*.n", {"Notes (old) (*.n *.N)"}},  // other parentheses in the label
      {"", {}},
      {"A|*.a|B", {"A (*.a *.A)"}},         // a trailing label is dropped
      {"A||B|*.b", {"B (*.b *.B)"}},        // so are empty patterns
      {"A|*.a;*.a;*.A", {"A (*.a *.A)"}}};  // duplicates once
  for (const auto& [pairs, expected] : cases)
    EXPECT_EQ(FileDialogFilters(pairs), expected) << pairs.toStdString();
}

// Qt's own dialog must read the mapped filters: the movie filter lists movies whatever the case
// of their extension, the all-files filter lists files without an extension too.
TEST(FileDialogFilter, QtDialogListsWhatTheFilterSelects) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* name : {"a.mp4", "B.MOV", "c.wmv", "notes.txt", "README"}) {
    QFile f(dir.filePath(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  const QStringList filters = FileDialogFilters(
      "Movie files (*.avi;*.mpg;*.mp4;*.mov;*.wmv)|*.avi;*.mpg;*.mp4;*.mov;*.wmv|すべてのﾌｧｲﾙ|*.*");
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters(filters);
  auto* model = dialog.findChild<QFileSystemModel*>();
  ASSERT_NE(model, nullptr);
  QSignalSpy loaded(model, &QFileSystemModel::directoryLoaded);
  dialog.setDirectory(dir.path());
  dialog.show();
  ASSERT_TRUE(loaded.count() > 0 || loaded.wait(10000));

  auto listed = [&] {
    QStringList names;
    const QModelIndex root = model->index(dir.path());
    for (int r = 0; r < model->rowCount(root); ++r) {
      const QModelIndex i = model->index(r, 0, root);
      // The model keeps filtered-out files only as disabled rows when asked to; here it hides.
      if (model->flags(i) & Qt::ItemIsEnabled)
        names << model->fileName(i);
    }
    names.sort();
    return names;
  };
  EXPECT_EQ(listed(), (QStringList{"B.MOV", "a.mp4", "c.wmv"}));
  dialog.selectNameFilter(filters[1]);
  QTest::qWait(50);
  EXPECT_EQ(listed(), (QStringList{"B.MOV", "README", "a.mp4", "c.wmv", "notes.txt"}));
}

}  // namespace
}  // namespace quorvex::ui
