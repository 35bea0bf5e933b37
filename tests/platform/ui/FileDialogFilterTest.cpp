// Filter strings of "label|patterns" pairs, mapped to Qt's name filters, and what a real file
// dialog then lists.
#include <gtest/gtest.h>

#include "tests/ui/Printers.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "platform/ui/FileDialogFilter.h"

namespace quorvex::ui {
namespace {

struct FilterCase {
  const char* name;
  QString pairs;
  QStringList expected;
};

void PrintTo(const FilterCase& c, std::ostream* os) {
  *os << c.name;
}

class FileDialogFilterTest : public testing::TestWithParam<FilterCase> {};

TEST_P(FileDialogFilterTest, MapsPairsToQtFilters) {
  EXPECT_EQ(FileDialogFilters(GetParam().pairs), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileDialogFilterTest,
    testing::Values(
        FilterCase{"Movies",
                   QString::fromUtf8("Movie files (*.avi;*.mpg;*.mp4;*.mov;*.wmv)|"
                                     "*.avi;*.mpg;*.mp4;*.mov;*.wmv|すべてのﾌｧｲﾙ|*.*"),
                   {"Movie files (*.avi *.AVI *.mpg *.MPG *.mp4 *.MP4 *.mov *.MOV *.wmv *.WMV)",
                    QString::fromUtf8("すべてのﾌｧｲﾙ (*)")}},
        FilterCase{"Xml",
                   QString::fromUtf8("XML files (*.xml)|*.xml|すべてのﾌｧｲﾙ|*.*"),
                   {"XML files (*.xml *.XML)", QString::fromUtf8("すべてのﾌｧｲﾙ (*)")}},
        FilterCase{"LabelWithoutPatterns", "Text|*.txt", {"Text (*.txt *.TXT)"}},
        FilterCase{"LabelWithOtherParentheses", "Notes (old)|*.n", {"Notes (old) (*.n *.N)"}},
        FilterCase{"Empty", "", {}}, FilterCase{"TrailingLabelDropped", "A|*.a|B", {"A (*.a *.A)"}},
        FilterCase{"EmptyPatternsDropped", "A||B|*.b", {"B (*.b *.B)"}},
        FilterCase{"DuplicatesOnce", "A|*.a;*.a;*.A", {"A (*.a *.A)"}}),
    [](const testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

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
      QString::fromUtf8("Movie files (*.avi;*.mpg;*.mp4;*.mov;*.wmv)|*.avi;*.mpg;*.mp4;*.mov;*.wmv|"
                        "すべてのﾌｧｲﾙ|*.*"));
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
