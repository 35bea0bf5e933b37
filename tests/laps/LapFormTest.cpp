// The lap table window on a real X server: columns and headers, the values of the examples, the
// colours as items carry them and as they reach the screen, clicks, the keyboard, row deletion,
// the base movie, scrolling, closing; and the lap-file commands' messages and round trip.
#include <gtest/gtest.h>

#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "platform/ui/Fonts.h"
#include "tests/laps/LapHost.h"
#include "tests/laps/XCloseRequest.h"
#include "tests/ui/Modal.h"
#include "tests/ui/Printers.h"

inline void PrintTo(const QColor& c, std::ostream* os) {
  *os << "QColor(" << c.red() << ", " << c.green() << ", " << c.blue() << ")";
}

namespace quorvex {
namespace {

using test::LapHost;
using test::ModalWatcher;
using test::SeenBox;

const QColor kWhite(255, 255, 255);
const QColor kLightGray(232, 232, 232);
const QColor kPaleTurquoise(175, 238, 238);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kGray(128, 128, 128);
const QColor kBlack(0, 0, 0);

class LapFormTest : public testing::Test {
 protected:
  void SetUp() override {
    ui::SubstituteUiGothicFont();
    QLocale::setDefault(QLocale::c());
  }

  // Movies opened at `bases`, the base taken there, then one mark per entry of `marks`.
  void OpenWithLaps(const std::vector<double>& bases,
                    const std::vector<std::vector<double>>& marks) {
    std::vector<test::FakeMovie> movies;
    for (size_t i = 0; i < bases.size(); ++i) {
      movies.push_back({QStringLiteral("/m/%1.mp4").arg(i + 1), bases[i]});
    }
    host.Open(movies);
    host.SetBaseTime();
    for (const auto& at : marks) {
      host.MoveTo(at);
      host.AddTime();
    }
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
  QColor SelectedFore(int row, const char* kind, int number) {
    return Item(row, kind, number)->data(LapForm::kSelectionForegroundRole).value<QBrush>().color();
  }
  QColor HeaderFore(int column) {
    return grid()->horizontalHeaderItem(column)->foreground().color();
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

  LapHost host;
};

TEST_F(LapFormTest, ThreeColumnGroupsWithNamesTextsAndWidths) {
  for (int i = 0; i < 3; ++i)
    host.lf->AddItem();
  ASSERT_EQ(grid()->columnCount(), 9);
  QStringList texts, names;
  std::vector<int> widths;
  for (int c = 0; c < 9; ++c) {
    texts << grid()->horizontalHeaderItem(c)->text();
    names << grid()->horizontalHeaderItem(c)->data(LapForm::kColumnNameRole).toString();
    widths.push_back(grid()->columnWidth(c));
  }
  EXPECT_EQ(texts, (QStringList{"No.1 ﾄｰﾀﾙ", "No.1 区間", "No.1 ﾀｲﾑ差", "No.2 ﾄｰﾀﾙ", "No.2 区間",
                                "No.2 ﾀｲﾑ差", "No.3 ﾄｰﾀﾙ", "No.3 区間", "No.3 ﾀｲﾑ差"}));
  EXPECT_EQ(names, (QStringList{"column_total_1", "column_lap_1", "column_dif_1", "column_total_2",
                                "column_lap_2", "column_dif_2", "column_total_3", "column_lap_3",
                                "column_dif_3"}));
  EXPECT_EQ(widths, (std::vector<int>{40, 40, 50, 40, 40, 50, 40, 40, 50}));
  for (int c = 0; c < 9; ++c)
    EXPECT_EQ(HeaderFore(c), c < 3 ? kBlue : kBlack) << c;
  EXPECT_EQ(host.lf->current_num_item(), 3);
  // The user can neither resize nor sort nor edit.
  EXPECT_EQ(grid()->horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(grid()->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_FALSE(grid()->isSortingEnabled());
  EXPECT_EQ(grid()->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(grid()->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(grid()->selectionBehavior(), QAbstractItemView::SelectRows);
}

TEST_F(LapFormTest, ColumnHeadersAreHighEnoughForTheirWrappedTexts) {
  for (int i = 0; i < 2; ++i)
    host.lf->AddItem();
  Show();
  QHeaderView* header = grid()->horizontalHeader();
  const QFontMetrics metrics(header->font());
  for (int c = 0; c < grid()->columnCount(); ++c) {
    const QRect needed = metrics.boundingRect(QRect(0, 0, grid()->columnWidth(c) - 6, 1000),
                                              Qt::AlignCenter | Qt::TextWordWrap,
                                              grid()->horizontalHeaderItem(c)->text());
    EXPECT_GE(header->height(), needed.height()) << c;
  }
  EXPECT_GT(header->height(), metrics.height());  // "No.1 ﾀｲﾑ差" does not fit on one line
}

TEST_F(LapFormTest, TheThreeMovieExample) {
  OpenWithLaps({10.0, 20.0, 30.0}, {{15.0, 26.0, 35.5}});
  ASSERT_EQ(grid()->rowCount(), 2);
  EXPECT_EQ(RowHeaders(), (QStringList{"0", "1"}));
  for (int n = 1; n <= 3; ++n) {
    EXPECT_EQ(Text(0, "total", n), "0.00");
    EXPECT_EQ(Text(0, "lap", n), "");  // the base row has totals only
    EXPECT_EQ(Text(0, "dif", n), "");
  }
  EXPECT_EQ(Text(1, "total", 1), "5.00");
  EXPECT_EQ(Text(1, "total", 2), "6.00");
  EXPECT_EQ(Text(1, "total", 3), "5.50");
  EXPECT_EQ(Text(1, "lap", 1), "5.00");
  EXPECT_EQ(Text(1, "lap", 2), "6.00");
  EXPECT_EQ(Text(1, "lap", 3), "5.50");
  EXPECT_EQ(Text(1, "dif", 1), "---");
  EXPECT_EQ(Text(1, "dif", 2), "+1.00");
  EXPECT_EQ(Text(1, "dif", 3), "+0.50");
  EXPECT_EQ(Fore(1, "dif", 1), kGray);
  EXPECT_EQ(Fore(1, "dif", 2), kRed);
  EXPECT_EQ(Fore(1, "dif", 3), kRed);
  // Every movie window shows its position relative to its own base.
  EXPECT_EQ(host.movies[0].base_time, 10.0);
  EXPECT_EQ(host.movies[1].base_time, 20.0);
  EXPECT_EQ(host.movies[2].base_time, 30.0);
}

TEST_F(LapFormTest, TheTableFollowsTheRegionalDecimalSeparator) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  OpenWithLaps({10.0, 20.0}, {{15.0, 24.75}});
  EXPECT_EQ(Text(1, "total", 1), "5,00");
  EXPECT_EQ(Text(1, "lap", 2), "4,75");
  EXPECT_EQ(Text(1, "dif", 2), "-0,25");
  EXPECT_EQ(Fore(1, "dif", 2), kBlue);
}

TEST_F(LapFormTest, DifferencesAreTruncatedHundredthsInTheirColours) {
  // Laps of the base movie 5.0, 12.34, 1.0; of the other 5.019, 12.344, 0.996.
  OpenWithLaps({0.0, 100.0}, {{5.0, 105.019}, {17.34, 117.363}, {18.34, 118.359}});
  EXPECT_EQ(Text(1, "dif", 2), "+0.01");
  EXPECT_EQ(Fore(1, "dif", 2), kRed);
  EXPECT_EQ(Text(2, "dif", 2), "0.00");
  EXPECT_EQ(Fore(2, "dif", 2), kGray);
  EXPECT_EQ(Text(3, "dif", 2), "0.00");  // -0.004
  EXPECT_EQ(Fore(3, "dif", 2), kGray);
  for (int r = 1; r <= 3; ++r)
    EXPECT_EQ(SelectedFore(r, "dif", 2), Fore(r, "dif", 2)) << r;
}

TEST_F(LapFormTest, MarksAtTheBaseBetweenMarksAndAtEqualPositions) {
  OpenWithLaps({10.0, 20.0}, {{10.0, 21.0}, {14.0, 25.0}, {12.0, 22.5}, {12.0, 23.0}});
  EXPECT_EQ(RowHeaders(), (QStringList{"0", "1", "2", "3", "4"}));
  const QStringList totals1 = {Text(1, "total", 1), Text(2, "total", 1), Text(3, "total", 1),
                               Text(4, "total", 1)};
  EXPECT_EQ(totals1, (QStringList{"0.00", "2.00", "2.00", "4.00"}));
  EXPECT_EQ(Text(1, "lap", 1), "0.00");  // the mark at the base
  // The later of the two marks at 12.0 comes second; the row after them measures from it.
  EXPECT_EQ(Text(2, "total", 2), "2.50");
  EXPECT_EQ(Text(3, "total", 2), "3.00");
  EXPECT_EQ(Text(4, "lap", 2), "2.00");
  EXPECT_EQ(Text(4, "lap", 1), "2.00");
}

TEST_F(LapFormTest, AMarkBeforeTheBaseIsRefusedWithTheMessage) {
  OpenWithLaps({10.0, 20.0}, {{12.0, 22.0}});
  std::vector<SeenBox> seen;
  std::unique_ptr<ModalWatcher> watcher(ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen));
  host.MoveTo({9.5, 30.0});
  host.AddTime();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].caption, "Quorvex");
  EXPECT_EQ(seen[0].text, "基準位置より前の位置をセットすることはできません。");
  EXPECT_EQ(seen[0].icon, QMessageBox::Information);
  EXPECT_EQ(seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(grid()->rowCount(), 2);
  EXPECT_EQ(host.model.GetCountRow(), 2);
}

TEST_F(LapFormTest, ChangingTheBaseMovieRecolorsAndRecomputes) {
  OpenWithLaps({10.0, 20.0, 30.0}, {{15.0, 26.0, 35.5}});
  host.SetBaseMovieIndex(2);
  EXPECT_EQ(host.lf->base_movie_index(), 2);
  for (int c = 0; c < 9; ++c)
    EXPECT_EQ(HeaderFore(c), c >= 6 ? kBlue : kBlack) << c;
  EXPECT_EQ(Text(1, "dif", 3), "---");
  EXPECT_EQ(Fore(1, "dif", 3), kGray);
  EXPECT_EQ(Text(1, "dif", 1), "-0.50");
  EXPECT_EQ(Fore(1, "dif", 1), kBlue);
  EXPECT_EQ(Text(1, "dif", 2), "+0.50");
}

TEST_F(LapFormTest, ClosingMoviesMovesColumnsAndKeepsTheBaseIndexAPlainNumber) {
  OpenWithLaps({10.0, 20.0, 30.0}, {{15.0, 26.0, 35.5}});
  host.SetBaseMovieIndex(1);
  host.Close(0);  // the former movie 3 moves into index 1 and is now the base
  EXPECT_EQ(grid()->columnCount(), 6);
  EXPECT_EQ(host.lf->base_movie_index(), 1);
  EXPECT_EQ(Text(1, "total", 1), "6.00");
  EXPECT_EQ(Text(1, "total", 2), "5.50");
  EXPECT_EQ(Text(1, "dif", 2), "---");
  EXPECT_EQ(Text(1, "dif", 1), "+0.50");
  for (int c = 0; c < 6; ++c)
    EXPECT_EQ(HeaderFore(c), c >= 3 ? kBlue : kBlack) << c;
  EXPECT_EQ(grid()->rowCount(), 2);

  host.Close(1);  // the base was the last movie: the new last one becomes the base
  EXPECT_EQ(host.lf->base_movie_index(), 0);
  EXPECT_EQ(Text(1, "dif", 1), "---");
  host.Close(0);
  EXPECT_EQ(host.lf->base_movie_index(), 0);
  EXPECT_EQ(grid()->columnCount(), 0);
  EXPECT_EQ(host.lf->current_num_item(), 0);
  host.lf->DeleteBackItem();  // nothing left to remove
  EXPECT_EQ(host.lf->current_num_item(), 0);
}

TEST_F(LapFormTest, WithoutColumnGroupsAnEmptyListChangesNothing) {
  host.lf->SetDataGridView({});
  EXPECT_EQ(grid()->rowCount(), 0);
  EXPECT_EQ(grid()->columnCount(), 0);
  host.lf->AddRow();
  host.lf->SetDataGridView({});
  EXPECT_EQ(grid()->rowCount(), 1);
}

TEST_F(LapFormTest, BackgroundsAlternateByMovieAndSelectedCellsArePaleTurquoise) {
  OpenWithLaps({0, 0, 0, 0}, {{1, 2, 3, 4}, {2, 3, 4, 5}});
  for (int r = 0; r < 3; ++r) {
    for (int n = 1; n <= 4; ++n) {
      for (const char* kind : {"total", "lap", "dif"}) {
        QTableWidgetItem* item = Item(r, kind, n);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->background().color(), n % 2 == 1 ? kWhite : kLightGray) << r << kind << n;
        EXPECT_EQ(item->data(LapForm::kSelectionBackgroundRole).value<QBrush>().color(),
                  kPaleTurquoise);
      }
    }
  }
}

// Reads back what reached the screen: backgrounds beside the texts, and whether the text of a
// cell holds pixels of a colour.
class Screen {
 public:
  explicit Screen(QWidget* w) : image_(w->grab().toImage()) {}
  QColor BesideText(const QRect& cell) const {
    return image_.pixelColor(cell.right() - 2, cell.center().y());
  }
  // Whether some pixel of `area` is clearly of the hue of `c` (red or blue): anti-aliased text
  // seldom reaches the pure colour, but its hue dominates.
  bool HasPixelsLike(const QRect& area, const QColor& c) const {
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) {
        const QColor p = image_.pixelColor(x, y);
        const bool red = p.red() > p.green() + 80 && p.red() > p.blue() + 80;
        const bool blue = p.blue() > p.red() + 80 && p.blue() > p.green() + 80;
        if ((c == kRed && red) || (c == kBlue && blue))
          return true;
      }
    }
    return false;
  }

