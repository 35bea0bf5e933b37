#pragma once

// The media graph of one movie over GStreamer, in GStreamer's own terms: times in nanoseconds
// of stream time, bool results, std::optional where there may be no answer.
//
// Graph owns its pipeline. Every operation is called on the owner's thread (in the server: the
// main thread, which runs a Qt event loop); GStreamer's threads only queue events, hand over
// decoded pictures and draw them. Operations that change what is shown wait, bounded, until the
// new picture is on screen, so that a position read afterwards is the one reached.
//
// The picture path: the decoder's pictures pass a probe on their way to a short queue that
// decodes ahead while paused, and reach an application sink; the graph scales each picture it
// shows to the size it is drawn, draws it into the VideoWindow and keeps it in a PictureCache.
// While paused, the probe also keeps every picture that passes (those decoded ahead, and those
// a seek decodes from the key frame to its target), each with the span that its own time stamp
// and the next picture's give: the times of the stream, never of a nominal rate. A seek while
// paused starts at the key frame and lets through only the picture that covers its target, so
// nothing that it decodes is thrown away. Steps go from picture to picture in those times,
// from the cache when it has them and by such a seek otherwise; a BackFiller decodes the
// pictures before a paused position in the background, nearest first.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/EventQueue.h"
#include "platform/media/Picture.h"
#include "platform/media/PicturePath.h"

extern "C" {
typedef struct _GstElement GstElement;
typedef struct _GstClock GstClock;
typedef struct _GstMessage GstMessage;
typedef struct _GstPad GstPad;
typedef struct _GstSample GstSample;
typedef struct _GstStructure GstStructure;
typedef struct _GstSegment GstSegment;
typedef struct _GstCaps GstCaps;
typedef struct _GstPadProbeInfo GstPadProbeInfo;
}

namespace quorvex::media {

class BackFiller;
class IndexlessSeek;

class Graph {
 public:
  // Bytes of drawn pictures kept per movie for steps without decoding: 32 MiB holds 2.7 s of
  // 60 fps pictures drawn at 480x270 (a 4x4 grid of movies on a 1080p screen), 41 pictures at
  // 960x540 (I420: 12 bits a pixel).
  static constexpr size_t kDefaultCacheBytes = size_t(32) << 20;
  // How far before a paused position pictures are kept: those a seek decodes on its way from
  // the key frame, and those the BackFiller decodes.
  static constexpr int64_t kFillSpanNs = 2'000'000'000;
  // How far a paused movie's queue decodes ahead of the picture shown.
  static constexpr int64_t kDecodeAheadNs = 400'000'000;
  // More than a tick of any container's time scale: a seek this far before a picture's start
  // is not rounded onto it.
  static constexpr int64_t kSnapMarginNs = 50'000'000;

  // QUORVEX_STEPS_BY_SEEK=1 in the environment turns the cache and decoding on off: every step
  // is a flushing, accurate seek, as before them (for benchmarks that compare the two).
  Graph();
  ~Graph();
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  // Adds `filter` (the graph takes its own reference); decoded audio is offered to it as
  // interleaved S16 stereo or mono by Open. False when it is null or already in a bin.
  bool AddFilter(GstElement* filter, const std::string& name);
  // Builds decoders and sinks for the file at `path` (UTF-8) and prerolls (bounded): the first
  // picture is decoded once and held. False when it is not a playable movie or when called
  // again. Afterwards the graph is stopped at position 0.
  bool Open(const std::string& path);
  bool opened() const { return opened_; }
  // The pipeline's clock (the graph takes a reference).
  void UseClock(GstClock* clock);

  bool Play();
  bool Pause();
  // Holds the picture, keeps the position and drops queued data: a later Pause or Play
  // continues from the same picture.
  bool Stop();
  bool playing() const { return state_ == State::kPlaying; }

  // Shows the picture at `position_ns` (frame-accurate, or the key frame at or before it),
  // and plays up to `stop_ns` (nullopt: the end). While stopped it only moves the kept position.
  bool Seek(int64_t position_ns, std::optional<int64_t> stop_ns, bool key_frame);
  // Pauses and shows the picture `pictures` pictures after (negative: before) the one shown,
  // counted in the stream's own pictures; the position becomes that picture's start. Stops at
  // the first and the last picture; false when no picture was there to move to.
  bool StepPictures(int32_t pictures);
  // The play rate changed: pictures and sound processed for the old rate are dropped (the
  // graph is flushed and prerolled again at its position unless stopped).
  bool RateChanged();

  // While playing: the start of the picture on screen; otherwise the position reached.
  std::optional<int64_t> Position() const;
  std::optional<int64_t> Duration() const;
  std::optional<int64_t> stop() const { return stop_ns_; }

  // Linear volume 0..1 for every audio stream; false when the graph plays no audio.
  bool SetVolume(double linear);
  bool has_video() const;
  bool has_audio() const;
  bool audio_through_filter() const;

