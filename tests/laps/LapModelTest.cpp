// The lap lists: base, marks by the first movie's position (with the second reading stored and
// the refusal before the base), removal merging laps, closing movies, and the derived values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "laps/LapModel.h"

namespace quorvex::laps {
namespace {

// Positions of the movies as the main window would read them. Each read of a movie takes the
// next scripted value of that movie, or repeats its last one: so a test can make the first and
// the second reading of the first movie differ.
class Movies {
 public:
  explicit Movies(std::vector<double> at) {
    for (double p : at)
      script_.push_back({p});
    next_.assign(at.size(), 0);
  }
  void MoveTo(std::vector<double> at) {
    for (size_t i = 0; i < at.size(); ++i)
      Script(i, {at[i]});
  }
  void Script(size_t movie, std::vector<double> readings) {
    script_[movie] = std::move(readings);
    next_[movie] = 0;
  }
  PositionReader Reader() {
    return [this](int movie) {
      reads.push_back(movie);
      const auto& s = script_.at(movie);
      const size_t i = std::min(next_[movie]++, s.size() - 1);
      return s[i];
    };
  }
  std::vector<int> reads;

 private:
  std::vector<std::vector<double>> script_;
  std::vector<size_t> next_;
};

LapModel WithBase(Movies& movies, int count) {
  LapModel model;
  model.Reset(count);
  EXPECT_TRUE(model.SetBaseTime(movies.Reader()));
  return model;
}

TEST(LapModel, ThreeMoviesBaseAndOneMark) {
  Movies movies({10.0, 20.0, 30.0});
  LapModel model = WithBase(movies, 3);
  EXPECT_EQ(model.GetCountRow(), 1);
  EXPECT_EQ(model.time_list(), (LapLists{{10.0}, {20.0}, {30.0}}));
  for (int m = 0; m < 3; ++m)
    EXPECT_EQ(Total(model.time_list(), m, 0), 0.0);

  movies.MoveTo({15.0, 26.0, 35.5});
  movies.reads.clear();
  EXPECT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kAdded);
  // The first movie is read once to place the mark and once more with all the others.
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

TEST(LapModel, TheSecondReadingOfTheFirstMovieIsStored) {
  Movies movies({10.0, 20.0});
  LapModel model = WithBase(movies, 2);
  movies.Script(0, {12.0, 12.4});  // playing: it moved on between the two readings
  movies.Script(1, {22.0});
  ASSERT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kAdded);
  EXPECT_EQ(model.time_list(), (LapLists{{10.0, 12.4}, {20.0, 22.0}}));
}

TEST(LapModel, AMarkAtTheBaseIsTakenWithALapOfZero) {
  Movies movies({10.0, 20.0});
  LapModel model = WithBase(movies, 2);
  movies.MoveTo({10.0, 21.0});
  ASSERT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kAdded);
  EXPECT_EQ(Lap(model.time_list(), 0, 1), 0.0);
  EXPECT_EQ(Lap(model.time_list(), 1, 1), 1.0);
}

TEST(LapModel, AMarkBetweenTwoMarksGoesBetweenThem) {
  Movies movies({0.0, 100.0});
  LapModel model = WithBase(movies, 2);
  movies.MoveTo({2.0, 102.0});
  model.AddTime(movies.Reader());
  movies.MoveTo({6.0, 106.0});
  model.AddTime(movies.Reader());
  movies.MoveTo({4.0, 104.5});
  ASSERT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kAdded);
  EXPECT_EQ(model.time_list(), (LapLists{{0, 2, 4, 6}, {100, 102, 104.5, 106}}));
  // The row after the new mark now measures from it.
  EXPECT_EQ(Lap(model.time_list(), 0, 3), 2.0);
  EXPECT_EQ(Lap(model.time_list(), 1, 3), 1.5);
}

TEST(LapModel, EqualFirstPositionsKeepTheirOrderOfTaking) {
  Movies movies({0.0, 0.0});
  LapModel model = WithBase(movies, 2);
  movies.MoveTo({3.0, 1.0});
  model.AddTime(movies.Reader());
  movies.MoveTo({3.0, 2.0});
  model.AddTime(movies.Reader());
  movies.MoveTo({0.0, 5.0});  // equal to the base: after it, before the others
  model.AddTime(movies.Reader());
  EXPECT_EQ(model.time_list(), (LapLists{{0, 0, 3, 3}, {0, 5, 1, 2}}));
}

TEST(LapModel, AMarkBeforeTheBaseIsRefusedWhateverTheOthersShow) {
  Movies movies({10.0, 20.0, 30.0});
  LapModel model = WithBase(movies, 3);
  const LapLists before = model.time_list();
  movies.MoveTo({9.99, 25.0, 35.0});
  movies.reads.clear();
  EXPECT_EQ(model.AddTime(movies.Reader()), LapModel::AddResult::kBeforeBase);
  EXPECT_EQ(movies.reads, std::vector<int>{0});  // no second round of readings
  EXPECT_EQ(model.time_list(), before);
}

TEST(LapModel, NothingHappensWithoutMoviesOrWithoutABase) {
  Movies movies({1.0});
  LapModel empty;
  EXPECT_EQ(empty.GetCountRow(), 0);
  EXPECT_FALSE(empty.SetBaseTime(movies.Reader()));
  EXPECT_EQ(empty.AddTime(movies.Reader()), LapModel::AddResult::kNoBase);
  EXPECT_TRUE(movies.reads.empty());
  EXPECT_FALSE(empty.HasLapData());

  LapModel no_base;
  no_base.Reset(1);
  EXPECT_EQ(no_base.AddTime(movies.Reader()), LapModel::AddResult::kNoBase);
  EXPECT_TRUE(movies.reads.empty());
  EXPECT_EQ(no_base.GetCountRow(), 0);
}

