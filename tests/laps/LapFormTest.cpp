// The lap table window on a real X server: values and colours as they reach the screen, clicks,
// the keyboard, row deletion, the base movie, closing movies, scrolling, the export; and the
// lap messages. The user's close request is tested with the main window.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QHeaderView>
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

inline void PrintTo(const QColor& c, std::ostream* os) {
  *os << "QColor(" << c.red() << ", " << c.green() << ", " << c.blue() << ")";
}

namespace quorvex {
namespace {

using test::ModalWatcher;
using test::SeenBox;

const QColor kWhite(255, 255, 255);
const QColor kLightGray(232, 232, 232);
const QColor kPaleTurquoise(175, 238, 238);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kGray(128, 128, 128);
const QColor kBlack(0, 0, 0);

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
  void SetDataGridView() override {
    ++refills;
    lf->SetDataGridView(model.time_list());
  }

  laps::LapModel model;
  LapForm* lf;
  std::vector<int> selected;
  std::vector<int> removed;
  int refills = 0;
};

class LapFormTest : public testing::Test {
 protected:
  void SetUp() override {
    ui::SubstituteUiGothicFont();
    QLocale::setDefault(QLocale::c());
  }
  QTableWidget* grid() { return host.lf->grid(); }
  QTableWidgetItem* Item(int row, const char* kind, int number) {
    const int column = host.lf->ColumnByName(QStringLiteral("column_%1_%2").arg(kind).arg(number));
    EXPECT_GE(column, 0) << kind << number;
    return grid()->item(row, column);
  }
  // The row's header and cells as the table shows them, joined by '|'.
  QString Row(int row) { return host.lf->Texts({row}).rows.at(0).join(u'|'); }
  QColor Fore(int row, const char* kind, int number) {
    return Item(row, kind, number)->foreground().color();
  }
  void ExpectHeaderColours(int base_movie) {
    for (int c = 0; c < grid()->columnCount(); ++c)
      EXPECT_EQ(grid()->horizontalHeaderItem(c)->foreground().color(),
                c / 3 == base_movie ? kBlue : kBlack)
          << c;
  }
  void Show() {
    host.show();
    host.lf->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(host.lf));
  }
  // Clicks the middle of a cell of `row`, as the user does.
  void ClickRow(int row) {
    const QRect rect = grid()->visualRect(grid()->model()->index(row, 0));
    QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, rect.center());
  }

  Host host;
};

// Totals, laps and differences against the base movie; the base row has totals only.
TEST_F(LapFormTest, ValuesAndColoursOfTheDifferences) {
  // Laps of the base movie 5 and 5; of the others 6 and 5.004, 5.5 and 4.
  host.Fill({{10.0, 15.0, 20.0}, {20.0, 26.0, 31.004}, {30.0, 35.5, 39.5}});
  EXPECT_EQ(Row(0), "0|0.00|||0.00|||0.00||");
  EXPECT_EQ(Row(1), "1|5.00|5.00|---|6.00|6.00|+1.00|5.50|5.50|+0.50");
  EXPECT_EQ(Row(2), "2|10.00|5.00|---|11.00|5.00|0.00|9.50|4.00|-1.00");
  EXPECT_EQ(Fore(1, "dif", 1), kGray);
  EXPECT_EQ(Fore(1, "dif", 2), kRed);
  EXPECT_EQ(Fore(2, "dif", 2), kGray);
  EXPECT_EQ(Fore(2, "dif", 3), kBlue);
}

