#include "engine/StartSoundFinder.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <cmath>
#include <optional>
#include <span>

#include "audio/StartSoundDetector.h"

namespace quorvex {

namespace {

constexpr int64_t kNsPerUnit = 100;
constexpr GstClockTime kStateLimitNs = 10 * GST_SECOND;
constexpr GstClockTime kPullLimitNs = 100 * GST_MSECOND;  // how soon a cancellation is seen

using Status = StartSoundFinder::Status;
using State = StartSoundFinder::State;

// The search pipeline: file -> decodebin (sound decoded, everything else left encoded and
// dropped) -> mono floats -> appsink. Owns its references.
struct Pipeline {
  GstElement* pipeline = nullptr;
  GstElement* convert = nullptr;
  GstAppSink* sink = nullptr;
  ~Pipeline() {
    if (pipeline) {
      gst_element_set_state(pipeline, GST_STATE_NULL);
      gst_object_unref(pipeline);
    }
  }
};

void DropPad(GstElement* pipeline, GstPad* pad) {
  // A stream nobody takes would stop a demuxer that feeds both from one thread.
  GstElement* sink = gst_element_factory_make("fakesink", nullptr);
  g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
  gst_bin_add(GST_BIN(pipeline), sink);
  gst_element_sync_state_with_parent(sink);
  GstPad* sink_pad = gst_element_get_static_pad(sink, "sink");
  gst_pad_link(pad, sink_pad);
  gst_object_unref(sink_pad);
}

// decodebin's streaming thread: the first raw sound stream goes to the converter.
void OnPadAdded(GstElement* /*decodebin*/, GstPad* pad, gpointer data) {
  auto* p = static_cast<Pipeline*>(data);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (!caps)
    caps = gst_pad_query_caps(pad, nullptr);
  const bool raw_audio = caps && gst_caps_get_size(caps) > 0 &&
                         gst_structure_has_name(gst_caps_get_structure(caps, 0), "audio/x-raw");
  if (caps)
    gst_caps_unref(caps);
  GstPad* convert_pad = gst_element_get_static_pad(p->convert, "sink");
  if (raw_audio && !gst_pad_is_linked(convert_pad)) {
    gst_pad_link(pad, convert_pad);
  } else {
    DropPad(p->pipeline, pad);
  }
  gst_object_unref(convert_pad);
}

bool Build(Pipeline& p, const std::string& path) {
  p.pipeline = gst_pipeline_new(nullptr);
  GstElement* source = gst_element_factory_make("filesrc", nullptr);
  GstElement* decode = gst_element_factory_make("decodebin", nullptr);
  p.convert = gst_element_factory_make("audioconvert", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  if (!p.pipeline || !source || !decode || !p.convert || !sink)
    return false;  // (elements made but not added leak only when the installation is broken)
  gst_bin_add_many(GST_BIN(p.pipeline), source, decode, p.convert, sink, nullptr);
  p.sink = GST_APP_SINK(sink);
  g_object_set(source, "location", path.c_str(), nullptr);
  GstCaps* audio_only = gst_caps_from_string("audio/x-raw");
  g_object_set(decode, "caps", audio_only, nullptr);
  gst_caps_unref(audio_only);
  GstCaps* mono = gst_caps_from_string("audio/x-raw,format=F32LE,channels=1,layout=interleaved");
  // Unsynchronised: the sound is read as fast as it decodes. A few buffers ahead at most.
  g_object_set(sink, "caps", mono, "sync", FALSE, "max-buffers", 16u, nullptr);
  gst_caps_unref(mono);
  g_signal_connect(decode, "pad-added", G_CALLBACK(OnPadAdded), &p);
  return gst_element_link(source, decode) && gst_element_link(p.convert, sink);
}

bool WaitForState(GstElement* pipeline) {
  return gst_element_get_state(pipeline, nullptr, nullptr, kStateLimitNs) ==
         GST_STATE_CHANGE_SUCCESS;
}

bool HasError(GstElement* pipeline) {
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  gst_object_unref(bus);
  if (error)
    gst_message_unref(error);
  return error != nullptr;
}

// Feeds one decoded buffer; sound before `start_ns` is left out. Sets `origin_ns`, the stream
// time of the detector's sample 0, at the first sample fed.
std::optional<int64_t> FeedSample(GstSample* sample,
                                  std::optional<audio::StartSoundDetector>& detector,
                                  int64_t start_ns, int64_t& origin_ns) {
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  const GstSegment* segment = gst_sample_get_segment(sample);
  GstCaps* caps = gst_sample_get_caps(sample);
  int rate = 0;
  if (!buffer || !segment || !caps ||
      !gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &rate) || rate <= 0)
    return std::nullopt;
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
    return std::nullopt;
  std::span<const float> samples(reinterpret_cast<const float*>(map.data),
                                 map.size / sizeof(float));
  if (!detector) {
    const guint64 at = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    const int64_t at_ns = at == GST_CLOCK_TIME_NONE ? start_ns : int64_t(at);
    const int64_t skip =
        at_ns < start_ns ? int64_t(std::ceil(double(start_ns - at_ns) * rate / 1e9)) : 0;
    samples = samples.subspan(std::min<size_t>(size_t(skip), samples.size()));
    origin_ns = at_ns + int64_t(std::llround(double(skip) * 1e9 / rate));
    if (samples.empty()) {
      gst_buffer_unmap(buffer, &map);
      return std::nullopt;  // wholly before the start: the next buffer begins the search
    }
    detector.emplace(rate);
  }
  std::optional<int64_t> onset = detector->Feed(samples);
  gst_buffer_unmap(buffer, &map);
  if (!onset)
    return std::nullopt;
  return origin_ns + int64_t(std::llround(double(*onset) * 1e9 / detector->sample_rate()));
}

}  // namespace

StartSoundFinder::StartSoundFinder() {
  gst_init_check(nullptr, nullptr, nullptr);
}

StartSoundFinder::~StartSoundFinder() {
  Cancel();
}

void StartSoundFinder::Cancel() {
  cancel_ = true;
  if (worker_.joinable())
    worker_.join();
  cancel_ = false;
}

void StartSoundFinder::Start(const std::u16string& file_name, int64_t start_units) {
  Cancel();
  gchar* utf8 = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(file_name.data()),
                                glong(file_name.size()), nullptr, nullptr, nullptr);
  {
    std::lock_guard lock(mutex_);
    status_ = {utf8 ? State::kRunning : State::kFailed, 0};
  }
  if (!utf8)
    return;
  worker_ = std::thread(&StartSoundFinder::Work, this, std::string(utf8), start_units);
  g_free(utf8);
}