 private:
  QImage image_;
};

TEST_F(LapFormTest, SelectionColoursReachTheScreen) {
  OpenWithLaps({0, 0}, {{1, 2}, {2, 2.5}});  // row 1: movie 2 +1.00 red; row 2: -0.50 blue
  Show();
  grid()->selectRow(1);
  QTest::qWait(50);
  auto rect = [&](int row, const char* kind, int n) {
    return grid()->visualItemRect(Item(row, kind, n));
  };
  const Screen cells(grid()->viewport());
  EXPECT_EQ(cells.BesideText(rect(1, "total", 1)), kPaleTurquoise);
  EXPECT_EQ(cells.BesideText(rect(1, "dif", 2)), kPaleTurquoise);
  EXPECT_EQ(cells.BesideText(rect(2, "total", 1)), kWhite);
  EXPECT_EQ(cells.BesideText(rect(2, "total", 2)), kLightGray);
  // The selected difference keeps its red text; the selected total is not red.
  EXPECT_TRUE(cells.HasPixelsLike(rect(1, "dif", 2), kRed));
  EXPECT_FALSE(cells.HasPixelsLike(rect(1, "total", 2), kRed));
  EXPECT_TRUE(cells.HasPixelsLike(rect(2, "dif", 2), kBlue));
  // The selected row's header is pale turquoise, the others are not.
  QHeaderView* rows = grid()->verticalHeader();
  const Screen headers(rows->viewport());
  auto header = [&](int row) {
    return QRect(0, rows->sectionViewportPosition(row), rows->width(), rows->sectionSize(row));
  };
  EXPECT_EQ(headers.BesideText(header(1)), kPaleTurquoise);
  EXPECT_NE(headers.BesideText(header(2)), kPaleTurquoise);
  // The base movie's header text is blue on the screen, the other movie's is not.
  QHeaderView* columns = grid()->horizontalHeader();
  const Screen top(columns->viewport());
  auto column = [&](int c) {
    return QRect(columns->sectionViewportPosition(c), 0, columns->sectionSize(c),
                 columns->height());
  };
  EXPECT_TRUE(top.HasPixelsLike(column(0), kBlue));
  EXPECT_FALSE(top.HasPixelsLike(column(3), kBlue));
}

TEST_F(LapFormTest, ClicksAndSelectionChangesSelectRows) {
  OpenWithLaps({10.0, 20.0}, {{12.0, 23.0}, {14.0, 25.5}});
  Show();
  host.selected.clear();
  ClickRow(2);  // not selected yet: the selection change, then the click
  EXPECT_EQ(host.selected, (std::vector<int>{2, 2}));
  EXPECT_EQ(host.movies[0].seeks.back(), 14.0);
  EXPECT_EQ(host.movies[1].seeks.back(), 25.5);
  host.selected.clear();
  ClickRow(2);  // already selected: the click alone
  EXPECT_EQ(host.selected, (std::vector<int>{2}));
  host.selected.clear();
  QTest::keyClick(grid(), Qt::Key_Up);  // the keyboard: the selection change alone
  EXPECT_EQ(host.selected, (std::vector<int>{1}));
  host.selected.clear();
  ClickRow(0);  // the base row: every movie back to its base
  EXPECT_EQ(host.movies[0].seeks.back(), 10.0);
  EXPECT_EQ(host.movies[1].seeks.back(), 20.0);
  host.selected.clear();
  const QHeaderView* rows = grid()->verticalHeader();
  QTest::mouseClick(rows->viewport(), Qt::LeftButton, {},
                    QPoint(10, rows->sectionViewportPosition(1) + 5));
  EXPECT_FALSE(host.selected.empty());
  EXPECT_EQ(host.selected.back(), 1);
}

TEST_F(LapFormTest, TheDeleteKeyRemovesALapRowButNeverTheBaseRow) {
  OpenWithLaps({0.0, 10.0}, {{2.0, 13.0}, {5.0, 17.0}, {9.0, 20.0}});
  Show();
  ClickRow(0);
  QTest::keyClick(grid(), Qt::Key_Delete);
  EXPECT_EQ(grid()->rowCount(), 4);
  EXPECT_TRUE(host.removed.empty());
  EXPECT_EQ(host.refills, 0);

  ClickRow(2);
  QTest::keyClick(grid(), Qt::Key_Delete);
  EXPECT_EQ(host.removed, std::vector<int>{2});
  EXPECT_GE(host.count_calls, 1);
  EXPECT_EQ(host.refills, 1);
  ASSERT_EQ(grid()->rowCount(), 3);
  EXPECT_EQ(RowHeaders(), (QStringList{"0", "1", "2"}));
  EXPECT_EQ(Text(2, "lap", 1), "7.00");  // 3 + 4 merged
  EXPECT_EQ(Text(2, "lap", 2), "7.00");  // 4 + 3 merged
  EXPECT_EQ(Text(2, "total", 1), "9.00");
  EXPECT_EQ(Text(2, "dif", 2), "0.00");
}

TEST_F(LapFormTest, TheNewestRowIsScrolledIntoView) {
  OpenWithLaps({0.0}, {});
  Show();
  for (int i = 1; i <= 40; ++i) {
    host.MoveTo({double(i)});
    host.AddTime();
    QCoreApplication::processEvents();  // the scroll comes before the next paint
    const QRect last = grid()->visualRect(grid()->model()->index(i, 0));
    ASSERT_TRUE(grid()->viewport()->rect().contains(last)) << i;
  }
  EXPECT_GT(grid()->rowAt(0), 0);  // the first rows scrolled away
}

TEST_F(LapFormTest, IsAnOwnedToolWindowWithoutCloseBox) {
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
}

TEST_F(LapFormTest, AUserCloseRequestClosesTheMainWindowFirst) {
  Show();
  ASSERT_TRUE(test::SendCloseRequest(host.lf->winId()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return host.close_requests > 0; }, 10000));
  EXPECT_FALSE(host.isVisible());
  EXPECT_FALSE(host.lf->isVisible());
  EXPECT_EQ(host.close_requests, 1);
}

TEST_F(LapFormTest, TheLapWindowStaysUntilTheMainWindowCloses) {
  Show();
  EXPECT_FALSE(host.lf->close());  // the program's own request counts as the user's
  EXPECT_TRUE(host.lf->isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !host.isVisible(); }, 10000));
  EXPECT_FALSE(host.lf->isVisible());
}

