#include "engine/StartSoundFinder.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "audio/StartSoundDetector.h"
#include "engine/Log.h"
#include "platform/media/Decoding.h"

namespace quorvex {

namespace {

constexpr auto kStateLimit = std::chrono::seconds(10);
// How soon the worker sees a cancellation, in every wait: well within the 100 ms the owner may
// wait for it.
constexpr GstClockTime kSliceNs = 20 * GST_MSECOND;

using Status = StartSoundFinder::Status;
using State = StartSoundFinder::State;

// The search pipeline: file -> decodebin (sound decoded, everything else left encoded and
// dropped) -> mono floats -> appsink. Owns its references.
struct Pipeline {
  GstElement* pipeline = nullptr;
  GstElement* convert = nullptr;
  GstAppSink* sink = nullptr;
  std::mutex mutex;  // guards decoders: streaming threads add to it
  std::vector<std::string> decoders;
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

// Names the decoders plugged into the search pipeline.
void OnElementAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
  GstElementFactory* factory = gst_element_get_factory(element);
  const gchar* klass =
      factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : nullptr;
  if (klass && std::string_view(klass).find("Decoder") != std::string_view::npos) {
    auto* p = static_cast<Pipeline*>(data);
    std::lock_guard lock(p->mutex);
    p->decoders.push_back(GST_OBJECT_NAME(factory));
  }
}

// The text of the oldest error the pipeline posted, taken off its bus; nullopt without one.
std::optional<std::string> TakeError(GstElement* pipeline) {
  if (!pipeline)
    return std::nullopt;
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  gst_object_unref(bus);
  if (!message)
    return std::nullopt;
  GError* error = nullptr;
  gst_message_parse_error(message, &error, nullptr);
  std::string text = error ? error->message : "";
  g_clear_error(&error);
  gst_message_unref(message);
  return text;
}

bool Build(Pipeline& p, const std::string& path) {
  p.pipeline = gst_pipeline_new(nullptr);
  GstElement* source = gst_element_factory_make("filesrc", nullptr);
  // Pictures are not decoded: their encoded data goes to a fake sink. A search over 16 movies
  // would otherwise decode 16 movies' pictures.
  GstElement* decode = media::MakeDecoder({.what = media::Decode::kSound});
  p.convert = gst_element_factory_make("audioconvert", nullptr);
  GstElement* sink = gst_element_factory_make("appsink", nullptr);
  if (!p.pipeline || !source || !decode || !p.convert || !sink)
    return false;  // (elements made but not added leak only when the installation is broken)
  gst_bin_add_many(GST_BIN(p.pipeline), source, decode, p.convert, sink, nullptr);
  p.sink = GST_APP_SINK(sink);
  g_object_set(source, "location", path.c_str(), nullptr);
  GstCaps* mono = gst_caps_from_string("audio/x-raw,format=F32LE,channels=1,layout=interleaved");
  // Unsynchronised: the sound is read as fast as it decodes. A few buffers ahead at most.
  g_object_set(sink, "caps", mono, "sync", FALSE, "max-buffers", 16u, nullptr);
  gst_caps_unref(mono);
  g_signal_connect(decode, "pad-added", G_CALLBACK(OnPadAdded), &p);
  g_signal_connect(p.pipeline, "deep-element-added", G_CALLBACK(OnElementAdded), &p);
  return gst_element_link(source, decode) && gst_element_link(p.convert, sink);
}

// Waits for the state change to complete, in slices, ending early when `cancel` is set.
bool WaitForState(GstElement* pipeline, const std::atomic<bool>& cancel) {
  const auto deadline = std::chrono::steady_clock::now() + kStateLimit;
  while (!cancel && std::chrono::steady_clock::now() < deadline) {
    switch (gst_element_get_state(pipeline, nullptr, nullptr, kSliceNs)) {
      case GST_STATE_CHANGE_SUCCESS:
        return true;
      case GST_STATE_CHANGE_ASYNC:
        continue;
      default:
        return false;
    }
  }
  return false;
}

// Feeds one decoded buffer; sound before `start_ns` is left out. Each buffer is fed with its own
// stream time, so that the onset's time follows the buffers' times across gaps in the sound (a
// buffer without a time continues where the one before ended). Sets `refused` for a rate the
// detector cannot window.
std::optional<int64_t> FeedSample(GstSample* sample,
                                  std::optional<audio::StartSoundDetector>& detector,
                                  int64_t start_ns, int64_t& next_ns, bool& refused) {
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  const GstSegment* segment = gst_sample_get_segment(sample);
  GstCaps* caps = gst_sample_get_caps(sample);
  int rate = 0;
  if (!buffer || !segment || !caps ||
      !gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &rate) || rate <= 0)
    return std::nullopt;
  if (!audio::StartSoundDetector::SupportsRate(rate) ||
      (detector && detector->sample_rate() != rate)) {
    refused = true;  // no window fits this rate, or it changed under the detector's history
    return std::nullopt;
  }
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
    return std::nullopt;
  std::span<const float> samples(reinterpret_cast<const float*>(map.data),
                                 map.size / sizeof(float));
  const guint64 at = gst_segment_to_stream_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
  int64_t at_ns = at == GST_CLOCK_TIME_NONE ? next_ns : int64_t(at);
  if (at_ns < start_ns) {
    const int64_t skip = int64_t(std::ceil(double(start_ns - at_ns) * rate / 1e9));
    samples = samples.subspan(std::min<size_t>(size_t(skip), samples.size()));
    at_ns += int64_t(std::llround(double(skip) * 1e9 / rate));
  }
  next_ns = at_ns + int64_t(std::llround(double(samples.size()) * 1e9 / rate));
  std::optional<int64_t> onset;
  if (!samples.empty()) {  // wholly before the start: the next buffer begins the search
    if (!detector)
      detector.emplace(rate);
    onset = detector->FeedAt(samples, at_ns);
  }
  gst_buffer_unmap(buffer, &map);
  return onset;
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

void StartSoundFinder::Start(const std::u16string& file_name, int64_t start_ns) {
  Cancel();
  gchar* utf8 = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(file_name.data()),
                                glong(file_name.size()), nullptr, nullptr, nullptr);
  {
    std::lock_guard lock(mutex_);
    status_ = {utf8 ? State::kRunning : State::kFailed, 0};
  }
  if (!utf8)
    return;
  worker_ = std::thread(&StartSoundFinder::Work, this, std::string(utf8), start_ns);
  g_free(utf8);
}

StartSoundFinder::Status StartSoundFinder::status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

std::vector<std::string> StartSoundFinder::decoders() const {
  std::lock_guard lock(mutex_);
  return decoders_;
}

void StartSoundFinder::Work(std::string path, int64_t start_ns) {
  const Status result = Search(path, start_ns);
  std::lock_guard lock(mutex_);
  status_ = result;
}

StartSoundFinder::Status StartSoundFinder::Search(const std::string& path, int64_t from_ns) {
  Pipeline p;
  const int64_t start_ns = std::max<int64_t>(from_ns, 0);
  // Whatever ends the search, the decoders it plugged are told.
  struct Publish {
    StartSoundFinder* finder;
    Pipeline& p;
    ~Publish() {
      std::scoped_lock lock(finder->mutex_, p.mutex);
      finder->decoders_ = p.decoders;
    }
  } publish{this, p};
  // A failure says why in the log: the step that failed, and the decoder's own words.
  const auto failed = [&](const char* step) {
    if (cancel_)
      return Status{State::kIdle, 0};
    const std::optional<std::string> error = TakeError(p.pipeline);
    qCWarning(EngineLog).noquote()
        << "the start-sound search in" << QString::fromStdString(path) << "failed:" << step
        << (error ? "(" + QString::fromStdString(*error) + ")" : "");
    return Status{State::kFailed, 0};
  };
  if (!Build(p, path))
    return failed("a GStreamer element is missing");
  if (gst_element_set_state(p.pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
      !WaitForState(p.pipeline, cancel_))
    return failed("its sound could not be decoded");
  const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
  if (start_ns > 0 &&
      (cancel_ || !gst_element_seek_simple(p.pipeline, GST_FORMAT_TIME, flags, start_ns) ||
       !WaitForState(p.pipeline, cancel_)))
    return failed("the seek to the starting position failed");
  gst_element_set_state(p.pipeline, GST_STATE_PLAYING);
  std::optional<audio::StartSoundDetector> detector;  // made at the first buffer: its rate
  int64_t next_ns = start_ns;
  bool refused = false;
  while (!cancel_) {
    GstSample* sample = gst_app_sink_try_pull_sample(p.sink, kSliceNs);
    if (!sample) {
      if (gst_app_sink_is_eos(p.sink))
        return {State::kNotFound, 0};
      if (const std::optional<std::string> error = TakeError(p.pipeline)) {
        qCWarning(EngineLog).noquote()
            << "the start-sound search in" << QString::fromStdString(path)
            << "failed:" << QString::fromStdString(*error);
        return {State::kFailed, 0};
      }
      continue;
    }
    const std::optional<int64_t> onset_ns =
        FeedSample(sample, detector, start_ns, next_ns, refused);
    gst_sample_unref(sample);
    if (refused)
      return failed("its sound came in a format that cannot be searched");
    if (onset_ns)
      return {State::kFound, *onset_ns};
    if (detector && detector->samples_fed() >= kSearchNs / GST_SECOND * detector->sample_rate())
      return {State::kNotFound, 0};
  }
  return {State::kIdle, 0};  // cancelled: the next Start overwrites it
}

}  // namespace quorvex
