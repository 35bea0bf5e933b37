// The lap table window on a real X server: values and colours, clicks, the keyboard, row
// deletion, the base movie, closing movies, scrolling, the export; and the lap messages.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "laps/LapFile.h"
#include "laps/LapForm.h"
#include "laps/LapMessages.h"
#include "laps/LapTableText.h"
#include "platform/ui/Fonts.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"

namespace quorvex {
namespace {

// Stands in for the main window: keeps the lap lists, shows them in its lap table as the main
// window does and records what the table asks of it.
class Host : public QWidget, public GridInterface {
 public:
  Host() : lf(new LapForm(*this, this)) { setWindowTitle(QStringLiteral("Quorvex")); }
  // One column group per movie, one row per lap row.
  void Fill(const laps::LapLists& lists) {
    while (lf->current_num_item() < int(lists.size()))
      lf->AddItem();
    EXPECT_TRUE(model.Replace(lists));
    lf->ClearRows();
    for (int r = 0; r < model.GetCountRow(); ++r)
      lf->AddRow();
    SetDataGridView();
  }
  void Close(int movie) {
    model.RemoveMovie(movie);
    lf->DeleteBackItem();
    SetDataGridView();
  }
  void RowSelected(int32_t row) override { selected.push_back(row); }
  void RemoveRow(int32_t row) override {
    removed.push_back(row);
    model.RemoveRow(row);
  }
  int32_t GetCountRow() override { return model.GetCountRow(); }
  void SetDataGridView() override { lf->SetDataGridView(model.time_list()); }
  void Show() {
    show();
    lf->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(lf));
  }

  laps::LapModel model;
  LapForm* lf;
  std::vector<int> selected;
  std::vector<int> removed;
};

class LapFormTest : public testing::Test {
 protected:
  void SetUp() override {
    ui::SubstituteUiGothicFont();
    QLocale::setDefault(QLocale::c());
  }
  QTableWidget* grid() { return host.lf->grid(); }
  QTableWidgetItem* Item(int row, const char* kind, int number) {
    return grid()->item(
        row, host.lf->ColumnByName(QStringLiteral("column_%1_%2").arg(kind).arg(number)));
  }
  // The row's header and cells as the table shows them, joined by '|'.
  QString Row(int row) { return host.lf->Texts({row}).rows.at(0).join(u'|'); }
  QColor Fore(int row, const char* kind, int number) {
    return Item(row, kind, number)->foreground().color();
  }
  // Clicks the middle of a cell of `row`, as the user does.
  void ClickRow(int row) {
    const QRect rect = grid()->visualRect(grid()->model()->index(row, 0));
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, rect.center());
  }

  Host host;
};

// Totals, laps and differences against the base movie; the base row has totals only. Slower
// laps are red, faster blue, equal gray.
TEST_F(LapFormTest, ValuesAndColoursOfTheDifferences) {
  host.Fill({{10.0, 15.0, 20.0}, {20.0, 26.0, 31.004}, {30.0, 35.5, 39.5}});
  EXPECT_EQ(Row(0), "0|0.00|||0.00|||0.00||");
  EXPECT_EQ(Row(1), "1|5.00|5.00|---|6.00|6.00|+1.00|5.50|5.50|+0.50");
  EXPECT_EQ(Row(2), "2|10.00|5.00|---|11.00|5.00|0.00|9.50|4.00|-1.00");
  EXPECT_EQ(Fore(1, "dif", 2), QColor(Qt::red));
  EXPECT_EQ(Fore(2, "dif", 2), QColor(128, 128, 128));
  EXPECT_EQ(Fore(2, "dif", 3), QColor(Qt::blue));
}

TEST_F(LapFormTest, TheBaseMovieIndexStaysAPlainNumberWhenMoviesClose) {
  host.Fill({{10.0, 15.0}, {20.0, 26.0}, {30.0, 35.5}});
  host.lf->SetBaseMovieIndex(1);
  host.SetDataGridView();
  EXPECT_EQ(Row(1), "1|5.00|5.00|-1.00|6.00|6.00|---|5.50|5.50|-0.50");
  host.Close(0);  // the former movie 3 moves into index 1 and is now the base
  EXPECT_EQ(host.lf->base_movie_index(), 1);
  EXPECT_EQ(Row(1), "1|6.00|6.00|+0.50|5.50|5.50|---");
  host.Close(1);  // the base was the last movie: the new last one becomes the base
  EXPECT_EQ(host.lf->base_movie_index(), 0);
  EXPECT_EQ(Row(1), "1|6.00|6.00|---");
}

