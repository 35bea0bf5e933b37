#include "platform/media/BackFiller.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string_view>

#include "platform/media/Decoding.h"
#include "platform/media/Graph.h"
#include "platform/media/Log.h"
#include "platform/media/PictureMaker.h"

namespace quorvex::media {
namespace {

constexpr GstClockTime kSliceNs = 50 * GST_MSECOND;
constexpr int kStateSlices = 200;  // 10 s

bool LinkTo(GstPad* pad, GstElement* element) {
  GstPad* sink = gst_element_get_static_pad(element, "sink");
  const bool linked = !gst_pad_is_linked(sink) && GST_PAD_LINK_SUCCESSFUL(gst_pad_link(pad, sink));
  gst_object_unref(sink);
  return linked;
}

// The first decoded picture stream goes to the pictures; anything else is dropped.
void LinkPad(GstElement*, GstPad* pad, gpointer data) {
  auto* pipeline = static_cast<GstElement*>(data);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps)
    caps = gst_pad_query_caps(pad, nullptr);
  const GstStructure* s = gst_caps_get_size(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
  const bool raw_video = s && std::string_view(gst_structure_get_name(s)) == "video/x-raw";
  gst_caps_unref(caps);
  if (raw_video) {
    GstElement* convert = gst_bin_get_by_name(GST_BIN(pipeline), "convert");
    const bool linked = convert && LinkTo(pad, convert);
    if (convert)
      gst_object_unref(convert);
    if (linked)
      return;
  }
  GstElement* discard = gst_element_factory_make("fakesink", nullptr);
  g_object_set(discard, "sync", FALSE, "async", FALSE, nullptr);
  gst_bin_add(GST_BIN(pipeline), discard);
  gst_element_sync_state_with_parent(discard);
  LinkTo(pad, discard);
}

}  // namespace

BackFiller::BackFiller(std::string path, PictureCache* cache)
    : path_(std::move(path)), cache_(cache), worker_([this] { Work(); }) {}

BackFiller::~BackFiller() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    ++generation_;
  }
  changed_.notify_all();
  worker_.join();
  if (pipeline_) {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
  }
}

void BackFiller::Start(int64_t from_ns, int64_t to_ns, int32_t width, int32_t height,
                       const Crop& crop) {
  {
    std::lock_guard lock(mutex_);
    job_ = {std::max<int64_t>(from_ns, 0), to_ns, width, height, crop};
    has_job_ = true;
    ++generation_;
  }
  changed_.notify_all();
}

void BackFiller::Cancel() {
  std::lock_guard lock(mutex_);
  has_job_ = false;
  ++generation_;
  changed_.notify_all();
}

bool BackFiller::busy() const {
  std::lock_guard lock(mutex_);
  return working_ || has_job_;
}

bool BackFiller::WaitIdle(int timeout_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [&] { return !working_ && !has_job_; });
}

bool BackFiller::Cancelled() const {
  std::lock_guard lock(mutex_);
  return quit_ || generation_ != running_gen_;
}

void BackFiller::Work() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [&] { return quit_ || has_job_; });
    if (quit_)
      return;
    const Job job = job_;
    has_job_ = false;
    working_ = true;
    running_gen_ = generation_;
    lock.unlock();
    Fill(job);
    lock.lock();
    working_ = false;
    changed_.notify_all();
  }
}

// Waits for a state change in slices, so that a cancelled fill lets go at once.
bool BackFiller::Settle() {
  for (int i = 0; i < kStateSlices && !Cancelled(); ++i) {
    const GstStateChangeReturn r = gst_element_get_state(pipeline_, nullptr, nullptr, kSliceNs);
    if (r == GST_STATE_CHANGE_SUCCESS || r == GST_STATE_CHANGE_NO_PREROLL)
      return true;
    if (r == GST_STATE_CHANGE_FAILURE)
      return false;
  }
  return false;
}