  // Makes the video a child of the X window `owner` of any process; false when the graph has
  // no video window or `owner` does not exist.
  bool SetOwner(int32_t owner);
  // Places the picture at (left, top) in the owner, scaled to width x height (at least 1).
  bool SetVideoArea(int32_t left, int32_t top, int32_t width, int32_t height);
  // Shows the part `crop` of the upright picture, cut from the decoded picture and scaled once
  // to the video area; kept until changed (steps, play, rate changes and resizes keep it). The
  // picture shown is made again at once: from the held picture, or, when it came from the cache,
  // by a keeping seek to it. The cache starts again with the new crop. False before Open.
  bool SetZoom(const Crop& crop);
  // The upright picture's display aspect ratio, reduced; false before a picture.
  bool AspectRatio(int32_t* x, int32_t* y) const;

  using Shown = PicturePath::Shown;
  // The picture on screen (or held, before it is drawn).
  std::optional<Shown> shown() const;

  // The end of the stream and streaming errors with their text; after a failed Open, the
  // errors that made it fail.
  EventQueue& events() { return events_; }
  PictureCache& cache() { return picture_path_->cache(); }
  // This movie's share of the pictures kept by all movies (never above kDefaultCacheBytes).
  void ShareCache(size_t bytes);
  // Number of pictures the application sink received (tests count decodes with it).
  uint64_t pictures_received() const;
  // Pictures the sink dropped for being late, and rendered, since the last flush.
  uint64_t pictures_dropped() const;
  // Waits until the background filling of the cache has ended (tests and benchmarks).
  bool WaitForCacheFill(int timeout_ms);

 private:
  // What the owner last asked for. Stopped: held at position_ns_, which the next Pause or Play
  // shows (by a seek unless in_sync_).
  enum class State { kStopped, kPaused, kPlaying };
  struct Branches;   // what Open built; shared with the streaming threads
  struct Callbacks;  // the C callbacks that GStreamer calls on its threads

  // Building (GraphBuild.cpp).
  void OnBusMessage(GstMessage* message);
  void OnStreamError();
  void LinkDecodedPad(GstPad* pad);
  bool LinkVideo(GstPad* pad);
  bool LinkAudio(GstPad* pad, const GstStructure* caps);
  bool LinkThroughFilter(GstElement* from, GstElement* to);
  void LinkDiscard(GstPad* pad);
  bool WaitForPreroll(uint64_t since_async_done, uint64_t since_error);
  bool BuildDecoding(bool software_only);
  bool UsesHardwareDecoder() const;
  void ForgetDecoding();
  // Lets the queue decode up to 0.4 s ahead, once the movie is first played or moved.
  void DecodeAhead();

  int OnDecodedSound(GstPad* pad, GstPadProbeInfo* info);
  // A paused movie's move to `position_ns` without decoding: false when the cache lacks it.
  bool ShowCached(int64_t position_ns);
  void FillCacheBefore();
  void ForgetPictures();
  // After a change of size or crop: the picture shown made again, the cache refilled.
  bool RedrawShown();

  // Stepping (Graph.cpp).
  std::optional<Shown> Neighbour(const Shown& from, bool forward);
  bool DecodeOnTo(int64_t probe);
  bool QueueFull() const;
  // An element of the branches Open built (null before), read under their lock.
  GstElement* Branch(GstElement* Branches::*element) const;
  bool SkipQueued();
  bool ShowPicture(const Shown& picture);

  bool SeekPipeline(int64_t position_ns, bool key_frame);
  bool SeekKeeping(int64_t position_ns, uint64_t stop);
  bool SeekKeepingFrom(int64_t position_ns, int64_t from_ns, uint64_t stop);
  bool Indexless();
  bool SeekIndexless(int64_t position_ns, uint64_t stop);
  bool Enter(State next);
  bool ShowKeptPosition();
  int64_t QueryPosition() const;
  // The start of the picture shown, when the graph has video and shows one.
  std::optional<int64_t> ShownStart() const;

  GstElement* pipeline_ = nullptr;  // owned
  std::unique_ptr<Branches> branches_;
  EventQueue events_;
  std::string path_;

  // Written by the bus handler (any thread), waited for by the owner's thread.
  std::mutex bus_mutex_;
  std::condition_variable bus_changed_;
  uint64_t async_done_count_ = 0;  // guarded by bus_mutex_
  uint64_t error_count_ = 0;       // guarded by bus_mutex_

  // The picture path: shared with the probe's and the sink's streaming threads.
  std::unique_ptr<PicturePath> picture_path_;
  std::atomic<int64_t> sound_target_ns_{-1};  // sound ending before it is dropped
  std::unique_ptr<BackFiller> filler_;
  std::unique_ptr<IndexlessSeek> indexless_;  // MPEG-TS only; made at the first seek
  bool indexless_looked_ = false;

  bool steps_by_seek_ = false;
  bool opened_ = false;
  bool open_tried_ = false;
  State state_ = State::kStopped;
  // The pipeline's sinks all stand at position_ns_ with nothing stale queued: Play may start
  // without a seek. A step served from the cache or by decoding on leaves the sound behind.
  bool in_sync_ = false;
  int64_t position_ns_ = 0;
  // Where the last keeping seek left the sink: the queue decodes ahead of it into the cache.
  std::optional<int64_t> ahead_from_ns_;
  // The first picture's start: nothing lies before it (MPEG-TS movies often start later than 0).
  int64_t first_picture_ns_ = 0;
  std::optional<int64_t> stop_ns_;
  double volume_ = 1.0;
};

}  // namespace quorvex::media
