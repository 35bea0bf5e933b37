#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <tuple>

#include "exporter/ExportOptions.h"
#include "exporter/ExportPlan.h"

namespace quorvex::exporter {
namespace {

std::vector<std::string> Split(const std::string& line) {
  std::istringstream words(line);
  return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

// Every field the command line sets, in one comparable value.
auto Fields(const std::string& line) {
  const ParseResult r = ParseExportArguments(Split(line));
  EXPECT_TRUE(r.options) << line << ": " << r.error;
  const ExportOptions o = r.options.value_or(ExportOptions{});
  return std::tuple(o.output_path, o.lap_file_path, o.rate, o.width, o.height, o.fps,
                    o.SoundMovie(), o.base_movie, o.to_end);
}

TEST(ExportOptionsTest, ReadsTheOptionsAndRefusesWhatThePanelDoesNotOffer) {
  using std::string_literals::operator""s;
  EXPECT_EQ(Fields("--export out.mp4 laps.xml"),
            std::tuple("out.mp4"s, "laps.xml"s, 1.0, 1920, 1080, 30, std::optional(0), 0, false));
  EXPECT_EQ(Fields("--export --rate 1/16 out.mp4 --size 640x360 --fps 25 laps.xml --audio 3 "
                   "--base 2 --to end"),
            std::tuple("out.mp4"s, "laps.xml"s, 0.0625, 640, 360, 25, std::optional(2), 1, true));
  EXPECT_FALSE(std::get<6>(Fields("--export a b --audio none")));
  // The base movie's sound unless another is asked for.
  EXPECT_EQ(std::get<6>(Fields("--export a b --base 3")), 2);
  for (const auto& [rate, value] : {std::pair{"1", 1.0}, {"0.5", 0.5}, {"1/4", 0.25},
                                    {"0.125", 0.125}, {"1/8", 0.125}, {"1/1", 1.0}}) {
    EXPECT_EQ(std::get<2>(Fields(std::string("--export a b --rate ") + rate)), value) << rate;
  }
  for (const char* line :
       {"--export a", "--export a b c", "--export a b --rate 0.3", "--export a b --rate 1/3",
        "--export a b --rate 2", "--export a b --rate 2/4", "--export a b --rate -0.5",
        "--export a b --size 641x360", "--export a b --size 640", "--export a b --size 8x8",
        "--export a b --fps 0", "--export a b --fps 1000", "--export a b --fps 29.97",
        "--export a b --audio 0", "--export a b --audio x", "--export a b --rate",
        "--export a --speed", "--export a b --base 0", "--export a b --to start",
        // A part the player could not show: movie 0, beyond 8x, outside the picture, malformed.
        "--export a b --zoom 0:0,0,32768,32768", "--export a b --zoom 1:0,0,8191,8191",
        "--export a b --zoom 1:40000,0,32768,32768", "--export a b --zoom 1:0,0,65537,65536",
        "--export a b --zoom 1:-1,0,32768,32768", "--export a b --zoom 1:0,0,32768",
        "--export a b --zoom 1:0,0,32768,32768,1", "--export a b --zoom 1:0,0,,32768",
        "--export a b --zoom 1:0,0,99999999999,32768", "--export a b --zoom x:0,0,1,1"}) {
    const ParseResult r = ParseExportArguments(Split(line));
    EXPECT_TRUE(!r.options && !r.error.empty()) << line;
  }
  // The part in 1/65536 of the picture, for the movie counted from 1; down to an eighth.
  const ParseResult zoomed = ParseExportArguments(
      Split("--export a b --zoom 2:0,32768,32768,16384 --zoom 1:57344,57344,8192,8192"));
  ASSERT_TRUE(zoomed.options && zoomed.options->zooms.size() == 2) << zoomed.error;
  const ExportOptions::Zoom& part = zoomed.options->zooms[0];
  EXPECT_EQ(std::tuple(part.movie, part.left, part.top, part.width, part.height),
            std::tuple(1, 0.0, 0.5, 0.5, 0.25));
}

std::tuple<int, int, int, int> Corners(const Rect& r) {
  return {r.x, r.y, r.width, r.height};
}

TEST(ExportPlanTest, ArrangesTheTilesByTheMainWindowsRule) {
  // Three 16:9 movies in 1920x1080: two columns give 960x540 pictures, more than one row of
  // three (640x360) or one column (640x360).
  const auto shape = [](const GridShape& g) { return std::pair(g.columns, g.rows); };
  EXPECT_EQ(shape(ChooseGrid(3, 1920, 1080, 16, 9)), std::pair(2, 2));
  EXPECT_EQ(shape(ChooseGrid(1, 1920, 1080, 4, 3)), std::pair(1, 1));
  // A wide, low picture puts three 4:3 movies in one row; a tall one in one column.
  EXPECT_EQ(ChooseGrid(3, 3000, 400, 4, 3).columns, 3);
  EXPECT_EQ(ChooseGrid(3, 400, 3000, 4, 3).columns, 1);
  // Square movies in a square: one column of two and one row of two give equal pictures; the
  // fewer columns win.
  EXPECT_EQ(shape(ChooseGrid(2, 200, 200, 1, 1)), std::pair(1, 2));
  // Five in three columns: the second row holds movies 4 and 5.
  EXPECT_EQ(Corners(CellRect({3, 2}, 1920, 1080, 4)), std::tuple(640, 540, 640, 540));
  // A 4:3 movie in a 16:9 cell: full height, centred, even sides and offsets.
  EXPECT_EQ(Corners(FitTile({960, 540, 960, 540}, 4, 3)), std::tuple(960 + 120, 540, 720, 540));
  const Rect odd = FitTile({0, 0, 333, 333}, 16, 9);
  EXPECT_EQ((odd.width | odd.height | odd.x | odd.y) % 2, 0);
  EXPECT_LE(odd.y + odd.height, 333);
  EXPECT_GT(odd.y, 0);
}

TEST(ExportPlanTest, RunsOneSecondPastTheLastLapOrToTheEndOfTheLongestMovie) {
  const laps::LapLists laps = {{10.0, 15.0, 20.0}, {20.0, 26.0, 33.5}};
  // Totals of the last row: 10.0 and 13.5.
  EXPECT_DOUBLE_EQ(ExportMovieSeconds(laps, {100.0, 100.0}), 14.5);
  const laps::LapLists bases = {{10.0}, {2.0}, {1.0}};
  EXPECT_DOUBLE_EQ(ExportMovieSeconds(bases, {30.0, 25.0, -1.0}), 23.0);
  EXPECT_DOUBLE_EQ(ExportMovieSeconds(laps, {100.0, 50.0}, /*to_end=*/true), 90.0);
  EXPECT_LE(ExportMovieSeconds({{10.0}}, {5.0}), 0.0);
  EXPECT_LE(ExportMovieSeconds({{10.0}}, {-1.0}), 0.0);

  EXPECT_EQ(OutputFrameCount(14.5, 0.5, 30), 870);
  EXPECT_EQ(OutputFrameCount(2.7, 0.5, 30), 162);
  EXPECT_EQ(OutputFrameCount(1.01, 1.0, 30), 31);  // a part of a picture is a picture
  EXPECT_EQ(OutputFrameCount(0.0, 1.0, 30), 0);
  EXPECT_EQ(OutputFrameCount(-3.0, 1.0, 30), 0);
  EXPECT_EQ(OutputFrameCount(1e300, 0.0625, 240), INT64_MAX);
}

TEST(ExportPlanTest, TileTextShowsTheTotalAndEachLapForTwoSecondsInTheTablesColours) {
  const QLocale c(QLocale::C);
  // Bases 10, 20, 30; one mark at 15, 26, 35.5: laps 5.00, 6.00, 5.50.
  const laps::LapLists lists = {{10.0, 15.0}, {20.0, 26.0}, {30.0, 35.5}};
  // At 1/2 the mark of movie 1 (total 6.0) comes at 12 s of output.
  const QString before = TileMarkup(lists, 1, 0, "b&b.mp4", -1.0, 0.5, 11.9, c);
  EXPECT_TRUE(before.startsWith("No.2 b&amp;b.mp4\n")) << before.toStdString();
  EXPECT_TRUE(before.contains(">5.95<")) << before.toStdString();
  EXPECT_FALSE(before.contains(QString::fromUtf8("区間")));
  const QString during = TileMarkup(lists, 1, 0, "b.mp4", -1.0, 0.5, 12.0, c);
  EXPECT_TRUE(during.contains(QString::fromUtf8("区間 6.00"))) << during.toStdString();
  EXPECT_TRUE(during.contains("foreground=\"#FF0000\"> " + QString::fromUtf8("ﾀｲﾑ差 +1.00")))
      << during.toStdString();
  EXPECT_TRUE(during.contains("background=\"#E8E8E8\""));  // odd movies' cells are grey
  EXPECT_TRUE(TileMarkup(lists, 1, 0, "b.mp4", -1.0, 0.5, 13.99, c).contains("+1.00"));
  EXPECT_FALSE(TileMarkup(lists, 1, 0, "b.mp4", -1.0, 0.5, 14.0, c).contains("+1.00"));
  // Faster than the base: blue; the base itself: "---" in grey on white.
  const QString slower = TileMarkup(lists, 1, 2, "b.mp4", -1.0, 0.5, 12.5, c);
  EXPECT_TRUE(slower.contains("foreground=\"#FF0000\"> " + QString::fromUtf8("ﾀｲﾑ差 +0.50")));
  const QString blue = TileMarkup(lists, 0, 1, "a.mp4", -1.0, 0.5, 10.5, c);
  EXPECT_TRUE(blue.contains("foreground=\"#0000FF\"> " + QString::fromUtf8("ﾀｲﾑ差 -1.00")))
      << blue.toStdString();
  const QString base = TileMarkup(lists, 0, 0, "a.mp4", -1.0, 0.5, 10.5, c);
  EXPECT_TRUE(base.contains("background=\"#FFFFFF\" foreground=\"#808080\"> " +
                            QString::fromUtf8("ﾀｲﾑ差 ---")))
      << base.toStdString();
  // The total stops at the movie's end; the regional separator is used.
  EXPECT_TRUE(TileMarkup(lists, 0, 0, "a.mp4", 3.25, 1.0, 9.0, c).contains(">3.25<"));
  EXPECT_TRUE(TileMarkup(lists, 0, 0, "a.mp4", -1.0, 1.0, 2.5, QLocale(QLocale::German))
                  .contains(">2,50<"));
  // Two marks within two seconds: the later one shows.
  const laps::LapLists close = {{0.0, 1.0, 1.5}};
  EXPECT_EQ(ShownLapRow(close, 0, 1.0, 1.2), 1);
  EXPECT_EQ(ShownLapRow(close, 0, 1.0, 1.6), 2);
  EXPECT_EQ(ShownLapRow(close, 0, 1.0, 0.9), 0);
  EXPECT_EQ(ShownLapRow(close, 0, 1.0, 3.5), 0);
}

}  // namespace
}  // namespace quorvex::exporter
