#include "exporter/ExportPlan.h"

#include <algorithm>
#include <cmath>

#include "engine/MovieUtils.h"
#include "platform/ui/NumberFormat.h"

namespace quorvex::exporter {

namespace {

// The lap table's colours: cells white or light grey by movie, differences red when slower,
// blue when faster, grey when equal.
const char* CellBackground(int movie) {
  return movie % 2 == 0 ? "#FFFFFF" : "#E8E8E8";
}

const char* DifferenceColour(int32_t hundredths) {
  return hundredths > 0 ? "#FF0000" : hundredths < 0 ? "#0000FF" : "#808080";
}

QString Span(const char* background, const char* foreground, const QString& text) {
  return QStringLiteral("<span background=\"%1\" foreground=\"%2\"> %3 </span>")
      .arg(QLatin1String(background), QLatin1String(foreground), text.toHtmlEscaped());
}

int Even(int value) {
  return value / 2 * 2;
}

}  // namespace

GridShape ChooseGrid(int count, int width, int height, int aspect_x, int aspect_y) {
  GridShape best_shape;
  int64_t best = 0;
  for (int c = 1; c <= count; ++c) {
    const int r = (count + c - 1) / c;
    int32_t w = 0;
    int32_t h = 0;
    MovieUtils::CalcActualVideoSize(width / c, height / r, aspect_x, aspect_y, w, h);
    const int64_t area = int64_t(w) * h;
    if (area > best) {  // ties keep the fewer columns
      best = area;
      best_shape = {c, r};
    }
  }
  return best_shape;
}

Rect CellRect(const GridShape& grid, int width, int height, int index) {
  const int w = width / grid.columns;
  const int h = height / grid.rows;
  return {w * (index % grid.columns), h * (index / grid.columns), w, h};
}

Rect FitTile(const Rect& cell, int aspect_x, int aspect_y) {
  int32_t w = 0;
  int32_t h = 0;
  MovieUtils::CalcActualVideoSize(cell.width, cell.height, aspect_x, aspect_y, w, h);
  w = std::max(2, Even(w));
  h = std::max(2, Even(h));
  return {cell.x + Even((cell.width - w) / 2), cell.y + Even((cell.height - h) / 2), w, h};
}

double ExportMovieSeconds(const laps::LapLists& lists, const std::vector<double>& durations,
                          bool to_end) {
  double seconds = 0.0;
  const int rows = lists.empty() ? 0 : int(lists[0].size());
  if (rows >= 2 && !to_end) {
    for (int m = 0; m < int(lists.size()); ++m)
      seconds = std::max(seconds, laps::Total(lists, m, rows - 1) + 1.0);
    return seconds;
  }
  for (size_t m = 0; m < lists.size() && m < durations.size(); ++m) {
    if (durations[m] >= 0 && rows >= 1)
      seconds = std::max(seconds, durations[m] - lists[m][0]);
  }
  return seconds;
}

int64_t OutputFrameCount(double movie_seconds, double rate, int fps) {
  if (!(movie_seconds > 0) || !(rate > 0) || fps <= 0)
    return 0;
  // A length that is a whole number of pictures up to rounding noise gets no extra picture.
  const double frames = std::ceil(movie_seconds / rate * fps - 1e-6);
  return frames < 4e18 ? int64_t(frames) : INT64_MAX;
}

int ShownLapRow(const laps::LapLists& lists, int movie, double rate, double output_seconds) {
  int shown = 0;
  const int rows = int(lists[movie].size());
  for (int r = 1; r < rows; ++r) {
    const double mark = laps::Total(lists, movie, r) / rate;
    if (mark <= output_seconds && output_seconds < mark + kLapShownSeconds)
      shown = r;
  }
  return shown;
}

QString TileMarkup(const laps::LapLists& lists, int movie, int base_movie, const QString& file_name,
                   double end_seconds, double rate, double output_seconds, const QLocale& locale) {
  double since_base = output_seconds * rate;
  if (end_seconds >= 0)
    since_base = std::min(since_base, end_seconds);
  QString markup = QStringLiteral("No.%1 %2\n<span size=\"x-large\">%3</span>")
                       .arg(movie + 1)
                       .arg(file_name.toHtmlEscaped(), ui::FormatFixed2(since_base, locale));
  const int row = ShownLapRow(lists, movie, rate, output_seconds);
  if (row == 0)
    return markup;
  const int32_t d = laps::DifferenceHundredths(lists, movie, base_movie, row);
  const QString lap = QString::fromUtf8("区間 ") + ui::FormatFixed2(laps::Lap(lists, movie, row), locale);
  const QString dif = QString::fromUtf8("ﾀｲﾑ差 ") +
                      (movie == base_movie ? QStringLiteral("---")
                                           : ui::FormatSigned2(d / 100.0, locale));
  markup += QStringLiteral("\n") + Span(CellBackground(movie), "#000000", lap) +
            Span(CellBackground(movie), DifferenceColour(d), dif);
  return markup;
}

}  // namespace quorvex::exporter