bool BackFiller::BuildPipeline() {
  if (pipeline_)
    return true;
  pipeline_ = gst_pipeline_new("backfill");
  GstElement* source = gst_element_factory_make("filesrc", nullptr);
  // Sound is of no use here: it stays encoded and is dropped. One decoding thread: the fill
  // leaves the other core to the graph's own decoding (a step that misses decodes at once), and
  // holds one thread's pictures in memory instead of one set a core.
  GstElement* decoder = MakeDecoder({.what = Decode::kPictures, .threads = 1});
  GstElement* convert = gst_element_factory_make("videoconvert", "convert");
  GstElement* flip = gst_element_factory_make("videoflip", nullptr);
  sink_ = gst_element_factory_make("appsink", nullptr);
  if (!source || !decoder || !convert || !flip || !sink_)
    return false;
  g_object_set(source, "location", path_.c_str(), nullptr);
  gst_util_set_object_arg(G_OBJECT(flip), "video-direction", "auto");
  GstCaps* raw = gst_caps_from_string("video/x-raw");
  g_object_set(sink_, "sync", FALSE, "max-buffers", 2u, "caps", raw, nullptr);
  gst_caps_unref(raw);
  g_signal_connect(decoder, "pad-added", G_CALLBACK(&LinkPad), pipeline_);
  gst_bin_add_many(GST_BIN(pipeline_), source, decoder, convert, flip, sink_, nullptr);
  return gst_element_link(source, decoder) && gst_element_link_many(convert, flip, sink_, nullptr);
}

// Nearest first: one stretch at a time from its key frame up to where the pictures already
// kept begin, then the stretch before it, until `from_ns` is reached. Each picture ends where
// the next begins; the last of a stretch ends at the stretch's end, where the next is kept.
void BackFiller::Fill(const Job& job) {
  if (!BuildPipeline())
    return;
  if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
      !Settle()) {
    Release();
    return;
  }
  int64_t to = job.to_ns;
  while (to > job.from_ns && !Cancelled()) {
    const std::optional<int64_t> first = FillStretch(job, to);
    if (!first || *first >= to)
      break;
    to = *first;
  }
  Release();
}

// Decodes the stretch from the key frame before `to_ns` up to `to_ns`; the start of
// its first picture, or nullopt when it failed or was cancelled.
std::optional<int64_t> BackFiller::FillStretch(const Job& job, int64_t to_ns) {
  gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT |
                                  GST_SEEK_FLAG_SNAP_BEFORE);
  // A little before the stretch's end: the demuxer may round a time onto the next tick of its
  // time scale, which would be the key frame at `to_ns` itself.
  const int64_t seek_ns = std::max<int64_t>(to_ns - Graph::kSnapMarginNs, 0);
  if (!gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                        GstClockTime(seek_ns), GST_SEEK_TYPE_SET, GstClockTime(to_ns)) ||
      !Settle())
    return std::nullopt;
  gst_element_set_state(pipeline_, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline_);
  PictureMaker maker;
  std::optional<int64_t> first;
  GstSample* before = nullptr;  // the last picture, until the next one closes its span
  int64_t before_start = 0;
  const auto keep = [&](int64_t stop_ns) {
    int64_t start = 0, duration = 0;
    if (before && before_start >= job.from_ns && stop_ns > before_start &&
        PictureMaker::Times(before, &start, &duration)) {
      if (auto picture = maker.Make(before, job.width, job.height, job.crop)) {
        picture->start_ns = before_start;
        picture->duration_ns = stop_ns - before_start;
        cache_->Insert(std::move(picture), job.to_ns);
      }
    }
    if (before)
      gst_sample_unref(before);
    before = nullptr;
  };
  bool ended = false;
  while (!Cancelled()) {
    if (GstMessage* error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
      GError* reason = nullptr;
      gst_message_parse_error(error, &reason, nullptr);
      GST_CAT_INFO(BackFillLog(), "%s: fill ends: %s", path_.c_str(),
                   reason ? reason->message : "");
      g_clear_error(&reason);
      gst_message_unref(error);  // a damaged file: what was kept stays, the fill ends
      break;
    }
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), kSliceNs);
    if (!sample) {
      if ((ended = gst_app_sink_is_eos(GST_APP_SINK(sink_))))
        break;
      continue;
    }
    int64_t start = 0, duration = 0;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    // Without an index the demuxer may start in the middle of a stretch: pictures before its
    // first key frame lack their references and are not kept.
    const bool usable = PictureMaker::Times(sample, &start, &duration) && start < to_ns &&
                        (first || !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT));
    if (!usable || (before && start <= before_start)) {
      gst_sample_unref(sample);
      continue;
    }
    if (!first)
      first = start;
    keep(start);
    before = sample;
    before_start = start;
  }
  keep(to_ns);
  gst_object_unref(bus);
  return ended ? first : std::nullopt;
}

// Decoders and their pictures go while nothing is asked of the filler. The fill is when the
// memory of a paused movie settles: the pictures its decoder, the graph's queue and the cache
// freed lie in the heaps as holes that malloc keeps (30 MB with one 1080p movie), given back to
// the system here.
void BackFiller::Release() {
  if (pipeline_)
    gst_element_set_state(pipeline_, GST_STATE_NULL);
  malloc_trim(0);
}

}  // namespace quorvex::media
