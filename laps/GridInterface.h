#pragma once

#include <cstdint>

namespace quorvex {

// What the lap table needs from the window that keeps the lap lists (the main window). The lap
// table's only link upward: it reports clicks, selection changes and the rows the user deletes.
// Every call comes from the UI thread, inside an event of the lap table.
class GridInterface {
 public:
  virtual ~GridInterface() = default;

  // A row was clicked or became the selected row: show every movie at that row's positions.
  virtual void RowSelected(int32_t row) = 0;
  // The user is deleting lap row `row` (never 0): drop it from the lists. The table removes its
  // own row and then calls SetDataGridView.
  virtual void RemoveRow(int32_t row) = 0;
  // The number of lap rows, the base row included.
  virtual int32_t GetCountRow() = 0;
  // Refill the lap table from the lists.
  virtual void SetDataGridView() = 0;
};

}  // namespace quorvex
