#pragma once

// The way of one movie's decoded pictures to the screen and into the cache, and everything
// that GStreamer's threads and the owner's thread share about them, under one lock.
//
// The decoder's pictures pass a probe (OnDecoded) on their way to the queue before the
// application sink: every picture closes the span of the one before it, in the stream's own
// times, and while the movie is paused the closed picture is scaled to the size it is drawn and
// kept in the cache. During a seek that keeps what it decodes, the probe holds back the
// pictures up to the target and lets through only the one that covers it. The sink hands
// over (OnSample) the picture it holds, which is drawn into the VideoWindow unless the cache
// already has it as drawn. The graph decides what to show; this class knows what was decoded,
// what is held and what is on screen.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/media/Picture.h"

extern "C" {
typedef struct _GstPad GstPad;
typedef struct _GstPadProbeInfo GstPadProbeInfo;
typedef struct _GstSample GstSample;
typedef struct _GstCaps GstCaps;
typedef struct _GstSegment GstSegment;
}

namespace quorvex::media {

class VideoWindow;
class PictureMaker;

class PicturePath {
 public:
  struct Shown {
    // The picture's own start and its span up to the next picture (the container's duration
    // for the last one, or where the next is not known yet).
    int64_t start_ns = 0, duration_ns = 0;
    int64_t nominal_ns = 0;  // one frame at the stream's fixed rate; 0 when it has none
    int64_t stop_ns() const { return start_ns + duration_ns; }
  };

  // `window` may be null (no display): pictures are then only counted and timed.
  PicturePath(std::unique_ptr<VideoWindow> window, size_t cache_bytes);
  ~PicturePath();
  PicturePath(const PicturePath&) = delete;
  PicturePath& operator=(const PicturePath&) = delete;

  // ---- GStreamer's threads ----
  // The probe on the queue's sink pad (buffers and downstream events); a GstPadProbeReturn.
  int OnDecoded(GstPad* pad, GstPadProbeInfo* info);
  // The application sink's preroll and played samples, and its end of stream.
  void OnSample(GstSample* sample);
  void OnEnd();

  // ---- The owner's thread ----
  VideoWindow* window() const { return window_.get(); }
  PictureCache& cache() { return cache_; }
  std::optional<Shown> shown() const;
  // The start of the picture put on screen since the last Play began, if one was.
  std::optional<int64_t> ShownSincePlay() const;
  // The sample the sink holds (a new reference; null when none).
  GstSample* Held() const;
  uint64_t received() const;

  // The pipeline's decoding was torn down: nothing is held, shown or ended.
  void Reset();
  // A flushing seek begins: the old stream's end and targets no longer apply, and the sink
  // draws again what it holds.
  void SeekBegins();
  // The next flush starts a seek that keeps what it decodes from `keep_from_ns` on and lets
  // through the picture that covers `target_ns`.
  void ArmTarget(int64_t target_ns, int64_t keep_from_ns, bool keep);
  // After that seek's preroll: the running time of the picture let through, when one was
  // (the pipeline's start time belongs there, so that a Play starts at once).
  std::optional<uint64_t> TargetReached();
  // Paused at `position_ns`: what passes the probe is kept (`keep`), nearest that position.
  void KeepAround(int64_t position_ns, bool keep);
  // Playing: the sink keeps what it draws; the probe keeps nothing.
  void PlayBegins();
  // The sink is about to drop pictures it holds (kept already): it does not draw them.
  void Quiet();

  // Draws the cached picture that covers `position_ns`; false when the cache lacks it.
  bool ShowCached(int64_t position_ns);
  // True when no picture lies after `probe`: the sink reached the end, or the decoder ended
  // before reaching it (`ahead`: the pictures decoded ahead of a keeping seek are this stream's).
  bool EndedBefore(int64_t probe, bool ahead) const;
  // Waits until a picture after `probe` passed the probe (the one at `probe` is then kept),
  // calling `make_room` whenever the decoder waits; false when `probe` lies more than
  // `reach_ns` beyond what was decoded since `from_ns`, or the decoder stalls.
  bool WaitDecodedPast(int64_t probe, int64_t from_ns, int64_t reach_ns,
                       const std::function<void()>& make_room);

  // The size pictures are drawn at; true when it changed (the cache is then emptied).
  bool SetArea(int32_t width, int32_t height);
  bool Area(int32_t* width, int32_t* height) const;
  // The part of the decoded picture that is shown, cut before the scaling; true when it
  // changed (the cache is then emptied).
  bool SetCrop(const Crop& crop);
  Crop crop() const;
  // Draws the held picture again at the current size; false when the picture shown is not
  // the one held (it came from the cache) and must be decoded again.
  bool RedrawHeld();
  // Empties the cache (pictures drawn for another size or rate).
  void ForgetCached();

 private:
  void CloseSpanLocked(int64_t next_start_ns);
  bool HoldBackLocked(GstSample* sample, int64_t start_ns, GstSample** let_through);
  void ForgetDecodedLocked();
  void PresentLocked(GstSample* sample);
  void DrawLocked(const Picture& picture);

  const std::unique_ptr<VideoWindow> window_;
  const std::unique_ptr<PictureMaker> maker_;  // used under mutex_
  PictureCache cache_;

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  GstSample* held_ = nullptr;                 // guarded by mutex_; the sink's latest
  std::optional<Shown> shown_;                // guarded by mutex_
  bool shown_since_play_ = false;             // guarded by mutex_
  uint64_t received_ = 0;                     // guarded by mutex_
  bool end_of_pictures_ = false;              // guarded by mutex_
  int32_t area_width_ = 0, area_height_ = 0;  // guarded by mutex_
  Crop crop_;                                 // guarded by mutex_
  // What the probe knows of the decoded pictures (its streaming thread, the owner's thread
  // when a seek begins). A picture's span is closed when the next one passes.
  GstCaps* decoded_caps_ = nullptr;        // guarded by mutex_
  GstSegment* decoded_segment_ = nullptr;  // guarded by mutex_; owned
  GstSample* unclosed_ = nullptr;          // guarded by mutex_; the last one passed
  bool keeping_ = false;                   // guarded by mutex_; paused: cache them
  int64_t keep_from_ns_ = 0;               // guarded by mutex_
  int64_t keep_near_ns_ = 0;               // guarded by mutex_; what stays longest
  // A seek that keeps what it decodes: pictures up to the target are held back, and the last
  // of them is let through once the next one shows that it covers the target.
  std::optional<int64_t> target_ns_;       // guarded by mutex_
  std::optional<int64_t> next_target_ns_;  // guarded by mutex_; armed by its flush
  // The latest picture that passed (its start), and whether the stream ended behind it.
  int64_t decoded_until_ns_ = -1;     // guarded by mutex_
  bool decoded_end_ = false;          // guarded by mutex_
  bool key_seen_ = false;             // guarded by mutex_; since the flush
  bool quiet_ = false;                // guarded by mutex_
  GstSample* covering_ = nullptr;     // guarded by mutex_
  std::optional<Shown> let_through_;  // guarded by mutex_; its exact span
  uint64_t let_through_running_ns_ = 0;  // guarded by mutex_
  std::atomic<bool> injecting_{false};   // the probe's streaming thread
};

}  // namespace quorvex::media
