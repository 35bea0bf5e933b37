// The lap lists: base, marks placed by the first movie's position (its second reading stored,
// the refusal before the base), removal merging laps, closing movies, and the differences.
#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "laps/LapModel.h"

namespace quorvex::laps {
namespace {

// Positions as the main window reads them: each read of a movie takes that movie's next
// scripted value or repeats its last, so the two readings of the first movie can differ.
struct Movies {
  LapLists script;
  std::vector<int> reads = {};
  PositionReader Reader() {
    return [this](int movie) {
      reads.push_back(movie);
      std::vector<double>& s = script.at(movie);
      const double v = s.front();
      if (s.size() > 1)
        s.erase(s.begin());
      return v;
    };
  }
};

LapModel WithBase(Movies& movies) {
  LapModel model;
  model.Reset(int(movies.script.size()));
  EXPECT_TRUE(model.SetBaseTime(movies.Reader()));
  return model;
}

TEST(LapModel, ThreeMoviesBaseAndOneMark) {
  Movies movies{{{10.0}, {20.0}, {30.0}}};
  LapModel model = WithBase(movies);
  EXPECT_EQ(model.time_list(), (LapLists{{10.0}, {20.0}, {30.0}}));
  EXPECT_EQ(Total(model.time_list(), 1, 0), 0.0);

  // Playing: the first movie moved on between its reading for the place and the stored one.
  movies.script = {{14.6, 15.0}, {26.0}, {35.5}};
  movies.reads.clear();
  EXPECT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kAdded);
  EXPECT_EQ(movies.reads, (std::vector<int>{0, 0, 1, 2}));
  const LapLists& p = model.time_list();
  EXPECT_EQ(model.GetCountRow(), 2);
  const double totals[] = {5.0, 6.0, 5.5};
  for (int m = 0; m < 3; ++m) {
    EXPECT_EQ(Total(p, m, 1), totals[m]);
    EXPECT_EQ(Lap(p, m, 1), totals[m]);
  }
  EXPECT_EQ(DifferenceHundredths(p, 0, 0, 1), 0);
  EXPECT_EQ(DifferenceHundredths(p, 1, 0, 1), 100);
  EXPECT_EQ(DifferenceHundredths(p, 2, 0, 1), 50);
  EXPECT_EQ(DifferenceHundredths(p, 0, 2, 1), -50);
}

// Between marks, at the base (a lap of zero), and after the marks it equals, in taking order.
TEST(LapModel, MarksAreOrderedByTheFirstMovie) {
  Movies movies{{{0.0}, {100.0}}};
  LapModel model = WithBase(movies);
  for (const std::vector<double>& at :
       {std::vector<double>{2, 102}, {6, 106}, {4, 104.5}, {0, 105}, {4, 103}}) {
    movies.script = {{at[0]}, {at[1]}};
    ASSERT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kAdded);
  }
  EXPECT_EQ(model.time_list(), (LapLists{{0, 0, 2, 4, 4, 6}, {100, 105, 102, 104.5, 103, 106}}));
  EXPECT_EQ(Lap(model.time_list(), 0, 1), 0.0);
  EXPECT_EQ(Lap(model.time_list(), 1, 5), 3.0);  // the row after a new mark measures from it
}

TEST(LapModel, NoMarkBeforeTheBaseWithoutMoviesOrWithoutABase) {
  Movies movies{{{10.0}, {20.0}, {30.0}}};
  LapModel model = WithBase(movies);
  const LapLists before = model.time_list();
  movies.script = {{9.99}, {25.0}, {35.0}};
  movies.reads.clear();
  EXPECT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kBeforeBase);
  EXPECT_EQ(movies.reads, std::vector<int>{0});  // no second round of readings
  EXPECT_EQ(model.time_list(), before);

  movies.reads.clear();
  LapModel empty;
  EXPECT_FALSE(empty.SetBaseTime(movies.Reader()));
  EXPECT_EQ(empty.AddTime(movies.Reader()), LapModel::AddResult::kNoBase);
  EXPECT_FALSE(empty.HasLapData());
  LapModel no_base;
  no_base.Reset(1);
  EXPECT_EQ(no_base.AddTime(movies.Reader()), LapModel::AddResult::kNoBase);
  EXPECT_EQ(no_base.GetCountRow(), 0);
  EXPECT_TRUE(movies.reads.empty());
}

TEST(LapModel, NewBaseClearingAndClosingMovies) {
  Movies movies{{{1.0}, {2.0}, {3.0}}};
  LapModel model = WithBase(movies);
  movies.script = {{4.0}, {5.0}, {6.0}};
  model.AddTime(movies.Reader());
  movies.script = {{7.0}, {8.0}, {9.0}};
  ASSERT_TRUE(model.SetBaseTime(movies.Reader()));  // starts over
  EXPECT_EQ(model.time_list(), (LapLists{{7.0}, {8.0}, {9.0}}));
  model.RemoveMovie(1);
  model.RemoveMovie(5);  // no such movie
  EXPECT_EQ(model.time_list(), (LapLists{{7.0}, {9.0}}));
  model.ClearTime();
  EXPECT_EQ(model.time_list(), (LapLists{{}, {}}));
  model.RemoveMovie(0);
  model.RemoveMovie(0);
  EXPECT_EQ(model.GetCountRow(), 0);
  model.Reset(2);  // movies opened: every list empty
  EXPECT_EQ(model.time_list(), (LapLists{{}, {}}));
}

TEST(LapModel, RemovingARowMergesItsLapIntoTheNextButNeverTheBaseRow) {
  LapModel model;
  ASSERT_TRUE(model.Replace({{0, 2, 5, 9}, {10, 13, 17, 20}}));
  EXPECT_FALSE(model.Replace({{1, 2}, {3}}));  // lists of different lengths are not taken
  for (int row : {0, -1, 4, 100})
    EXPECT_FALSE(model.RemoveRow(row)) << row;
  ASSERT_TRUE(model.RemoveRow(2));
  const LapLists& p = model.time_list();
  EXPECT_EQ(p, (LapLists{{0, 2, 9}, {10, 13, 20}}));
  EXPECT_EQ(Lap(p, 0, 2), 7.0);  // 3 + 4
  EXPECT_EQ(Lap(p, 1, 2), 7.0);  // 4 + 3
  EXPECT_EQ(model.RowPositions(1), (std::vector<double>{2, 13}));
  EXPECT_TRUE(model.RowPositions(3).empty());
  EXPECT_TRUE(model.RowPositions(-1).empty());
}

// Differences are truncated whole hundredths; out of the int32 range or not a number they are
// saturated, never undefined.
TEST(LapModel, DifferencesAreTruncatedWholeHundredths) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::tuple<double, double, int32_t> cases[] = {
      {5.019, 5.0, 1},    {4.996, 5.0, 0},
      {12.344, 12.34, 0}, {6.0, 5.0, 100},
      {5.0, 5.5, -50},    {1.0, 1.0, 0},
      {1e300, 0.0, kMax}, {-1e300, 0.0, -kMax - 1},
      {kInf, 0.0, kMax},  {std::numeric_limits<double>::quiet_NaN(), 0.0, 0}};
  for (const auto& [lap, base_lap, hundredths] : cases) {
    const LapLists p = {{100.0, 100.0 + lap}, {50.0, 50.0 + base_lap}};
    EXPECT_EQ(DifferenceHundredths(p, 0, 1, 1), hundredths) << lap << " against " << base_lap;
    EXPECT_EQ(DifferenceHundredths(p, 1, 1, 1), 0);
  }
}

}  // namespace
}  // namespace quorvex::laps