StartSoundFinder::Status StartSoundFinder::status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

void StartSoundFinder::Work(std::string path, int64_t start_units) {
  const Status result = Search(path, start_units);
  std::lock_guard lock(mutex_);
  status_ = result;
}

StartSoundFinder::Status StartSoundFinder::Search(const std::string& path, int64_t start_units) {
  Pipeline p;
  const int64_t start_ns = std::max<int64_t>(start_units, 0) * kNsPerUnit;
  if (!Build(p, path) ||
      gst_element_set_state(p.pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
      !WaitForState(p.pipeline))
    return {State::kFailed, 0};
  const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
  if (start_ns > 0 && (!gst_element_seek_simple(p.pipeline, GST_FORMAT_TIME, flags, start_ns) ||
                       !WaitForState(p.pipeline)))
    return {State::kFailed, 0};
  gst_element_set_state(p.pipeline, GST_STATE_PLAYING);
  std::optional<audio::StartSoundDetector> detector;  // made at the first buffer: its rate
  int64_t origin_ns = start_ns;
  while (!cancel_) {
    GstSample* sample = gst_app_sink_try_pull_sample(p.sink, kPullLimitNs);
    if (!sample) {
      if (gst_app_sink_is_eos(p.sink))
        return {State::kNotFound, 0};
      if (HasError(p.pipeline))
        return {State::kFailed, 0};
      continue;
    }
    const std::optional<int64_t> onset_ns = FeedSample(sample, detector, start_ns, origin_ns);
    gst_sample_unref(sample);
    if (onset_ns)
      return {State::kFound, *onset_ns / kNsPerUnit};
    if (detector &&
        detector->samples_fed() >= kSearchUnits / 10'000'000LL * detector->sample_rate())
      return {State::kNotFound, 0};
  }
  return {State::kIdle, 0};  // cancelled: the next Start overwrites it
}

}  // namespace quorvex
