#include "laps/LapForm.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "platform/ui/Fonts.h"
#include "platform/ui/NumberFormat.h"
#include "platform/ui/OwnedWindow.h"

namespace quorvex {

namespace {

const QColor kEvenMovieBack(255, 255, 255);
const QColor kOddMovieBack(232, 232, 232);
const QColor kSelectedBack(175, 238, 238);  // pale turquoise
const QColor kPositiveText(255, 0, 0);
const QColor kNegativeText(0, 0, 255);
const QColor kZeroText(128, 128, 128);
const QColor kBaseHeaderText(0, 0, 255);
const QColor kHeaderText(0, 0, 0);

constexpr int kTotalWidth = 40;
constexpr int kLapWidth = 40;
constexpr int kDifWidth = 50;
constexpr int kRowHeaderWidth = 50;
constexpr int kRowHeight = 21;

// Paints a selected cell with the selection colours that the cell itself carries.
class CellSelectionDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!(option->state & QStyle::State_Selected))
      return;
    const QVariant back = index.data(LapForm::kSelectionBackgroundRole);
    if (back.canConvert<QBrush>())
      option->palette.setBrush(QPalette::Highlight, back.value<QBrush>());
    const QVariant fore = index.data(LapForm::kSelectionForegroundRole);
    if (fore.canConvert<QBrush>()) {
      option->palette.setBrush(QPalette::HighlightedText, fore.value<QBrush>());
    }
  }
};

// Header sections drawn flat, without the style's bevels and gradients, in the header item's
// text colour; row headers of selected rows on pale turquoise.
class FlatHeaderView : public QHeaderView {
 public:
  explicit FlatHeaderView(Qt::Orientation orientation, QWidget* parent)
      : QHeaderView(orientation, parent) {}

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logical) const override {
    if (!rect.isValid())
      return;
    painter->save();
    const bool selected = orientation() == Qt::Vertical && selectionModel() != nullptr &&
                          selectionModel()->isRowSelected(logical, rootIndex());
    painter->fillRect(rect, selected ? kSelectedBack : palette().color(QPalette::Button));
    painter->setPen(palette().color(QPalette::Mid));
    painter->drawLine(rect.topRight(), rect.bottomRight());
    painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    const QVariant fore = model()->headerData(logical, orientation(), Qt::ForegroundRole);
    painter->setPen(fore.canConvert<QBrush>() ? fore.value<QBrush>().color()
                                              : palette().color(QPalette::WindowText));
    painter->setFont(font());
    painter->drawText(TextRect(rect), TextFlags(), SectionText(logical));
    painter->restore();
  }

  // Column headers take the height their wrapped texts need.
  QSize sectionSizeFromContents(int logical) const override {
    QSize size = QHeaderView::sectionSizeFromContents(logical);
    if (orientation() == Qt::Horizontal) {
      const QRect area = TextRect(QRect(0, 0, sectionSize(logical), 10000));
      const QRect used = fontMetrics().boundingRect(area, TextFlags(), SectionText(logical));
      size.setHeight(std::max(size.height(), used.height() + 6));
    }
    return size;
  }

 private:
  QString SectionText(int logical) const {
    return model()->headerData(logical, orientation(), Qt::DisplayRole).toString();
  }
  static QRect TextRect(const QRect& section) { return section.adjusted(3, 2, -3, -2); }
  int TextFlags() const {
    return (orientation() == Qt::Horizontal ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter) |
           Qt::TextWordWrap;
  }
};

QString ColumnName(const char* kind, int number) {
  return QStringLiteral("column_%1_%2").arg(QLatin1String(kind)).arg(number);
}

QTableWidgetItem* HeaderItem(const QString& name, const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setData(LapForm::kColumnNameRole, name);
  item->setForeground(kHeaderText);
  return item;
}

}  // namespace

LapForm::LapForm(GridInterface& gi, QWidget* owner) : gi_(gi) {
  ui::MakeOwnedToolWindow(this, owner);
  ui::DisableCloseButton(this);
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);
  setWindowTitle(QStringLiteral("Lap"));
  SetUpGrid();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(dataGridView1);
  resize(442, 273);
}

