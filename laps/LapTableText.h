#pragma once

// The lap table's texts taken out of the program: tab-separated for the clipboard, CSV for
// spreadsheets. The texts are exactly those shown (the regional decimal separator included);
// nothing here reads a window or a file. Any thread.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace quorvex::laps {

// What the table shows: the column headers (the row headers' column first, with an empty
// header) and, per row, the row header's text followed by every cell's text.
struct LapTableTexts {
  QStringList headers;
  std::vector<QStringList> rows;
};

// Both: a text that is not a number and begins with "=", "+", "-", "@", a tab or a carriage
// return gets a leading apostrophe, so that a spreadsheet shows it instead of evaluating it
// (a movie named "=1+2.mp4"); numbers ("-0,25", "+1.50") stay as they are.

// One line per row, the headers first; cells joined by tabs, lines ended by "\n". Tabs and line
// breaks inside a text become spaces, so that the grid stays a grid where it is pasted.
QString TabSeparatedText(const LapTableTexts& table);

// CSV in UTF-8 with a byte-order mark (spreadsheet programs then read the Japanese headers),
// lines ended by CRLF, fields quoted when they hold a comma, a quote or a line break. A first
// line holds each movie's file name above the first column of its group of
// `columns_per_movie`, then come the headers and the rows.
QByteArray CsvBytes(const LapTableTexts& table, const QStringList& file_names,
                    int columns_per_movie);

}  // namespace quorvex::laps
