#pragma once

// Decodes the pictures before a paused movie's position into its PictureCache, in the
// background, with a second decoding of the movie's file: the movie's own graph (and what it
// shows) is untouched. Backward steps then find their pictures in the cache.
//
// Owned and called by one thread (the graph's owner); the decoding runs on a worker thread of
// its own and on the GStreamer threads of its pipeline.

#include <gst/video/video.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/media/Picture.h"

namespace quorvex::media {

class BackFiller {
 public:
  BackFiller(std::string path, PictureCache* cache);
  ~BackFiller();  // cancels the fill and waits for the worker
  BackFiller(const BackFiller&) = delete;
  BackFiller& operator=(const BackFiller&) = delete;

  // Decodes the pictures from `from_ns` up to `to_ns` (stream time; a picture kept in the cache
  // starts there) into the cache at `width` x `height`, cut to `crop`, the stretch nearest
  // `to_ns` first, replacing any fill in progress. Its decoders are released when it ends.
  void Start(int64_t from_ns, int64_t to_ns, int32_t width, int32_t height, const Crop& crop = {});
  // Stops the fill in progress soon, without waiting for it: pictures it still makes are of
  // the cache's size and crop, or refused by the cache.
  void Cancel();
  // True while a fill is in progress (tests and benchmarks wait for it).
  bool busy() const;
  // Waits at most `timeout_ms` for the fill in progress to end; true when none is left.
  bool WaitIdle(int timeout_ms) const;

 private:
  struct Job {
    int64_t from_ns = 0, to_ns = 0;
    int32_t width = 0, height = 0;
    Crop crop;
  };
  void Work();
  void Fill(const Job& job);
  std::optional<int64_t> FillStretch(const Job& job, int64_t to_ns);
  void Release();
  bool BuildPipeline();
  bool Settle();
  bool Cancelled() const;

  const std::string path_;
  PictureCache* const cache_;
  GstElement* pipeline_ = nullptr;  // worker thread only
  GstElement* sink_ = nullptr;      // worker thread only; owned by pipeline_

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool has_job_ = false;      // guarded by mutex_
  Job job_;                   // guarded by mutex_
  bool working_ = false;      // guarded by mutex_
  uint64_t generation_ = 0;   // guarded by mutex_; a new job or a cancel moves it on
  uint64_t running_gen_ = 0;  // guarded by mutex_; the generation of the job being filled
  bool quit_ = false;         // guarded by mutex_
  std::thread worker_;
};

}  // namespace quorvex::media
