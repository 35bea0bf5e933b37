#pragma once

// The media graph of one movie: the movie server's engine. CMovie builds a graph for a file
// with the pitch-shift filter in its audio path and the rate-scaled Clock as its reference
// clock, shows its video inside a window of another process, and drives it.
//
// Used on one thread only (the server's main thread, which runs a Qt event loop); the graph's
// own threads never call back into CMovie. Every operation but InitializeGraph needs the
// movie that a successful InitializeGraph opened: the server answers commands sent before
// that itself (hosting/Channel.h, Needs), so nothing here asks again.
//
// This is the edge where the graph's nanoseconds and bools become the channel's 100 ns units
// and result codes.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/ChannelTerms.h"
#include "platform/media/Graph.h"

namespace quorvex {

class Clock;

class CMovie {
 public:
  static constexpr int32_t kZoomUnits = 65536;  // the whole width or height of the picture

  CMovie();   // no graph
  ~CMovie();  // stops and releases the graph
  CMovie(const CMovie&) = delete;
  CMovie& operator=(const CMovie&) = delete;

  // Builds the graph for `file_name` and makes its video a child of the X window
  // `owner_window`. False for a file that is not a playable movie or has no video, or when
  // called a second time; what was built stays until the destructor.
  bool InitializeGraph(const std::u16string& file_name, int32_t owner_window);
  // Fits the video into width by height pixels at the owner's top-left corner.
  void SetVideoSize(int32_t width, int32_t height);
  // Drains the graph's events (answer to the notification message); the end of the movie
  // pauses it.
  void GraphNotifyProc();
  // Play rate: 1 normal, 0.25 a quarter of normal speed. The clock is set first when slowing
  // down, the filter first when speeding up.
  void SetRate(double rate);
  double GetRate();
  void Pause();
  void Run();
  void Stop();
  bool IsPlaying();
  void EnablePitchShift(bool enable);
  // Steps by `frames` of the movie's own pictures, forward or back, by their time stamps, and
  // lands on that picture's start; paused afterwards. A step beyond either end stops at the
  // first or last picture. False when it did not move (already at that end, `frames` 0 or
  // no picture).
  bool StepFrames(int32_t frames);
  // Shows the part left, top, width, height of the upright picture, in kZoomUnits of its
  // width and height (checked by the caller: the channel's ZoomInRange), enlarged to the video
  // area; kept over steps, play, rate changes and resizes. S_OK, E_FAIL for a movie without
  // a picture window.
  media::HRESULT SetZoom(int32_t left, int32_t top, int32_t width, int32_t height);
  // The picture's aspect ratio, 4:3 without a picture.
  void GetAspectRatio(int32_t& x, int32_t& y);

  // The graph's notification: `message` with lparam `instance` is posted to window `hwnd`
  // whenever an event is queued (0 stops it).
  media::HRESULT SetNotifyWindow(int32_t hwnd, int32_t message, int32_t instance);
  media::HRESULT GetDuration(int64_t* units);
  media::HRESULT GetCurrentPosition(int64_t* units);
  // Flags per position: AM_SEEKING_{No,Absolute,Relative,Incremental}Positioning, optionally
  // with SeekToKeyFrame (otherwise frame-accurate) and ReturnTime (the positions reached are
  // written back). Incremental applies to the stop position only (relative to the new current).
  // Positions are held within the movie; sums that would overflow saturate. A paused seek that
  // fails or reaches no picture leaves the position at the picture shown and returns E_FAIL.
  media::HRESULT SetPositions(int64_t* current, uint32_t current_flags, int64_t* stop,
                              uint32_t stop_flags);
  // Hundredths of a decibel: 0 full, -10000 silent; E_INVALIDARG outside that range,
  // E_NOTIMPL when the movie has no sound.
  media::HRESULT put_Volume(int32_t hundredths_db);
  media::HRESULT get_Volume(int32_t* hundredths_db);

  // The graph, for tests and benchmarks; null when there is none.
  media::Graph* graph() { return graph_.get(); }

 private:
  void ShareCacheBudget();
  void SetFilterRate(double rate);
  bool KeptAtShownPicture(bool sought, const std::optional<media::Graph::Shown>& before,
                          int64_t target_ns, std::optional<int64_t> stop_ns);

  std::unique_ptr<media::Graph> graph_;
  Clock* clock_ = nullptr;              // kept alive by the graph
  GstElement* pitch_filter_ = nullptr;  // kept alive by the graph
  bool playing_ = false;
  bool stopped_ = true;  // as the graph is after its open, until the first Pause or Run
  int32_t volume_ = 0;
  std::optional<std::chrono::steady_clock::time_point> budget_counted_;
};

}  // namespace quorvex