// Clicks and the keyboard select rows; Delete removes a lap row but never the base row.
TEST_F(LapFormTest, ClicksSelectAndTheDeleteKeyRemovesRows) {
  host.Fill({{0.0, 2.0, 5.0, 9.0}, {10.0, 13.0, 17.0, 20.0}});
  host.Show();
  ClickRow(2);                          // not selected yet: the selection change, then the click
  ClickRow(2);                          // already selected: the click alone
  QTest::keyClick(grid(), Qt::Key_Up);  // the keyboard: the selection change alone
  EXPECT_EQ(host.selected, (std::vector<int>{2, 2, 2, 1}));
  ClickRow(0);
  QTest::keyClick(grid(), Qt::Key_Delete);
  EXPECT_EQ(grid()->rowCount(), 4);
  EXPECT_TRUE(host.removed.empty());
  ClickRow(2);
  QTest::keyClick(grid(), Qt::Key_Delete);
  EXPECT_EQ(host.removed, std::vector<int>{2});
  ASSERT_EQ(grid()->rowCount(), 3);
  EXPECT_EQ(Row(2), "2|9.00|7.00|---|10.00|7.00|0.00");  // laps 3 + 4 and 4 + 3 merged
}

TEST_F(LapFormTest, TheNewestRowIsScrolledIntoView) {
  host.Show();
  host.Fill({std::vector<double>(41, 1.0)});
  QCoreApplication::processEvents();  // the scroll comes before the next paint
  EXPECT_TRUE(
      grid()->viewport()->rect().contains(grid()->visualRect(grid()->model()->index(40, 0))));
}

// The main window's tests check the other messages; a success says nothing.
TEST_F(LapFormTest, NoLapDataAndAFailedSaveTellTheUser) {
  test::BoxAnswerer boxes(QMessageBox::Ok);
  const std::vector<test::SeenBox>& seen = boxes.seen;
  QTemporaryDir dir;
  const laps::LapFile file{{"/m/a.mp4"}, {{1.0, 2.5}}};
  ASSERT_TRUE(laps::SaveLapFile(&host, dir.filePath("laps.xml"), file, QLocale::c()));
  laps::ShowNoLapDataMessage(&host);
  EXPECT_FALSE(laps::SaveLapFile(&host, dir.filePath("no/such/folder/laps.xml"), file));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], (test::SeenBox{"Quorvex", "ラップデータがありません。", QMessageBox::Warning,
                                    QMessageBox::Ok}));
  // The failure's description follows on a second line.
  EXPECT_TRUE(seen[1].text.startsWith("ﾌｧｲﾙの書き込みに失敗しました。\n"))
      << seen[1].text.toStdString();
  EXPECT_GT(seen[1].text.size(), 16);
}

// The lap table's export: Ctrl+C copies the selected rows (every row when none is selected)
// with their headers, as shown; the CSV quotes what a spreadsheet would split.
TEST_F(LapFormTest, ClipboardAndCsvHoldTheShownTexts) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  host.Fill({{1.0, 2.5, 4.25}, {1.5, 3.25, 5.0}});
  host.Show();
  const QString header = "\tNo.1 ﾄｰﾀﾙ\tNo.1 区間\tNo.1 ﾀｲﾑ差\tNo.2 ﾄｰﾀﾙ\tNo.2 区間\tNo.2 ﾀｲﾑ差\n";
  const QString row2 = "2\t3,25\t1,75\t'---\t3,50\t1,75\t0,00\n";
  for (const bool all : {true, false}) {
    all ? grid()->clearSelection() : grid()->selectRow(2);
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(grid(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              header +
                  (all ? "0\t0,00\t\t\t0,00\t\t\n1\t1,50\t1,50\t'---\t1,75\t1,75\t+0,25\n" : "") +
                  row2);
  }
  const QByteArray csv = laps::CsvBytes(host.lf->Texts({2}), {"a,b.mp4", "say \"go\".mp4"}, 3);
  EXPECT_EQ(QString::fromUtf8(csv), "\uFEFF,\"a,b.mp4\",,,\"say \"\"go\"\".mp4\",,\r\n" +
                                        QString(header).replace('\t', ',').replace("\n", "\r\n") +
                                        "2,\"3,25\",\"1,75\",'---,\"3,50\",\"1,75\",\"0,00\"\r\n");
}

}  // namespace
}  // namespace quorvex