TEST(LapModel, ANewBaseStartsOver) {
  Movies movies({1.0, 2.0});
  LapModel model = WithBase(movies, 2);
  movies.MoveTo({3.0, 4.0});
  model.AddTime(movies.Reader());
  movies.MoveTo({7.0, 8.0});
  ASSERT_TRUE(model.SetBaseTime(movies.Reader()));
  EXPECT_EQ(model.time_list(), (LapLists{{7.0}, {8.0}}));
  model.ClearTime();
  EXPECT_EQ(model.time_list(), (LapLists{{}, {}}));
  EXPECT_EQ(model.MovieCount(), 2);
}

TEST(LapModel, RemovingAMiddleRowMergesItsLapIntoTheNext) {
  LapModel model;
  ASSERT_TRUE(model.Replace({{0, 2, 5, 9}, {10, 13, 17, 20}}));
  ASSERT_TRUE(model.RemoveRow(2));
  const LapLists& p = model.time_list();
  EXPECT_EQ(p, (LapLists{{0, 2, 9}, {10, 13, 20}}));
  EXPECT_EQ(Lap(p, 0, 2), 7.0);  // 3 + 4
  EXPECT_EQ(Lap(p, 1, 2), 7.0);  // 4 + 3
  EXPECT_EQ(Total(p, 0, 2), 9.0);
  EXPECT_EQ(model.RowPositions(1), (std::vector<double>{2, 13}));
}

TEST(LapModel, TheBaseRowAndMissingRowsAreNeverRemoved) {
  LapModel model;
  ASSERT_TRUE(model.Replace({{0, 2}, {10, 13}}));
  for (int row : {0, -1, 2, 100})
    EXPECT_FALSE(model.RemoveRow(row)) << row;
  EXPECT_EQ(model.GetCountRow(), 2);
  EXPECT_TRUE(model.RowPositions(2).empty());
  EXPECT_TRUE(model.RowPositions(-1).empty());
  EXPECT_EQ(model.RowPositions(0), (std::vector<double>{0, 10}));
}

TEST(LapModel, ClosingAMovieKeepsTheRowsOfTheOthers) {
  LapModel model;
  ASSERT_TRUE(model.Replace({{0, 1}, {10, 12}, {20, 23}}));
  model.RemoveMovie(1);
  EXPECT_EQ(model.time_list(), (LapLists{{0, 1}, {20, 23}}));
  model.RemoveMovie(5);  // no such movie
  EXPECT_EQ(model.MovieCount(), 2);
  model.RemoveMovie(0);
  model.RemoveMovie(0);
  EXPECT_EQ(model.GetCountRow(), 0);
  model.Reset(2);  // movies opened: every list empty
  EXPECT_EQ(model.time_list(), (LapLists{{}, {}}));
}

TEST(LapModel, ListsOfDifferentLengthsAreNotTaken) {
  LapModel model;
  ASSERT_TRUE(model.Replace({{1, 2}}));
  EXPECT_FALSE(model.Replace({{1, 2}, {3}}));
  EXPECT_EQ(model.time_list(), (LapLists{{1, 2}}));
}

struct DifferenceCase {
  double lap;
  double base_lap;
  int32_t hundredths;
};

class Differences : public testing::TestWithParam<DifferenceCase> {};

TEST_P(Differences, AreTruncatedWholeHundredths) {
  const DifferenceCase& c = GetParam();
  const LapLists p = {{100.0, 100.0 + c.lap}, {50.0, 50.0 + c.base_lap}};
  EXPECT_EQ(DifferenceHundredths(p, 0, 1, 1), c.hundredths);
  EXPECT_EQ(DifferenceHundredths(p, 1, 1, 1), 0);
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Laps, Differences,
    testing::Values(DifferenceCase{5.019, 5.0, 1}, DifferenceCase{4.996, 5.0, 0},
                    DifferenceCase{12.344, 12.34, 0}, DifferenceCase{6.0, 5.0, 100},
                    DifferenceCase{5.0, 5.5, -50}, DifferenceCase{1.0, 1.0, 0},
                    // Out of the int32 range or not a number: saturated, never undefined.
                    DifferenceCase{1e300, 0.0, std::numeric_limits<int32_t>::max()},
                    DifferenceCase{-1e300, 0.0, std::numeric_limits<int32_t>::min()},
                    DifferenceCase{kInf, 0.0, std::numeric_limits<int32_t>::max()},
                    DifferenceCase{kNaN, 0.0, 0}));

TEST(LapModel, BaseMovieIndexIsPulledIntoRange) {
  EXPECT_EQ(ClampBaseMovieIndex(1, 3), 1);
  EXPECT_EQ(ClampBaseMovieIndex(2, 2), 1);  // the base was the last movie: the new last
  EXPECT_EQ(ClampBaseMovieIndex(0, 0), 0);
  EXPECT_EQ(ClampBaseMovieIndex(5, 0), 0);
  EXPECT_EQ(ClampBaseMovieIndex(-3, 4), 0);
}

}  // namespace
}  // namespace quorvex::laps
