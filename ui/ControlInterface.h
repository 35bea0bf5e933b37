#pragma once

#include <cstdint>

namespace quorvex {

// What the control panel and the movie windows may ask of the main window, which drives every
// movie window and keeps the lap lists. Each call runs on the UI thread and returns once every
// movie's server has handled the resulting commands.
class ControlInterface {
 public:
  virtual ~ControlInterface() = default;

  // Starts every movie that is not playing.
  virtual void Play() = 0;
  virtual void Pause() = 0;
  virtual void Stop() = 0;
  // Moves every movie by `step_seconds` (signed) from its own position, clamped to the movie.
  virtual void SeekCurrentPosition(double step_seconds) = 0;
  // Empties the lap lists and sets every movie window's base back to zero.
  virtual void ClearTime() = 0;
  // Takes every movie's current position as its base (a new row 0).
  virtual void SetBaseTime() = 0;
  // Takes a lap mark across all movies.
  virtual void AddTime() = 0;
  // Sets the play rate of every movie; 1.0 is normal speed.
  virtual void SetRate(double rate) = 0;
  // The number of lap rows, the base row included; 0 until a base is set.
  virtual int32_t GetCountTime() = 0;
  // Shows or hides the control strips of all movie windows (inverting the current setting).
  virtual void ToggleVideoFormControlsShowing() = 0;
  // Whether movie windows show their control strip; a new movie window asks once.
  virtual bool IsVideoFormControlsShowing() = 0;
  // Makes movie `index` the base of the lap differences.
  virtual void SetBaseMovieIndex(int32_t index) = 0;
  // Steps every movie by `frames` frames of its own frame rate (signed); every movie is paused
  // afterwards.
  virtual void StepFrames(int32_t frames) = 0;
  // Enlarges every movie by `factor` (below 1: shrinks), within 1x..8x, around the same spot of
  // each one's view: (`view_x`, `view_y`) as fractions of the part of its picture it shows.
  virtual void ZoomAll(double factor, double view_x, double view_y) = 0;
  // Every movie shows its whole picture again.
  virtual void ResetZoomAll() = 0;
};

// The step buttons' moves in seconds: one, five and ten frame periods of 29.97 frames per
// second. The buttons show them rounded to two places ("-0.33" ... "+0.33").
inline constexpr double kStepSeconds[6] = {-10 / 29.97, -5 / 29.97, -1 / 29.97,
                                           1 / 29.97,   5 / 29.97,  10 / 29.97};
inline constexpr const char* kStepTexts[6] = {"-0.33", "-0.17", "-0.03", "+0.03", "+0.17", "+0.33"};

}  // namespace quorvex