void LapForm::SetUpGrid() {
  dataGridView1 = new QTableWidget(this);
  dataGridView1->setObjectName(QStringLiteral("dataGridView1"));
  dataGridView1->setHorizontalHeader(new FlatHeaderView(Qt::Horizontal, dataGridView1));
  dataGridView1->setVerticalHeader(new FlatHeaderView(Qt::Vertical, dataGridView1));
  dataGridView1->setItemDelegate(new CellSelectionDelegate(dataGridView1));
  dataGridView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  dataGridView1->setSelectionBehavior(QAbstractItemView::SelectRows);
  dataGridView1->setSelectionMode(QAbstractItemView::SingleSelection);
  dataGridView1->setSortingEnabled(false);
  dataGridView1->setWordWrap(false);
  dataGridView1->setFont(ui::UiGothicFont(9));
  // Cells not yet coloured: window background, control text; selected: highlight, control text.
  QPalette palette = dataGridView1->palette();
  palette.setColor(QPalette::HighlightedText, palette.color(QPalette::Text));
  dataGridView1->setPalette(palette);

  QHeaderView* columns = dataGridView1->horizontalHeader();
  columns->setSectionResizeMode(QHeaderView::Fixed);
  columns->setSectionsClickable(false);
  QHeaderView* rows = dataGridView1->verticalHeader();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(kRowHeight);
  rows->setDefaultSectionSize(kRowHeight);
  rows->setFixedWidth(kRowHeaderWidth);
  rows->setSectionsClickable(true);

  connect(dataGridView1, &QTableWidget::cellClicked, this, &LapForm::dataGridView1_CellClick);
  // A click on a row header is a click on that row too.
  connect(rows, &QHeaderView::sectionClicked, this, [this](int row) { gi_.RowSelected(row); });
  connect(dataGridView1, &QTableWidget::itemSelectionChanged, this,
          &LapForm::dataGridView1_SelectionChanged);
  // The selected row's header is painted by the header: repaint it when the selection moves.
  connect(dataGridView1, &QTableWidget::itemSelectionChanged, rows,
          [rows] { rows->viewport()->update(); });
  dataGridView1->installEventFilter(this);
}

void LapForm::ClearRows() {
  dataGridView1->setRowCount(0);
}

void LapForm::AddRow() {
  const int row = dataGridView1->rowCount();
  dataGridView1->insertRow(row);
  // Until the next refill the row has no number: Qt's default label would count from 1.
  dataGridView1->setVerticalHeaderItem(row, new QTableWidgetItem(QString()));
  // The new row is the last one: making it the first displayed row, as far as scrolling
  // allows, is scrolling to the end. Scrolling lays the table out, so rows added in one go
  // (a loaded file) share one scroll, done before the next paint.
  if (scroll_pending_)
    return;
  scroll_pending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        scroll_pending_ = false;
        dataGridView1->scrollToBottom();
      },
      Qt::QueuedConnection);
}

void LapForm::SetDataGridView(const laps::LapLists& lists) {
  if (lists.empty())
    return;
  for (const auto& list : lists) {
    if (list.size() != lists.front().size())
      return;  // not lap lists: show nothing wrong
  }
  const size_t rows = std::min<size_t>(lists.front().size(), dataGridView1->rowCount());
  const int movies = static_cast<int>(std::min<size_t>(lists.size(), current_num_item_));
  const std::vector<GroupColumns> columns = FindColumns();
  {
    // Only values and colours change here, no rows or columns: the views need no notice of
    // each cell, one repaint at the end will do.
    const QSignalBlocker quiet(dataGridView1->model());
    for (size_t r = 0; r < rows; ++r)
      FillRow(lists, static_cast<int>(r), movies, columns);
  }
  dataGridView1->viewport()->update();
  dataGridView1->verticalHeader()->viewport()->update();
}