// ---- The lap-file commands ----

class LapFileCommands : public LapFormTest {
 protected:
  std::vector<SeenBox> seen;
  std::unique_ptr<ModalWatcher> watcher{ModalWatcher::AnsweringBoxes(QMessageBox::Ok, &seen)};
  QTemporaryDir dir;
};

TEST_F(LapFileCommands, ThreeMoviesAndFourRowsLoadBackIntoAFreshWindow) {
  OpenWithLaps({10.0, 20.0, 30.0}, {{15.0, 26.0, 35.5}, {13.0, 21.0, 33.3}, {19.75, 29.0, 40.0}});
  host.SetBaseMovieIndex(1);
  host.movies[2].path = "/runs/a&b.mp4";
  const QString path = dir.filePath("laps.xml");
  ASSERT_TRUE(host.Save(path, QLocale::c()));

  LapHost fresh;
  fresh.Open({{"/old/x.mp4", 3.0}});
  ASSERT_TRUE(fresh.Load(path, QLocale::c()));
  EXPECT_TRUE(seen.empty());
  ASSERT_EQ(fresh.movies.size(), 3u);
  EXPECT_EQ(fresh.movies[2].path, "/runs/a&b.mp4");
  EXPECT_EQ(fresh.movies[1].base_time, 20.0);
  EXPECT_EQ(fresh.lf->base_movie_index(), 0);  // the first movie is the base after loading
  fresh.SetBaseMovieIndex(1);
  QTableWidget* loaded = fresh.lf->grid();
  ASSERT_EQ(loaded->rowCount(), 4);
  ASSERT_EQ(loaded->columnCount(), 9);
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(loaded->verticalHeaderItem(r)->text(), grid()->verticalHeaderItem(r)->text());
    for (int c = 0; c < 9; ++c) {
      const QTableWidgetItem* want = grid()->item(r, c);
      const QTableWidgetItem* got = loaded->item(r, c);
      ASSERT_NE(want, nullptr);
      ASSERT_NE(got, nullptr);
      EXPECT_EQ(got->text(), want->text()) << r << "," << c;
      EXPECT_EQ(got->foreground(), want->foreground()) << r << "," << c;
      EXPECT_EQ(got->background(), want->background()) << r << "," << c;
    }
  }
}

