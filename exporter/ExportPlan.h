#pragma once

// What the exported movie shows, as pure functions of the lap file, the movies' sizes and
// durations and the options: the arrangement of the tiles, the length, and the text over each
// tile at every output time. No GStreamer, no files; any thread.

#include <QLocale>
#include <QString>

#include <cstdint>
#include <vector>

#include "laps/LapModel.h"

namespace quorvex::exporter {

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct GridShape {
  int columns = 1;
  int rows = 1;
};

// The main window's rule for the output picture: every column count from 1 to `count`, with the
// fewest rows that hold all movies; the one whose cell gives the first movie's aspect ratio the
// largest picture wins, ties keep fewer columns. Cells are width / columns by height / rows.
GridShape ChooseGrid(int count, int width, int height, int aspect_x, int aspect_y);

// Movie `index`'s cell, filled row by row.
Rect CellRect(const GridShape& grid, int width, int height, int index);

// The movie's picture fitted into `cell` at its aspect ratio and centred, with even sides and
// an even offset (4:2:0 pictures subsample by two), at least 2 by 2.
Rect FitTile(const Rect& cell, int aspect_x, int aspect_y);

// The movie time the export covers from the bases: with lap rows, 1 s past the largest total of
// the last row; with the base row only, to the end of the longest movie (`durations` in
// seconds, negative when unknown, ignored), which `to_end` asks for also with lap rows. Zero or
// less when there is nothing to show.
double ExportMovieSeconds(const laps::LapLists& lists, const std::vector<double>& durations,
                          bool to_end = false);

// The number of output pictures for that movie time slowed to `rate` at `fps`.
int64_t OutputFrameCount(double movie_seconds, double rate, int fps);

// How long a lap stays on a tile after its mark, in output seconds.
constexpr double kLapShownSeconds = 2.0;

// What tile `movie` says at output time `output_seconds`, as Pango markup: "No.n name", the
// running time since the base in the lap table's total format (held at `end_seconds`, the
// movie's last moment after its base, when that is known, i.e. not negative), and for
// kLapShownSeconds after each lap mark that row's lap and its difference to the base movie, in
// the lap table's colours.
QString TileMarkup(const laps::LapLists& lists, int movie, int base_movie, const QString& file_name,
                   double end_seconds, double rate, double output_seconds, const QLocale& locale);

// The lap row whose mark tile `movie` passed within the last kLapShownSeconds at
// `output_seconds`, the latest one; 0 when none.
int ShownLapRow(const laps::LapLists& lists, int movie, double rate, double output_seconds);

}  // namespace quorvex::exporter