std::vector<LapForm::GroupColumns> LapForm::FindColumns() const {
  std::vector<GroupColumns> columns;
  for (int m = 0; m < current_num_item_; ++m) {
    columns.push_back({ColumnByName(column_total_[m]), ColumnByName(column_lap_[m]),
                       ColumnByName(column_dif_[m])});
  }
  return columns;
}

void LapForm::FillRow(const laps::LapLists& lists, int row, int movies,
                      const std::vector<GroupColumns>& columns) {
  const QLocale locale;  // the default locale: the regional settings unless changed
  if (QTableWidgetItem* header = dataGridView1->verticalHeaderItem(row))
    header->setText(QString::number(row));
  else
    dataGridView1->setVerticalHeaderItem(row, new QTableWidgetItem(QString::number(row)));
  for (int m = 0; m < movies; ++m)
    Cell(row, columns[m].total)->setText(ui::FormatFixed2(laps::Total(lists, m, row), locale));
  if (row >= 1) {
    for (int m = 0; m < movies; ++m)
      Cell(row, columns[m].lap)->setText(ui::FormatFixed2(laps::Lap(lists, m, row), locale));
    const int base = laps::ClampBaseMovieIndex(base_movie_index_, movies);
    for (int m = 0; m < movies; ++m) {
      const int32_t d = laps::DifferenceHundredths(lists, m, base, row);
      QTableWidgetItem* cell = Cell(row, columns[m].dif);
      cell->setText(m == base ? QStringLiteral("---") : ui::FormatSigned2(d / 100.0, locale));
      const QColor text = d > 0 ? kPositiveText : d < 0 ? kNegativeText : kZeroText;
      cell->setForeground(text);
      cell->setData(kSelectionForegroundRole, QBrush(text));
    }
  }
  SetGridBackColor(row, columns);
}

QTableWidgetItem* LapForm::Cell(int row, int column) {
  QTableWidgetItem* item = dataGridView1->item(row, column);
  if (item == nullptr) {
    item = new QTableWidgetItem;
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    dataGridView1->setItem(row, column, item);
  }
  return item;
}

void LapForm::SetGridBackColor(int row, const std::vector<GroupColumns>& columns) {
  for (int m = 0; m < current_num_item_; ++m) {
    const QColor back = m % 2 == 0 ? kEvenMovieBack : kOddMovieBack;
    for (int column : {columns[m].total, columns[m].lap, columns[m].dif}) {
      QTableWidgetItem* cell = Cell(row, column);
      cell->setBackground(back);
      cell->setData(kSelectionBackgroundRole, QBrush(kSelectedBack));
    }
  }
}

void LapForm::AddItem() {
  const int n = current_num_item_ + 1;
  const struct {
    const char* kind;
    const char* header;
    int width;
    std::vector<QString>* names;
  } columns[] = {{"total", " ﾄｰﾀﾙ", kTotalWidth, &column_total_},
                 {"lap", " 区間", kLapWidth, &column_lap_},
                 {"dif", " ﾀｲﾑ差", kDifWidth, &column_dif_}};
  for (const auto& c : columns) {
    const int column = dataGridView1->columnCount();
    const QString name = ColumnName(c.kind, n);
    dataGridView1->insertColumn(column);
    dataGridView1->setHorizontalHeaderItem(
        column, HeaderItem(name, QStringLiteral("No.%1").arg(n) + QString::fromUtf8(c.header)));
    dataGridView1->horizontalHeader()->resizeSection(column, c.width);
    c.names->push_back(name);
  }
  ++current_num_item_;
  RedrawColumnHeader();
}

void LapForm::DeleteBackItem() {
  if (current_num_item_ == 0)
    return;
  const int k = current_num_item_;
  --current_num_item_;
  for (const char* kind : {"total", "lap", "dif"}) {
    const int column = ColumnByName(ColumnName(kind, k));
    if (column >= 0)
      dataGridView1->removeColumn(column);
  }
  column_total_.pop_back();
  column_lap_.pop_back();
  column_dif_.pop_back();
  base_movie_index_ = laps::ClampBaseMovieIndex(base_movie_index_, current_num_item_);
  RedrawColumnHeader();
}

