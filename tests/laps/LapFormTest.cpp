// The lap table window on a real X server: columns and headers, values and colours as items
// carry them and as they reach the screen, clicks, the keyboard, row deletion, the base movie,
// closing movies, scrolling, the window manager's close request; and the lap messages.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QCloseEvent>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "laps/LapFile.h"
#include "laps/LapForm.h"
#include "laps/LapMessages.h"
#include "laps/LapTableText.h"
#include "platform/ui/Fonts.h"
#include "platform/ui/OwnedWindow.h"
#include "tests/laps/XCloseRequest.h"
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
  int close_requests = 0;

 protected:
  void closeEvent(QCloseEvent* event) override {
    ++close_requests;
    ui::ContainerClosingScope closing(this);
    ui::CloseOwnedWindows(this);
    event->accept();
  }
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
  QString Text(int row, const char* kind, int number) {
    QTableWidgetItem* item = Item(row, kind, number);
    return item ? item->text() : QString();
  }
  QColor Fore(int row, const char* kind, int number) {
    return Item(row, kind, number)->foreground().color();
  }
  QColor Role(int row, const char* kind, int number, int role) {
    return Item(row, kind, number)->data(role).value<QBrush>().color();
  }
  void ExpectHeaderColours(int base_movie) {
    for (int c = 0; c < grid()->columnCount(); ++c)
      EXPECT_EQ(grid()->horizontalHeaderItem(c)->foreground().color(),
                c / 3 == base_movie ? kBlue : kBlack)
          << c;
  }
  QStringList RowHeaders() {
    QStringList texts;
    for (int r = 0; r < grid()->rowCount(); ++r)
      texts << grid()->verticalHeaderItem(r)->text();
    return texts;
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

TEST_F(LapFormTest, AnOwnedToolWindowWithThreeFixedColumnsPerMovie) {
  for (int i = 0; i < 3; ++i)
    host.lf->AddItem();
  Show();
  EXPECT_EQ(host.lf->windowTitle(), "Lap");
  EXPECT_EQ(host.lf->parentWidget(), &host);
  EXPECT_TRUE(host.lf->isWindow());
  EXPECT_TRUE(host.lf->windowFlags() & Qt::Tool);
  EXPECT_FALSE(host.lf->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(host.lf->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(host.lf->size(), QSize(442, 273));
  EXPECT_EQ(grid()->geometry(), host.lf->rect());
  EXPECT_EQ(grid()->verticalHeader()->width(), 50);
  EXPECT_EQ(grid()->verticalHeader()->defaultSectionSize(), 21);

  ASSERT_EQ(grid()->columnCount(), 9);
  EXPECT_EQ(host.lf->current_num_item(), 3);
  QStringList texts, names;
  std::vector<int> widths;
  QHeaderView* header = grid()->horizontalHeader();
  const QFontMetrics metrics(header->font());
  for (int c = 0; c < 9; ++c) {
    texts << grid()->horizontalHeaderItem(c)->text();
    names << grid()->horizontalHeaderItem(c)->data(LapForm::kColumnNameRole).toString();
    widths.push_back(grid()->columnWidth(c));
    // The header is high enough for its text wrapped to the column.
    EXPECT_GE(header->height(), metrics
                                    .boundingRect(QRect(0, 0, widths.back() - 6, 1000),
                                                  Qt::AlignCenter | Qt::TextWordWrap, texts.back())
                                    .height())
        << c;
  }
  EXPECT_EQ(texts, (QStringList{"No.1 ﾄｰﾀﾙ", "No.1 区間", "No.1 ﾀｲﾑ差", "No.2 ﾄｰﾀﾙ", "No.2 区間",
                                "No.2 ﾀｲﾑ差", "No.3 ﾄｰﾀﾙ", "No.3 区間", "No.3 ﾀｲﾑ差"}));
  EXPECT_EQ(names, (QStringList{"column_total_1", "column_lap_1", "column_dif_1", "column_total_2",
                                "column_lap_2", "column_dif_2", "column_total_3", "column_lap_3",
                                "column_dif_3"}));
  EXPECT_EQ(widths, (std::vector<int>{40, 40, 50, 40, 40, 50, 40, 40, 50}));
  EXPECT_GT(header->height(), metrics.height());  // "No.1 ﾀｲﾑ差" does not fit on one line
  ExpectHeaderColours(0);
  // The user can neither resize nor sort nor edit.
  EXPECT_EQ(header->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(grid()->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_FALSE(grid()->isSortingEnabled());
  EXPECT_EQ(grid()->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(grid()->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(grid()->selectionBehavior(), QAbstractItemView::SelectRows);
}

TEST_F(LapFormTest, ValuesAndColoursInTheRegionalFormat) {
  // Laps of the base movie 5 and 5; of the others 6 and 5.004, 5.5 and 4.
  host.Fill({{10.0, 15.0, 20.0}, {20.0, 26.0, 31.004}, {30.0, 35.5, 39.5}});
  EXPECT_EQ(RowHeaders(), (QStringList{"0", "1", "2"}));
  const char* const texts[3][3][3] = {
      // [row][movie]: total, lap, dif
      {{"0.00", "", ""}, {"0.00", "", ""}, {"0.00", "", ""}},  // the base row has totals only
      {{"5.00", "5.00", "---"}, {"6.00", "6.00", "+1.00"}, {"5.50", "5.50", "+0.50"}},
      {{"10.00", "5.00", "---"}, {"11.00", "5.00", "0.00"}, {"9.50", "4.00", "-1.00"}}};
  for (int r = 0; r < 3; ++r) {
    for (int n = 1; n <= 3; ++n) {
      EXPECT_EQ(Text(r, "total", n), texts[r][n - 1][0]) << r << n;
      EXPECT_EQ(Text(r, "lap", n), texts[r][n - 1][1]) << r << n;
      EXPECT_EQ(Text(r, "dif", n), texts[r][n - 1][2]) << r << n;
      // Backgrounds alternate by movie; the difference keeps its colour when selected.
      for (const char* kind : {"total", "lap", "dif"}) {
        EXPECT_EQ(Item(r, kind, n)->background().color(), n % 2 == 1 ? kWhite : kLightGray);
        EXPECT_EQ(Role(r, kind, n, LapForm::kSelectionBackgroundRole), kPaleTurquoise);
      }
      EXPECT_EQ(Role(r, "dif", n, LapForm::kSelectionForegroundRole), Fore(r, "dif", n));
    }
  }
  EXPECT_EQ(Fore(1, "dif", 1), kGray);
  EXPECT_EQ(Fore(1, "dif", 2), kRed);
  EXPECT_EQ(Fore(2, "dif", 2), kGray);
  EXPECT_EQ(Fore(2, "dif", 3), kBlue);

  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  host.SetDataGridView();
  EXPECT_EQ(Text(1, "total", 3), "5,50");
  EXPECT_EQ(Text(2, "dif", 3), "-1,00");
}

TEST_F(LapFormTest, TheBaseMovieIndexStaysAPlainNumberWhenMoviesClose) {
  host.Fill({{10.0, 15.0}, {20.0, 26.0}, {30.0, 35.5}});
  host.lf->SetBaseMovieIndex(1);
  host.SetDataGridView();
  EXPECT_EQ(Text(1, "dif", 2), "---");
  EXPECT_EQ(Text(1, "dif", 3), "-0.50");
  host.Close(0);  // the former movie 3 moves into index 1 and is now the base
  EXPECT_EQ(grid()->columnCount(), 6);
  EXPECT_EQ(grid()->rowCount(), 2);
  EXPECT_EQ(host.lf->base_movie_index(), 1);
  EXPECT_EQ(Text(1, "total", 1), "6.00");
  EXPECT_EQ(Text(1, "dif", 2), "---");
  EXPECT_EQ(Fore(1, "dif", 2), kGray);
  EXPECT_EQ(Text(1, "dif", 1), "+0.50");
  ExpectHeaderColours(1);

  host.Close(1);  // the base was the last movie: the new last one becomes the base
  EXPECT_EQ(host.lf->base_movie_index(), 0);
  EXPECT_EQ(Text(1, "dif", 1), "---");
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

TEST_F(LapFormTest, SelectionColoursReachTheScreen) {
  host.Fill({{0, 1, 2}, {0, 2, 2.5}});  // row 1: movie 2 +1.00 red; row 2: -0.50 blue
  Show();
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
  EXPECT_EQ(RowHeaders(), (QStringList{"0", "1", "2"}));
  EXPECT_EQ(Text(2, "lap", 1), "7.00");  // 3 + 4 merged
  EXPECT_EQ(Text(2, "dif", 2), "0.00");  // 4 + 3 merged
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

// The user's close box or Alt+F4: the request reaches the main window, which closes both.
TEST_F(LapFormTest, AUserCloseRequestClosesTheMainWindowFirst) {
  Show();
  ASSERT_TRUE(test::SendCloseRequest(host.lf->winId()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return host.close_requests > 0; }, 10000));
  EXPECT_FALSE(host.isVisible());
  EXPECT_FALSE(host.lf->isVisible());
  EXPECT_EQ(host.close_requests, 1);
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
  EXPECT_EQ(seen[0].text, "基準位置より前の位置をセットすることはできません。");
  EXPECT_EQ(seen[0].icon, QMessageBox::Information);
  EXPECT_EQ(seen[1].text, "ラップデータがありません。");
  const QString load_failed = "ﾌｧｲﾙの読み込みに失敗しました。\n";
  EXPECT_EQ(seen[2].text, load_failed + "ﾌｫｰﾏｯﾄが不正です。");
  for (size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].caption, "Quorvex");
    EXPECT_EQ(seen[i].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    if (i == 0)
      continue;
    EXPECT_EQ(seen[i].icon, QMessageBox::Warning);
    const QString& prefix = i < 5 ? load_failed : "ﾌｧｲﾙの書き込みに失敗しました。\n";
    if (i >= 2) {
      EXPECT_TRUE(seen[i].text.startsWith(prefix)) << seen[i].text.toStdString();
      EXPECT_GT(seen[i].text.size(), prefix.size()) << i;
    }
  }
}

// Reads CSV as a spreadsheet program does: quoted fields may hold commas, quotes and line
// breaks; lines end in CRLF.
std::vector<QStringList> ReadCsv(const QString& text) {
  std::vector<QStringList> lines(1);
  QString field;
  bool quoted = false;
  for (int i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted && c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
      field += c;
      ++i;
    } else if (c == u'"') {
      quoted = !quoted;
    } else if (!quoted && c == u',') {
      lines.back() << field;
      field.clear();
    } else if (!quoted && c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
      lines.back() << field;
      field.clear();
      lines.emplace_back();
      ++i;
    } else {
      field += c;
    }
  }
  if (lines.back().isEmpty() && field.isEmpty())
    lines.pop_back();
  return lines;
}

// The lap table's export: Ctrl+C copies the selected rows (every row when none is selected)
// with their headers, exactly as shown; the CSV of a 3-movie, 4-row table, written through the
// lap file's save under a comma-decimal locale, reads back to the shown texts.
TEST(LapExportTest, ClipboardAndCsvHoldTheShownTexts) {
  const QLocale before;
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  Host host;
  host.Fill({{1.0, 2.5, 4.25, 7.0}, {1.5, 3.25, 5.0, 8.75}, {0.5, 1.75, 3.5, 6.5}});
  host.lf->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(host.lf));
  QTableWidget* grid = host.lf->grid();
  ASSERT_EQ(grid->rowCount(), 4);
  ASSERT_EQ(grid->columnCount(), 9);
  QStringList headers{QString()};
  for (int c = 0; c < 9; ++c)
    headers << grid->horizontalHeaderItem(c)->text();
  const auto shown = [grid](int r) {
    QStringList line{grid->verticalHeaderItem(r)->text()};
    for (int c = 0; c < grid->columnCount(); ++c)
      line << (grid->item(r, c) ? grid->item(r, c)->text() : QString());
    return line;
  };
  EXPECT_EQ(shown(2)[1], "3,25") << "a total as the table shows it";

  const auto copy = [grid] {
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    return QGuiApplication::clipboard()->text();
  };
  const auto tsv = [](const QList<QStringList>& lines) {
    QString text;
    for (const QStringList& line : lines)
      text += line.join(u'\t') + u'\n';
    return text;
  };
  grid->clearSelection();
  EXPECT_EQ(copy(), tsv({headers, shown(0), shown(1), shown(2), shown(3)}));
  grid->selectRow(2);
  EXPECT_EQ(copy(), tsv({headers, shown(2)}));

  QTemporaryDir dir;
  const QString path = dir.filePath("laps.csv");
  const QStringList names{"a,b.mp4", "say \"go\".mp4", "走り.mp4"};
  ASSERT_EQ(laps::SaveFileBytes(path, laps::CsvBytes(host.lf->Texts(), names, 3)), std::nullopt);
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << "byte-order mark";
  const std::vector<QStringList> lines = ReadCsv(QString::fromUtf8(bytes.mid(3)));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], QStringList({"", names[0], "", "", names[1], "", "", names[2], "", ""}));
  EXPECT_EQ(lines[1], headers);
  for (int r = 0; r < 4; ++r)
    EXPECT_EQ(lines[size_t(r) + 2], shown(r)) << "row " << r;
  QLocale::setDefault(before);
}

}  // namespace
}  // namespace quorvex
