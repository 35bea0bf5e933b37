#include "laps/LapModel.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvex::laps {

int LapModel::GetCountRow() const {
  return time_list_.empty() ? 0 : static_cast<int>(time_list_.front().size());
}

void LapModel::Reset(int movie_count) {
  time_list_.assign(static_cast<size_t>(std::max(movie_count, 0)), {});
}

void LapModel::RemoveMovie(int movie) {
  if (movie < 0 || movie >= MovieCount())
    return;
  time_list_.erase(time_list_.begin() + movie);
}

void LapModel::ClearTime() {
  for (auto& list : time_list_)
    list.clear();
}

bool LapModel::SetBaseTime(const PositionReader& read) {
  if (time_list_.empty())
    return false;
  ClearTime();
  for (int i = 0; i < MovieCount(); ++i)
    time_list_[i].push_back(read(i));
  return true;
}

LapModel::AddResult LapModel::AddTime(const PositionReader& read) {
  if (time_list_.empty())
    return AddResult::kNoBase;
  for (const auto& list : time_list_) {
    if (list.empty())
      return AddResult::kNoBase;
  }
  const std::vector<double>& first = time_list_.front();
  const double p0 = read(0);
  if (p0 < first.front())
    return AddResult::kBeforeBase;
  // Past every leading row at or before p0: equal positions keep their order of taking. A linear
  // scan, not a binary search: a loaded file need not hold its rows in order.
  const auto at = std::find_if(first.begin(), first.end(), [p0](double x) { return !(p0 >= x); }) -
                  first.begin();
  std::vector<double> row(time_list_.size());
  for (int i = 0; i < MovieCount(); ++i)
    row[i] = read(i);
  for (int i = 0; i < MovieCount(); ++i)
    time_list_[i].insert(time_list_[i].begin() + at, row[i]);
  return AddResult::kAdded;
}

std::vector<double> LapModel::RowPositions(int row) const {
  if (row < 0 || row >= GetCountRow())
    return {};
  std::vector<double> positions;
  positions.reserve(time_list_.size());
  for (const auto& list : time_list_)
    positions.push_back(list[row]);
  return positions;
}

bool LapModel::RemoveRow(int row) {
  if (row < 1 || row >= GetCountRow())
    return false;
  for (auto& list : time_list_)
    list.erase(list.begin() + row);
  return true;
}

bool LapModel::Replace(LapLists lists) {
  for (const auto& list : lists) {
    if (list.size() != lists.front().size())
      return false;
  }
  time_list_ = std::move(lists);
  return true;
}

double Total(const LapLists& lists, int movie, int row) {
  return lists[movie][row] - lists[movie][0];
}

double Lap(const LapLists& lists, int movie, int row) {
  return lists[movie][row] - lists[movie][row - 1];
}

int32_t DifferenceHundredths(const LapLists& lists, int movie, int base_movie, int row) {
  const double d = std::trunc(100.0 * (Lap(lists, movie, row) - Lap(lists, base_movie, row)));
  if (std::isnan(d))
    return 0;
  constexpr double kMin = std::numeric_limits<int32_t>::min();
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(std::clamp(d, kMin, kMax));
}

int ClampBaseMovieIndex(int index, int movie_count) {
  return std::max(std::min(index, movie_count - 1), 0);
}

}  // namespace quorvex::laps