TEST_F(LapFormTest, TheBaseMovieIndexStaysAPlainNumberWhenMoviesClose) {
  host.Fill({{10.0, 15.0}, {20.0, 26.0}, {30.0, 35.5}});
  host.lf->SetBaseMovieIndex(1);
  host.SetDataGridView();
  EXPECT_EQ(Row(1), "1|5.00|5.00|-1.00|6.00|6.00|---|5.50|5.50|-0.50");
  host.Close(0);  // the former movie 3 moves into index 1 and is now the base
  EXPECT_EQ(grid()->columnCount(), 6);
  EXPECT_EQ(host.lf->base_movie_index(), 1);
  EXPECT_EQ(Row(1), "1|6.00|6.00|+0.50|5.50|5.50|---");
  EXPECT_EQ(Fore(1, "dif", 2), kGray);
  ExpectHeaderColours(1);

  host.Close(1);  // the base was the last movie: the new last one becomes the base
  EXPECT_EQ(host.lf->base_movie_index(), 0);
  EXPECT_EQ(Row(1), "1|6.00|6.00|---");
  host.Close(0);
  EXPECT_EQ(host.lf->base_movie_index(), 0);
  EXPECT_EQ(grid()->columnCount(), 0);
  host.lf->DeleteBackItem();  // nothing left to remove
  EXPECT_EQ(host.lf->current_num_item(), 0);
  host.lf->SetDataGridView({});  // without column groups an empty list changes nothing
  EXPECT_EQ(grid()->rowCount(), 2);
}

// Whether some pixel of `area` of `image` is clearly of the hue of `c` (red or blue):
// anti-aliased text seldom reaches the pure colour, but its hue dominates.
bool HasPixelsLike(const QImage& image, const QRect& area, const QColor& c) {
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      const QColor p = image.pixelColor(x, y);
      if ((c == kRed && p.red() > p.green() + 80 && p.red() > p.blue() + 80) ||
          (c == kBlue && p.blue() > p.red() + 80 && p.blue() > p.green() + 80))
        return true;
    }
  }
  return false;
}

QColor BesideText(const QImage& image, const QRect& cell) {
  return image.pixelColor(cell.right() - 2, cell.center().y());
}

// The window: owned, without close and maximize boxes, its column headers wrapped to two
// lines. The colours on the screen: movies' backgrounds alternate, the
// selected row (its header too) is pale turquoise and its difference keeps its colour.
TEST_F(LapFormTest, AnOwnedToolWindowShowingItsColoursOnTheScreen) {
  host.Fill({{0, 1, 2}, {0, 2, 2.5}});  // row 1: movie 2 +1.00 red; row 2: -0.50 blue
  Show();
  EXPECT_EQ(host.lf->windowTitle(), "Lap");
  EXPECT_EQ(host.lf->parentWidget(), &host);
  EXPECT_TRUE(host.lf->isWindow());
  EXPECT_EQ(host.lf->windowFlags() &
                (Qt::Tool | Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint),
            Qt::Tool);
  const QHeaderView* header = grid()->horizontalHeader();
  EXPECT_GT(header->height(), 2 * QFontMetrics(header->font()).height());
  grid()->selectRow(1);
  QTest::qWait(50);
  auto rect = [&](int row, const char* kind, int n) {
    return grid()->visualItemRect(Item(row, kind, n));
  };
  const QImage cells = grid()->viewport()->grab().toImage();
  EXPECT_EQ(BesideText(cells, rect(1, "total", 1)), kPaleTurquoise);
  EXPECT_EQ(BesideText(cells, rect(1, "dif", 2)), kPaleTurquoise);
  EXPECT_EQ(BesideText(cells, rect(2, "total", 1)), kWhite);
  EXPECT_EQ(BesideText(cells, rect(2, "total", 2)), kLightGray);
  // The selected difference keeps its red text; the selected total is not red.
  EXPECT_TRUE(HasPixelsLike(cells, rect(1, "dif", 2), kRed));
  EXPECT_FALSE(HasPixelsLike(cells, rect(1, "total", 2), kRed));
  EXPECT_TRUE(HasPixelsLike(cells, rect(2, "dif", 2), kBlue));
  // The selected row's header is pale turquoise, the others are not.
  QHeaderView* rows = grid()->verticalHeader();
  const QImage row_headers = rows->viewport()->grab().toImage();
  auto row_header = [&](int row) {
    return QRect(0, rows->sectionViewportPosition(row), rows->width(), rows->sectionSize(row));
  };
  EXPECT_EQ(BesideText(row_headers, row_header(1)), kPaleTurquoise);
  EXPECT_NE(BesideText(row_headers, row_header(2)), kPaleTurquoise);
  // The base movie's header text is blue on the screen, the other movie's is not.
  QHeaderView* columns = grid()->horizontalHeader();
  const QImage top = columns->viewport()->grab().toImage();
  auto column = [&](int c) {
    return QRect(columns->sectionViewportPosition(c), 0, columns->sectionSize(c),
                 columns->height());
  };
  EXPECT_TRUE(HasPixelsLike(top, column(0), kBlue));
  EXPECT_FALSE(HasPixelsLike(top, column(3), kBlue));
}

