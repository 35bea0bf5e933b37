#pragma once

// The media graph of one movie over GStreamer, offered through the operations that the engine
// and the movie server call, with their names, result codes (Results.h) and units: times are
// signed 64-bit counts of 100 ns.
//
// FilterGraph owns its GStreamer pipeline; the interfaces below are views of one FilterGraph
// and are handed out as borrowed pointers that live as long as it does. Every operation is
// called on the owner's thread (in the server: the main thread, which runs a Qt event loop);
// the graph's bus messages are handled on GStreamer's threads by a synchronous handler that
// only queues events. Operations that change what is shown wait, bounded, until the graph has
// prerolled again, so that a position read afterwards is the one reached.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/media/EventQueue.h"
#include "platform/media/Results.h"

extern "C" {
typedef struct _GstElement GstElement;
typedef struct _GstClock GstClock;
typedef struct _GstBus GstBus;
typedef struct _GstMessage GstMessage;
typedef struct _GstPad GstPad;
typedef struct _GstStructure GstStructure;
}

namespace quorvex::media {

// Window styles of put_WindowStyle.
inline constexpr int32_t WS_CHILD = 0x40000000;
inline constexpr int32_t WS_CLIPSIBLINGS = 0x04000000;

class IGraphBuilder {
 public:
  // Adds `filter` to the graph under `name`; the graph takes its own reference. A filter with a
  // free input is offered decoded mono/stereo audio (interleaved S16) by RenderFile.
  virtual HRESULT AddFilter(GstElement* filter, const std::u16string& name) = 0;
  // Builds decoders and renderers for the file and prerolls (bounded): S_OK when the file
  // plays, E_FAIL when it is not a playable movie, E_UNEXPECTED when already rendered.
  virtual HRESULT RenderFile(const std::u16string& file_name) = 0;

 protected:
  ~IGraphBuilder() = default;
};

class IMediaFilter {
 public:
  // The graph's reference clock (the graph takes a reference); null runs without a clock.
  virtual HRESULT SetSyncSource(GstClock* clock) = 0;

 protected:
  ~IMediaFilter() = default;
};

class IMediaControl {
 public:
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  // Holds the picture, keeps the position and drops queued data: a later Pause or Run
  // continues from the same frame.
  virtual HRESULT Stop() = 0;

 protected:
  ~IMediaControl() = default;
};

class IMediaEventEx {
 public:
  virtual HRESULT SetNotifyWindow(int32_t hwnd, int32_t message, int32_t instance) = 0;
  virtual HRESULT GetEvent(int32_t* code, intptr_t* p1, intptr_t* p2, int32_t timeout_ms) = 0;
  virtual HRESULT FreeEventParams(int32_t code, intptr_t p1, intptr_t p2) = 0;

 protected:
  ~IMediaEventEx() = default;
};

class IMediaSeeking {
 public:
  virtual HRESULT GetDuration(int64_t* units) = 0;
  virtual HRESULT GetCurrentPosition(int64_t* units) = 0;
  // Flags per position: AM_SEEKING_{No,Absolute,Relative,Incremental}Positioning, optionally
  // with SeekToKeyFrame (otherwise frame-accurate) and ReturnTime (the positions reached are
  // written back). Incremental applies to the stop position only (relative to the new current).
  virtual HRESULT SetPositions(int64_t* current, uint32_t current_flags, int64_t* stop,
                               uint32_t stop_flags) = 0;

 protected:
  ~IMediaSeeking() = default;
};

class IBasicAudio {
 public:
  // Hundredths of a decibel: 0 full, -10000 silent; E_INVALIDARG outside that range,
  // E_NOTIMPL when the graph renders no audio.
  virtual HRESULT put_Volume(int32_t hundredths_db) = 0;
  virtual HRESULT get_Volume(int32_t* hundredths_db) = 0;

 protected:
  ~IBasicAudio() = default;
};

class IVideoWindow {
 public:
  // Makes the video window a child of the X window `owner` of any process. E_FAIL when the
  // graph renders no video or `owner` does not exist.
  virtual HRESULT put_Owner(int32_t owner) = 0;
  virtual HRESULT put_WindowStyle(int32_t style) = 0;
  // Pixels, relative to the owner's top-left corner; the picture is scaled to fill the area.
  virtual HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) = 0;

 protected:
  ~IVideoWindow() = default;
};

class IBasicVideo2 {
 public:
  // The picture's display aspect ratio, reduced (640x360 square pixels: 16:9).
  virtual HRESULT GetPreferredAspectRatio(int32_t* x, int32_t* y) = 0;

 protected:
  ~IBasicVideo2() = default;
};