TEST_F(LapFileCommands, AFileThatFailsToLoadLeavesEverythingAsItWas) {
  OpenWithLaps({10.0, 20.0}, {{15.0, 26.0}});
  const QString bad = dir.filePath("bad.xml");
  {
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<QuorvexLapFile><file_name><list>a</list></file_name><lap/></QuorvexLapFile>");
  }
  const laps::LapLists before = host.model.time_list();
  std::vector<SeenBox> first;
  for (const QString& path : {bad, dir.filePath("missing.xml"), QString()}) {
    seen.clear();
    EXPECT_FALSE(host.Load(path, QLocale::c()));
    ASSERT_EQ(seen.size(), 1u) << path.toStdString();
    EXPECT_EQ(seen[0].caption, "Quorvex");
    EXPECT_TRUE(seen[0].text.startsWith("ﾌｧｲﾙの読み込みに失敗しました。\n"))
        << seen[0].text.toStdString();
    EXPECT_GT(seen[0].text.size(), QString("ﾌｧｲﾙの読み込みに失敗しました。\n").size());
    EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
    EXPECT_EQ(host.movies.size(), 2u);
    EXPECT_EQ(host.model.time_list(), before);
    EXPECT_EQ(grid()->rowCount(), 2);
    EXPECT_EQ(Text(1, "total", 2), "6.00");
    if (first.empty())
      first = seen;
  }
  EXPECT_EQ(first[0].text, "ﾌｧｲﾙの読み込みに失敗しました。\nﾌｫｰﾏｯﾄが不正です。");
}

TEST_F(LapFileCommands, SavingWithoutLapDataSaysSoAndWritesNothing) {
  host.Open({{"/m/1.mp4", 1.0}});
  const QString path = dir.filePath("none.xml");
  EXPECT_FALSE(host.Save(path, QLocale::c()));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].text, "ラップデータがありません。");
  EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
  EXPECT_EQ(seen[0].caption, "Quorvex");
  EXPECT_FALSE(QFile::exists(path));
}

TEST_F(LapFileCommands, AFailedSaveSaysSo) {
  OpenWithLaps({1.0}, {{2.0}});
  EXPECT_FALSE(host.Save(dir.filePath("no/such/folder/laps.xml"), QLocale::c()));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].text.startsWith("ﾌｧｲﾙの書き込みに失敗しました。\n"))
      << seen[0].text.toStdString();
  EXPECT_GT(seen[0].text.size(), QString("ﾌｧｲﾙの書き込みに失敗しました。\n").size());
  EXPECT_EQ(seen[0].icon, QMessageBox::Warning);
}

}  // namespace
}  // namespace quorvex