TEST_F(LapFormTest, ClicksAndSelectionChangesSelectRows) {
  host.Fill({{10.0, 12.0, 14.0}, {20.0, 23.0, 25.5}});
  Show();
  ClickRow(2);  // not selected yet: the selection change, then the click
  EXPECT_EQ(host.selected, (std::vector<int>{2, 2}));
  host.selected.clear();
  ClickRow(2);  // already selected: the click alone
  EXPECT_EQ(host.selected, (std::vector<int>{2}));
  host.selected.clear();
  QTest::keyClick(grid(), Qt::Key_Up);  // the keyboard: the selection change alone
  EXPECT_EQ(host.selected, (std::vector<int>{1}));
  host.selected.clear();
  ClickRow(0);  // the base row too
  EXPECT_EQ(host.selected, (std::vector<int>{0, 0}));
  host.selected.clear();
  const QHeaderView* rows = grid()->verticalHeader();
  QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                    QPoint(10, rows->sectionViewportPosition(1) + 5));
  ASSERT_FALSE(host.selected.empty());
  EXPECT_EQ(host.selected.back(), 1);
}

TEST_F(LapFormTest, TheDeleteKeyRemovesALapRowButNeverTheBaseRow) {
  host.Fill({{0.0, 2.0, 5.0, 9.0}, {10.0, 13.0, 17.0, 20.0}});
  Show();
  host.refills = 0;
  ClickRow(0);
  QTest::keyClick(grid(), Qt::Key_Delete);
  EXPECT_EQ(grid()->rowCount(), 4);
  EXPECT_TRUE(host.removed.empty());
  EXPECT_EQ(host.refills, 0);

  ClickRow(2);
  QTest::keyClick(grid(), Qt::Key_Delete);
  EXPECT_EQ(host.removed, std::vector<int>{2});
  EXPECT_EQ(host.refills, 1);
  ASSERT_EQ(grid()->rowCount(), 3);
  EXPECT_EQ(Row(2), "2|9.00|7.00|---|10.00|7.00|0.00");  // laps 3 + 4 and 4 + 3 merged
}

TEST_F(LapFormTest, TheNewestRowIsScrolledIntoView) {
  laps::LapLists lists{{0.0}};
  host.Fill(lists);
  Show();
  for (int i = 1; i <= 40; ++i) {
    lists[0].push_back(i);
    ASSERT_TRUE(host.model.Replace(lists));
    host.lf->AddRow();
    host.SetDataGridView();
    QCoreApplication::processEvents();  // the scroll comes before the next paint
    ASSERT_TRUE(
        grid()->viewport()->rect().contains(grid()->visualRect(grid()->model()->index(i, 0))))
        << i;
  }
  EXPECT_GT(grid()->rowAt(0), 0);  // the first rows scrolled away
}

// ---- The messages of the lap operations and the lap-file commands ----

class LapMessages : public LapFormTest {
 protected:
  std::vector<SeenBox> seen;
  std::unique_ptr<ModalWatcher> watcher{ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen)};
  QTemporaryDir dir;
};

