#pragma once

// The lap table window: for every movie a group of three columns with its total since the base,
// its lap since the previous mark and the difference of that lap to the base movie's lap, one
// row per lap row. It keeps no lap data: the main window hands it the lists to show and hears
// back, through GridInterface, which row the user selected or deleted.
//
// Colours. Every cell carries its own colours as item data: background and foreground as usual
// (Qt::BackgroundRole, Qt::ForegroundRole) and the colours it takes while its row is selected
// under kSelectionBackgroundRole and kSelectionForegroundRole. A delegate puts the latter into
// the palette it paints a selected cell with. A palette on the whole table cannot do this: the
// difference cells keep their red, blue or gray text when selected while the other cells turn
// to the control text colour. The headers are painted flat by the table's own header views
// (no style gradients), in the header item's foreground colour; a selected row's header takes
// the pale turquoise background.
//
// Ownership and threads: an owned tool window of `owner` (deleted with it); UI thread only.
// Every GridInterface call happens inside an event of this window.

#include <QWidget>

#include <cstdint>
#include <vector>

#include "laps/GridInterface.h"
#include "laps/LapModel.h"
#include "laps/LapTableText.h"

class QCloseEvent;
class QTableWidget;
class QTableWidgetItem;

namespace quorvex {

class LapForm : public QWidget {
  Q_OBJECT

 public:
  // Item data roles of the cells (QBrush) and of the column header items (QString).
  static constexpr int kSelectionBackgroundRole = Qt::UserRole + 1;
  static constexpr int kSelectionForegroundRole = Qt::UserRole + 2;
  static constexpr int kColumnNameRole = Qt::UserRole + 3;

  // `gi` must outlive the window. The window becomes an owned tool window of `owner`, with a
  // greyed close box; a user's request to close it closes `owner` instead.
  LapForm(GridInterface& gi, QWidget* owner);

  // Removes every row.
  void ClearRows();
  // Appends one empty row and scrolls it into view as the first displayed row, as far as
  // scrolling allows.
  void AddRow();
  // Refills every row from `lists`: totals from row 0 on, laps and differences from row 1 on,
  // colours. Numbers in the default QLocale (the system's unless the program set another). The rows
  // and column groups must be there already; cells beyond the rows or the column groups present, or
  // beyond `lists`, stay as they are.
  void SetDataGridView(const laps::LapLists& lists);
  // Appends the column group of one more movie; existing rows get empty cells in it.
  void AddItem();
  // Removes the last column group and pulls the base movie index into range. No-op without one.
  void DeleteBackItem();
  // Makes movie `index` the base of the differences and recolours the headers; the caller
  // refills the rows.
  void SetBaseMovieIndex(int32_t index);

  int32_t base_movie_index() const { return base_movie_index_; }
  int32_t current_num_item() const { return current_num_item_; }
  // The grid, for the main window's tests and for placing the window.
  QTableWidget* grid() const { return dataGridView1; }
  // The grid column named `name` ("column_total_1", ...), -1 when there is none.
  int ColumnByName(const QString& name) const;
  // The texts shown in `rows` (every row when empty), with the column headers.
  laps::LapTableTexts Texts(const std::vector<int>& rows = {}) const;
  // Columns of one movie's group (total, lap, difference).
  static constexpr int kColumnsPerMovie = 3;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetUpGrid();
  void LapForm_FormClosing(QCloseEvent* event);
  void dataGridView1_CellClick(int row, int column);
  void dataGridView1_SelectionChanged();
  // The delete key: UserDeletingRow (may cancel), removal of the row, UserDeletedRow.
  void DeleteSelectedRow();
  // Ctrl+C: the selected rows (all when none is selected) to the clipboard, tab-separated.
  void CopyRows();
  // Returns false to cancel the deletion of the first of the `selected` rows.
  bool dataGridView1_UserDeletingRow(const std::vector<int>& selected);
  void dataGridView1_UserDeletedRow();
  std::vector<int> SelectedRows() const;
  // The grid columns of each movie's group, looked up by name once per refill.
  struct GroupColumns {
    int total;
    int lap;
    int dif;
  };
  std::vector<GroupColumns> FindColumns() const;
  void SetGridBackColor(int row, const std::vector<GroupColumns>& columns);
  void RedrawColumnHeader();
  void FillRow(const laps::LapLists& lists, int row, int movies,
               const std::vector<GroupColumns>& columns);
  QTableWidgetItem* Cell(int row, int column);

  QTableWidget* dataGridView1 = nullptr;
  // Names of the columns of each movie, in movie order; the grid finds them by name.
  std::vector<QString> column_total_;
  std::vector<QString> column_lap_;
  std::vector<QString> column_dif_;
  int32_t current_num_item_ = 0;
  GridInterface& gi_;
  int32_t base_movie_index_ = 0;
  bool scroll_pending_ = false;  // AddRow's scroll to the end is queued
};

}  // namespace quorvex
