#pragma once

// The lap lists and their operations, free of any window: the main window reads positions from
// its movie windows and hands them in through a PositionReader; the lap table derives what it
// shows with the free functions below. UI thread only (like everything that touches the lists).

#include <cstdint>
#include <functional>
#include <vector>

namespace quorvex::laps {

// One list per movie, in movie-index order; each holds absolute positions of that movie in
// seconds. All lists have the same length R: element 0 is the movie's base position, every
// further element a lap mark. Rows are ordered by the first movie's positions.
using LapLists = std::vector<std::vector<double>>;

// The current position in seconds of the movie with the given index (0.0 for a movie window
// without a movie). Called once per movie in index order; may block (a synchronous command).
using PositionReader = std::function<double(int movie)>;

class LapModel {
 public:
  enum class AddResult {
    kAdded,       // one row inserted
    kNoBase,      // no movie, or no base set: nothing changed, nothing to tell the user
    kBeforeBase,  // the first movie stands before its base: refused, the user is told
  };

  const LapLists& time_list() const { return time_list_; }
  int MovieCount() const { return static_cast<int>(time_list_.size()); }
  // R: the length of the first movie's list; 0 without movies.
  int GetCountRow() const;
  bool HasLapData() const { return GetCountRow() > 0; }

  // After movies are opened: one empty list per movie window, old and new (R = 0).
  void Reset(int movie_count);
  // After the movie window `movie` closed: its list goes, the other lists and all rows stay.
  void RemoveMovie(int movie);
  // Empties every list; the number of movies stays.
  void ClearTime();
  // Takes the current positions as the new base: clears, then reads every movie once and makes
  // the readings row 0. Does nothing without a movie; returns whether a base was set.
  bool SetBaseTime(const PositionReader& read);
  // Takes a lap mark. Reads the first movie; refuses when it stands before its base (a position
  // equal to the base is taken). The row goes after every row whose first-movie position is at
  // most that reading. Then reads every movie again, the first included, and inserts those
  // second readings there.
  AddResult AddTime(const PositionReader& read);
  // The positions of `row`, one per movie; empty when there is no such row.
  std::vector<double> RowPositions(int row) const;
  // Removes lap row `row` from every list, so that the next row's lap spans from the mark
  // before it. The base row and rows that do not exist are refused (false, nothing changes).
  bool RemoveRow(int row);
  // Replaces every list by `lists` (a loaded lap file). Refused (false, nothing changes) unless
  // all lists have the same length.
  bool Replace(LapLists lists);

 private:
  LapLists time_list_;
};

// Derived values of the lap table, for movie `movie` in row `row` of `lists`; the caller keeps
// the indices in range.
// total = P[movie][row] - P[movie][0].
double Total(const LapLists& lists, int movie, int row);
// lap = P[movie][row] - P[movie][row - 1], for row >= 1.
double Lap(const LapLists& lists, int movie, int row);
// The difference to the base movie's lap in whole hundredths of a second, truncated toward
// zero: positive when `movie` took longer. Saturates at the int32 limits (NaN gives 0), so that
// absurd positions cannot make the conversion undefined.
int32_t DifferenceHundredths(const LapLists& lists, int movie, int base_movie, int row);

// The base movie index pulled into the range of `movie_count` movies: at most the last movie,
// at least 0 (also when there is no movie).
int ClampBaseMovieIndex(int index, int movie_count);

}  // namespace quorvex::laps