// The lap operations' two messages; every failure of the file commands told with its
// description on a second line; a success says nothing. All with the main window's caption.
TEST_F(LapMessages, TellTheUser) {
  const laps::LapFile file{{"/m/a&b.mp4"}, {{1.0, 2.5}}};
  const QString good = dir.filePath("laps.xml");
  ASSERT_TRUE(laps::SaveLapFile(&host, good, file, QLocale::c()));
  const std::optional<laps::LapFile> back = laps::LoadLapFile(&host, good, QLocale::c());
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->time_list, file.time_list);
  EXPECT_TRUE(seen.empty());

  laps::ShowBeforeBaseMessage(&host);
  laps::ShowNoLapDataMessage(&host);
  const QString bad = dir.filePath("bad.xml");
  QFile f(bad);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("<QuorvexLapFile><file_name><list>a</list></file_name><lap/></QuorvexLapFile>");
  f.close();
  for (const QString& path : {bad, dir.filePath("missing.xml"), QString()})
    EXPECT_FALSE(laps::LoadLapFile(&host, path, QLocale::c()).has_value());
  EXPECT_FALSE(laps::SaveLapFile(&host, dir.filePath("no/such/folder/laps.xml"), file));
  ASSERT_EQ(seen.size(), 6u);
  const QString load_failed = "ﾌｧｲﾙの読み込みに失敗しました。\n";
  const QString texts[] = {"基準位置より前の位置をセットすることはできません。",
                           "ラップデータがありません。",
                           load_failed + "ﾌｫｰﾏｯﾄが不正です。",
                           load_failed,
                           load_failed,
                           "ﾌｧｲﾙの書き込みに失敗しました。\n"};
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].caption, "Quorvex");
    EXPECT_EQ(seen[i].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(seen[i].icon, i == 0 ? QMessageBox::Information : QMessageBox::Warning);
    // Failures carry their description on a second line.
    EXPECT_TRUE(seen[i].text.startsWith(texts[i])) << seen[i].text.toStdString();
    EXPECT_EQ(seen[i].text.size() > texts[i].size(), i >= 3) << seen[i].text.toStdString();
  }
}

// The lap table's export: Ctrl+C copies the selected rows (every row when none is selected)
// with their headers, as shown; the CSV, written through the lap file's save under a
// comma-decimal locale, quotes what a spreadsheet would split.
TEST(LapExportTest, ClipboardAndCsvHoldTheShownTexts) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  Host host;
  host.Fill({{1.0, 2.5, 4.25}, {1.5, 3.25, 5.0}});
  host.lf->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(host.lf));
  QTableWidget* grid = host.lf->grid();
  const auto copy = [grid] {
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    return QGuiApplication::clipboard()->text();
  };
  const QString header = "\tNo.1 ﾄｰﾀﾙ\tNo.1 区間\tNo.1 ﾀｲﾑ差\tNo.2 ﾄｰﾀﾙ\tNo.2 区間\tNo.2 ﾀｲﾑ差\n";
  const QString row2 = "2\t3,25\t1,75\t---\t3,50\t1,75\t0,00\n";
  grid->clearSelection();
  EXPECT_EQ(copy(),
            header + "0\t0,00\t\t\t0,00\t\t\n1\t1,50\t1,50\t---\t1,75\t1,75\t+0,25\n" + row2);
  grid->selectRow(2);
  EXPECT_EQ(copy(), header + row2);

  QTemporaryDir dir;
  const QString path = dir.filePath("laps.csv");
  const QStringList names{"a,b.mp4", "say \"go\".mp4"};
  ASSERT_EQ(laps::SaveFileBytes(path, laps::CsvBytes(host.lf->Texts(), names, 3)), std::nullopt);
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromUtf8(file.readAll()),
            "\uFEFF,\"a,b.mp4\",,,\"say \"\"go\"\".mp4\",,\r\n" +
                QString(header).replace('\t', ',').replace("\n", "\r\n") +
                "0,\"0,00\",,,\"0,00\",,\r\n1,\"1,50\",\"1,50\",---,\"1,75\",\"1,75\",\"+0,25\"\r\n"
                "2,\"3,25\",\"1,75\",---,\"3,50\",\"1,75\",\"0,00\"\r\n");
  QLocale::setDefault(before);
}

}  // namespace
}  // namespace quorvex
