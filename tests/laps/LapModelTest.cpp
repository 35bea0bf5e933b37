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

TEST(LapModel, BaseMarksInOrderOfTheFirstMovieAndTheRefusalBeforeTheBase) {
  Movies movies{{{10.0}, {20.0}}};
  LapModel model;
  model.Reset(2);
  EXPECT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kNoBase);
  ASSERT_TRUE(model.SetBaseTime(movies.Reader()));
  // Playing: the first movie moved on between its reading for the place and the stored one.
  movies.script = {{14.6, 15.0}, {26.0}};
  movies.reads.clear();
  EXPECT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kAdded);
  EXPECT_EQ(movies.reads, (std::vector<int>{0, 0, 1}));
  // Between marks, at the base, and after the marks it equals, in taking order.
  for (const std::vector<double>& at : {std::vector<double>{12, 22}, {10, 25}, {15, 23}}) {
    movies.script = {{at[0]}, {at[1]}};
    ASSERT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kAdded);
  }
  const LapLists expected{{10, 10, 12, 15, 15}, {20, 25, 22, 26, 23}};
  EXPECT_EQ(model.time_list(), expected);
  movies.script = {{9.99}, {25.0}};
  movies.reads.clear();
  EXPECT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kBeforeBase);
  EXPECT_EQ(movies.reads, std::vector<int>{0});  // no second round of readings
  EXPECT_EQ(model.time_list(), expected);
  model.RemoveMovie(0);
  EXPECT_EQ(model.time_list(), LapLists{expected[1]});
}

// Taking the bases clears every lap: only the new base row stays, read once per movie.
TEST(LapModel, TakingTheBasesClearsTheLaps) {
  LapModel model;
  ASSERT_TRUE(model.Replace({{0, 2, 5}, {10, 13, 17}}));
  Movies movies{{{4.0}, {11.0}}};
  ASSERT_TRUE(model.SetBaseTime(movies.Reader()));
  EXPECT_EQ(model.time_list(), (LapLists{{4.0}, {11.0}}));
  EXPECT_EQ(movies.reads, (std::vector<int>{0, 1}));
  EXPECT_EQ(model.GetCountRow(), 1);
}

TEST(LapModel, RemovingARowMergesItsLapIntoTheNextButNeverTheBaseRow) {
  LapModel model;
  ASSERT_TRUE(model.Replace({{0, 2, 5, 9}, {10, 13, 17, 20}}));
  for (int row : {0, 4})
    EXPECT_FALSE(model.RemoveRow(row)) << row;
  ASSERT_TRUE(model.RemoveRow(2));
  const LapLists& p = model.time_list();
  EXPECT_EQ(p, (LapLists{{0, 2, 9}, {10, 13, 20}}));
  EXPECT_EQ(Lap(p, 1, 2), 7.0);  // 4 + 3
  EXPECT_EQ(Total(p, 1, 2), 10.0);
  EXPECT_EQ(model.RowPositions(1), (std::vector<double>{2, 13}));
}

// Differences are truncated whole hundredths; out of the int32 range or not a number they are
// saturated, never undefined.
TEST(LapModel, DifferencesAreTruncatedWholeHundredths) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  const std::tuple<double, double, int32_t> cases[] = {
      {5.019, 5.0, 1},
      {4.996, 5.0, 0},
      {6.0, 5.0, 100},
      {5.0, 5.5, -50},
      {-1e300, 0.0, -kMax - 1},
      {1e300, 0.0, kMax},
      {std::numeric_limits<double>::quiet_NaN(), 0.0, 0}};
  for (const auto& [lap, base_lap, hundredths] : cases) {
    const LapLists p = {{100.0, 100.0 + lap}, {50.0, 50.0 + base_lap}};
    EXPECT_EQ(DifferenceHundredths(p, 0, 1, 1), hundredths) << lap << " against " << base_lap;
  }
}

}  // namespace
}  // namespace quorvex::laps
