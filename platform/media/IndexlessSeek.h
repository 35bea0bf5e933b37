#pragma once

// Internal to Graph. Frame-accurate seeks in MPEG-TS, which has no index.
//
// The demuxer answers an accurate seek to T by reading from its byte estimate of T - 2.5 s,
// walking back from there to the first key frame, and reporting a segment from T: the decoder
// then decodes everything from that key frame on and drops it up to T, 75 to 150 pictures and
// more per seek, whatever its size or direction. Here the seek asks for T + 2.5 s - kLeadNs
// instead, so that the demuxer starts at the last key frame shortly before T, and the segment
// it reports is moved back to T on its way out of the demuxer: the pictures from T on are shown,
// the ones before it are decoded and dropped as before, only far fewer. Whether it landed is
// checked by the caller (the picture shown must be T's); if not, it seeks the ordinary way.

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace quorvex::media {

class IndexlessSeek {
 public:
  // How far before the target the demuxer is asked to start: its byte estimate errs both
  // ways, and a start after the target's key frame finds the next one, which misses.
  static constexpr int64_t kLeadNs = 400 * GST_MSECOND;

  // For the pipeline's MPEG-TS demuxer, once it has its streams; null for other movies.
  // Called on the owner's thread; the result watches the demuxer's source pads until it goes.
  static std::unique_ptr<IndexlessSeek> For(GstElement* pipeline);
  ~IndexlessSeek();
  IndexlessSeek(const IndexlessSeek&) = delete;
  IndexlessSeek& operator=(const IndexlessSeek&) = delete;

  // Sends the flushing, accurate seek that shows `target_ns` (until `stop`) through `pipeline`.
  // False when it could not be sent. Targets closer to the start than the demuxer's own
  // backing off gain nothing and are refused (false, nothing sent).
  bool Send(GstElement* pipeline, int64_t target_ns, GstClockTime stop);
  // The seek's segment has passed (or never will): later segments are left as they are.
  void Disarm();

 private:
  IndexlessSeek() = default;
  static GstPadProbeReturn OnEvent(GstPad* pad, GstPadProbeInfo* info, gpointer self);

  std::vector<std::pair<GstPad*, gulong>> probes_;  // pads owned (a reference each)
  std::mutex mutex_;
  // The segment start the seek asked for, and the target it stands for; -1: none armed.
  int64_t asked_ns_ = -1;  // guarded by mutex_
  int64_t target_ns_ = 0;  // guarded by mutex_
};

}  // namespace quorvex::media
