#pragma once

#include <QString>
#include <QStringList>

namespace quorvex::ui {

// Turns a filter string of label and pattern-list pairs, all separated by vertical bars
// ("Text files|*.txt;*.text|All files|*.*"), into Qt's name filters
// ("Text files (*.txt *.TXT *.text *.TEXT)", "All files (*)"). The patterns were written for a
// file system that ignores case, so each gets its upper-case twin. A label that already ends in
// its own parenthesised patterns keeps its text with the patterns written Qt's way. "*.*" means
// every file, with or without an extension, and becomes "*". A trailing label without patterns is
// dropped; an empty string gives no filters.
QStringList FileDialogFilters(const QString& pairs);

}  // namespace quorvex::ui