void LapForm::SetBaseMovieIndex(int32_t index) {
  base_movie_index_ = index;
  RedrawColumnHeader();
}

void LapForm::RedrawColumnHeader() {
  for (int m = 0; m < current_num_item_; ++m) {
    const QColor text = m == base_movie_index_ ? kBaseHeaderText : kHeaderText;
    for (const auto* names : {&column_total_, &column_lap_, &column_dif_}) {
      const int column = ColumnByName((*names)[m]);
      if (QTableWidgetItem* header = dataGridView1->horizontalHeaderItem(column)) {
        header->setForeground(text);
      }
    }
  }
}

int LapForm::ColumnByName(const QString& name) const {
  for (int c = 0; c < dataGridView1->columnCount(); ++c) {
    const QTableWidgetItem* header = dataGridView1->horizontalHeaderItem(c);
    if (header != nullptr && header->data(kColumnNameRole).toString() == name)
      return c;
  }
  return -1;
}

void LapForm::closeEvent(QCloseEvent* event) {
  LapForm_FormClosing(event);
}

void LapForm::LapForm_FormClosing(QCloseEvent* event) {
  if (!ui::RedirectUserCloseToOwner(this, event))
    event->accept();
}

void LapForm::dataGridView1_CellClick(int row, int /*column*/) {
  if (row >= 0)
    gi_.RowSelected(row);
}

void LapForm::dataGridView1_SelectionChanged() {
  const std::vector<int> rows = SelectedRows();
  if (!rows.empty())
    gi_.RowSelected(rows.front());
}

std::vector<int> LapForm::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : dataGridView1->selectionModel()->selectedIndexes()) {
    rows.push_back(index.row());
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

bool LapForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched != dataGridView1 || event->type() != QEvent::KeyPress)
    return QWidget::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  if (key->key() == Qt::Key_Delete) {
    DeleteSelectedRow();
    return true;
  }
  if (key->matches(QKeySequence::Copy)) {  // the table's own copy takes one cell
    CopyRows();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

laps::LapTableTexts LapForm::Texts(const std::vector<int>& rows) const {
  laps::LapTableTexts texts;
  texts.headers << QString();
  for (int c = 0; c < dataGridView1->columnCount(); ++c) {
    const QTableWidgetItem* header = dataGridView1->horizontalHeaderItem(c);
    texts.headers << (header ? header->text() : QString());
  }
  std::vector<int> wanted = rows;
  if (wanted.empty()) {
    for (int r = 0; r < dataGridView1->rowCount(); ++r)
      wanted.push_back(r);
  }
  for (int r : wanted) {
    const QTableWidgetItem* header = dataGridView1->verticalHeaderItem(r);
    QStringList line{header ? header->text() : QString()};
    for (int c = 0; c < dataGridView1->columnCount(); ++c) {
      const QTableWidgetItem* cell = dataGridView1->item(r, c);
      line << (cell ? cell->text() : QString());
    }
    texts.rows.push_back(line);
  }
  return texts;
}

void LapForm::CopyRows() {
  QGuiApplication::clipboard()->setText(laps::TabSeparatedText(Texts(SelectedRows())));
}

void LapForm::DeleteSelectedRow() {
  const std::vector<int> rows = SelectedRows();
  if (rows.empty() || !dataGridView1_UserDeletingRow(rows))
    return;
  dataGridView1->removeRow(rows.front());
  dataGridView1_UserDeletedRow();
}

bool LapForm::dataGridView1_UserDeletingRow(const std::vector<int>& selected) {
  // The base row can never go: the whole deletion is cancelled.
  if (std::find(selected.begin(), selected.end(), 0) != selected.end())
    return false;
  const int row = selected.front();
  if (row < gi_.GetCountRow())
    gi_.RemoveRow(row);
  return true;
}

void LapForm::dataGridView1_UserDeletedRow() {
  gi_.SetDataGridView();
}

}  // namespace quorvex