class FilterGraph final : public IGraphBuilder,
                          public IMediaFilter,
                          public IMediaControl,
                          public IMediaEventEx,
                          public IMediaSeeking,
                          public IBasicAudio,
                          public IVideoWindow,
                          public IBasicVideo2 {
 public:
  FilterGraph();
  ~FilterGraph();
  FilterGraph(const FilterGraph&) = delete;
  FilterGraph& operator=(const FilterGraph&) = delete;

  HRESULT AddFilter(GstElement* filter, const std::u16string& name) override;
  HRESULT RenderFile(const std::u16string& file_name) override;
  HRESULT SetSyncSource(GstClock* clock) override;

  HRESULT Run() override;
  HRESULT Pause() override;
  HRESULT Stop() override;

  HRESULT SetNotifyWindow(int32_t hwnd, int32_t message, int32_t instance) override;
  HRESULT GetEvent(int32_t* code, intptr_t* p1, intptr_t* p2, int32_t timeout_ms) override;
  HRESULT FreeEventParams(int32_t code, intptr_t p1, intptr_t p2) override;

  HRESULT GetDuration(int64_t* units) override;
  HRESULT GetCurrentPosition(int64_t* units) override;
  HRESULT SetPositions(int64_t* current, uint32_t current_flags, int64_t* stop,
                       uint32_t stop_flags) override;

  HRESULT put_Volume(int32_t hundredths_db) override;
  HRESULT get_Volume(int32_t* hundredths_db) override;

  HRESULT put_Owner(int32_t owner) override;
  HRESULT put_WindowStyle(int32_t style) override;
  HRESULT SetWindowPosition(int32_t left, int32_t top, int32_t width, int32_t height) override;

  HRESULT GetPreferredAspectRatio(int32_t* x, int32_t* y) override;

  // Drops data that was processed for the old play rate: unless stopped (then the next Pause
  // or Run does it), the graph is flushed and prerolled again at its current position.
  HRESULT DropQueuedData();

  // Where the picture that the video sink shows now ends (stream time): after a seek while
  // paused, the stop of the frame that the seek reached. E_FAIL before any picture.
  HRESULT GetShownFrameStop(int64_t* units);

  // The picture that the video sink shows now, in stream time (nanoseconds, not units: frame
  // times are rarely whole units). nominal_ns is the stream's frame period from its caps, 0
  // when the stream declares no fixed rate. The decoder clips a picture reached by a seek into
  // its middle to start at the seek's target: with a fixed rate start_ns is then the stop less
  // one period, without one it is that target.
  struct ShownFrame {
    int64_t start_ns = -1;
    int64_t stop_ns = -1;
    int64_t nominal_ns = 0;
  };
  // E_FAIL before any picture, or for a picture without time stamps.
  HRESULT GetShownFrame(ShownFrame* frame);

  bool has_video() const;
  bool has_audio() const;
  // True when an audio stream runs through a filter added with AddFilter.
  bool audio_through_filter() const;

 private:
  struct Branches;   // what RenderFile built; shared with the streaming threads
  struct Callbacks;  // the C callbacks that GStreamer calls on its threads

  void OnBusMessage(GstMessage* message);
  void OnStreamError();
  void LinkDecodedPad(GstPad* pad);
  bool LinkVideo(GstPad* pad, const GstStructure* caps);
  bool LinkAudio(GstPad* pad, bool to_filter);
  bool LinkThroughFilter(GstElement* from, GstElement* to);
  void LinkDiscard(GstPad* pad);
  bool WaitForPreroll(uint64_t since_async_done, uint64_t since_error);
  HRESULT SeekTo(int64_t position_units, int64_t stop_units, bool key_frame);
  HRESULT ShowKeptPosition();
  void RedrawLocked();  // with branches_->mutex held
  int64_t QueryPosition() const;

  GstElement* pipeline_ = nullptr;  // owned
  std::unique_ptr<Branches> branches_;
  std::unique_ptr<class VideoWindow> video_window_;
  EventQueue events_;

  // Written by the bus handler (any thread), waited for by the owner's thread.
  std::mutex bus_mutex_;
  std::condition_variable bus_changed_;
  uint64_t async_done_count_ = 0;  // guarded by bus_mutex_
  uint64_t error_count_ = 0;       // guarded by bus_mutex_

  bool render_tried_ = false;
  bool rendered_ = false;  // RenderFile succeeded: the graph plays
  bool stopped_ = true;    // held at kept_position_units_; the next Pause/Run seeks there
  bool playing_ = false;   // last state asked for was Run
  int64_t kept_position_units_ = 0;
  int64_t stop_units_ = -1;  // -1: the end of the movie
  int32_t volume_ = 0;
  int32_t window_style_ = 0;
  int32_t video_width_ = 0, video_height_ = 0;  // as placed by SetWindowPosition
};

}  // namespace quorvex::media
