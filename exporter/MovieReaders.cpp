#include "exporter/MovieReaders.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "audio/gst/PitchShiftElement.h"
#include "platform/media/Decoding.h"

namespace quorvex::exporter {

namespace {

// Decoding a picture takes far less; a pipeline silent for this long is stuck.
constexpr GstClockTime kStallTimeout = 60 * GST_SECOND;
constexpr GstClockTime kPullSlice = 200 * GST_MSECOND;
// A picture that starts this little after the wanted position is taken as starting at it:
// positions read back from lap files lose the last nanoseconds in their decimals.
constexpr int64_t kStartSlackNs = 1000;
// The pitch shifter's output lags its input by its input queue: a transform of 4096 frames
// less the hop of 1024 between transforms (4 per transform), before the filter stretches it.
constexpr int64_t kShifterDelayFrames = 4096 - 4096 / 4;
constexpr char kNoStream[] = "quorvex-no-stream";

GstElement* Make(const char* factory) {
  return gst_element_factory_make(factory, nullptr);
}

}  // namespace

std::string ErrorText(GstMessage* message) {
  GError* error = nullptr;
  gchar* debug = nullptr;
  gst_message_parse_error(message, &error, &debug);
  std::string text = error ? error->message : "unknown error";
  g_clear_error(&error);
  g_free(debug);
  return text;
}

bool PopError(GstBus* bus, std::string& error) {
  GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  if (message == nullptr)
    return false;
  error = ErrorText(message);
  gst_message_unref(message);
  return true;
}

// One decoding: the pipeline, its bus and the application sink at its end.
struct PipelineParts {
  GstElement* pipeline = nullptr;
  GstBus* bus = nullptr;
  GstElement* head = nullptr;     // where the decoder's stream of the wanted kind goes in
  GstElement* format = nullptr;   // the caps filter before the sink
  GstElement* crop = nullptr;     // pictures only: the zoom's cut, before the scaling
  GstElement* sink = nullptr;
  const char* kind = "video/";    // the stream kind wanted
  bool linked = false;            // decoder thread only, before the preroll ends

  ~PipelineParts() {
    if (pipeline) {
      gst_element_set_state(pipeline, GST_STATE_NULL);
      gst_object_unref(bus);
      gst_object_unref(pipeline);
    }
  }

  // Waits until the pipeline has prerolled. False with the bus's error text, or with an empty
  // text when the file has no stream of the wanted kind.
  bool WaitPrerolled(std::string& error) {
    for (;;) {
      GstMessage* message = gst_bus_timed_pop_filtered(
          bus, kStallTimeout,
          GstMessageType(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR | GST_MESSAGE_APPLICATION));
      if (message == nullptr) {
        error = "decoding does not start";
        return false;
      }
      const GstMessageType type = GST_MESSAGE_TYPE(message);
      const bool done = type == GST_MESSAGE_ASYNC_DONE;
      if (type == GST_MESSAGE_ERROR)
        error = ErrorText(message);
      else if (type == GST_MESSAGE_APPLICATION)
        error.clear();
      gst_message_unref(message);
      if (done)
        return true;
      return false;
    }
  }

  // A failure the pipeline has posted since, if any.
  bool Failed(std::string& error) { return PopError(bus, error); }

  // The next sample, or null at the end of the stream (`error` empty) or on a failure.
  GstSample* Pull(std::string& error) {
    GstClockTime waited = 0;
    while (waited < kStallTimeout) {
      GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), kPullSlice);
      if (sample)
        return sample;
      if (gst_app_sink_is_eos(GST_APP_SINK(sink)))
        return nullptr;
      if (Failed(error))
        return nullptr;
      waited += kPullSlice;
    }
    error = "decoding stalled";
    return nullptr;
  }

  bool SeekAndRun(int64_t start_ns, std::string& error) {
    if (!gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                 GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                 std::max<int64_t>(0, start_ns))) {
      error = "the movie cannot seek";
      return false;
    }
    if (!WaitPrerolled(error))
      return false;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
      Failed(error);
      return false;
    }
    return true;
  }
};

namespace {

void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
  auto* parts = static_cast<PipelineParts*>(data);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  if (caps == nullptr)
    caps = gst_pad_query_caps(pad, nullptr);
  const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
  const bool wanted = g_str_has_prefix(name, parts->kind) && g_str_has_suffix(name, "/x-raw");
  gst_caps_unref(caps);
  if (!wanted || parts->linked)
    return;
  GstPad* sink = gst_element_get_static_pad(parts->head, "sink");
  parts->linked = gst_pad_link(pad, sink) == GST_PAD_LINK_OK;
  gst_object_unref(sink);
}

// Without a stream of the wanted kind nothing would ever preroll: say so on the bus.
void OnNoMorePads(GstElement* decoder, gpointer data) {
  auto* parts = static_cast<PipelineParts*>(data);
  if (!parts->linked) {
    gst_element_post_message(
        decoder, gst_message_new_application(GST_OBJECT(decoder),
                                              gst_structure_new_empty(kNoStream)));
  }
}

// The decoder, then `chain` linked in a row, the last element being the application sink.
std::unique_ptr<PipelineParts> BuildPipeline(const std::string& path, const char* kind,
                                             std::initializer_list<GstElement*> chain,
                                             std::string& error) {
  auto parts = std::make_unique<PipelineParts>();
  parts->kind = kind;
  parts->pipeline = gst_pipeline_new(nullptr);
  parts->bus = gst_element_get_bus(parts->pipeline);
  // Decoding stops at the other kind's streams: they stay encoded and unlinked, which costs
  // nothing.
  GstElement* source = Make("filesrc");
  GstElement* decoder =
      media::MakeDecoder({.what = std::strcmp(kind, "audio/") == 0 ? media::Decode::kSound
                                                                   : media::Decode::kPictures});
  bool made = source != nullptr && decoder != nullptr;
  for (GstElement* e : chain)
    made = made && e != nullptr;
  if (!made) {
    for (GstElement* e : chain)
      if (e)
        gst_object_unref(gst_object_ref_sink(e));
    if (decoder)
      gst_object_unref(gst_object_ref_sink(decoder));
    if (source)
      gst_object_unref(gst_object_ref_sink(source));
    error =
        "a GStreamer element is missing (filesrc, decodebin, videoflip, videoconvert, "
        "videocrop, videoscale, audioconvert, appsink)";
    return nullptr;
  }
  g_object_set(source, "location", path.c_str(), nullptr);
  gst_bin_add_many(GST_BIN(parts->pipeline), source, decoder, nullptr);
  gst_element_link(source, decoder);
  GstElement* previous = nullptr;
  for (GstElement* e : chain) {
    gst_bin_add(GST_BIN(parts->pipeline), e);
    if (previous)
      gst_element_link(previous, e);
    else
      parts->head = e;
    previous = e;
  }
  parts->sink = previous;
  g_object_set(parts->sink, "sync", FALSE, "max-buffers", 4u, "drop", FALSE, nullptr);
  g_signal_connect(decoder, "pad-added", G_CALLBACK(OnPadAdded), parts.get());
  g_signal_connect(decoder, "no-more-pads", G_CALLBACK(OnNoMorePads), parts.get());
  return parts;
}

}  // namespace

PictureReader::PictureReader() = default;

PictureReader::~PictureReader() {
  if (current_)
    gst_sample_unref(current_);
  if (next_)
    gst_sample_unref(next_);
}

bool PictureReader::Open(const std::string& path, std::string& error) {
  GstElement* flip = Make("videoflip");
  GstElement* convert = Make("videoconvert");
  GstElement* crop = Make("videocrop");
  GstElement* scale = Make("videoscale");
  GstElement* format = Make("capsfilter");
  GstElement* sink = Make("appsink");
  // The rotation tag turns the picture as the player turns it.
  if (flip)
    gst_util_set_object_arg(G_OBJECT(flip), "video-direction", "auto");
  parts_ = BuildPipeline(path, "video/", {flip, convert, crop, scale, format, sink}, error);
  if (!parts_)
    return false;
  parts_->format = format;
  parts_->crop = crop;
  GstCaps* i420 = gst_caps_from_string("video/x-raw,format=I420");
  g_object_set(format, "caps", i420, nullptr);
  gst_caps_unref(i420);
  gst_element_set_state(parts_->pipeline, GST_STATE_PAUSED);
  if (!parts_->WaitPrerolled(error)) {
    if (error.empty())
      error = "it has no picture";
    return false;
  }
  GstSample* preroll = gst_app_sink_try_pull_preroll(GST_APP_SINK(sink), 0);
  GstVideoInfo info;
  const bool known = preroll && gst_video_info_from_caps(&info, gst_sample_get_caps(preroll));
  if (preroll)
    gst_sample_unref(preroll);
  if (!known) {
    error = "its picture format is not understood";
    return false;
  }
  picture_width_ = info.width;
  picture_height_ = info.height;
  const int64_t x = int64_t(info.width) * std::max(1, info.par_n);
  const int64_t y = int64_t(info.height) * std::max(1, info.par_d);
  const int64_t divisor = std::max<int64_t>(1, std::gcd(x, y));
  aspect_x_ = int(x / divisor);
  aspect_y_ = int(y / divisor);
  gint64 duration = -1;
  if (gst_element_query_duration(parts_->pipeline, GST_FORMAT_TIME, &duration) && duration >= 0)
    duration_seconds_ = double(duration) / GST_SECOND;
  return true;
}

void PictureReader::SetCrop(double left, double top, double width, double height) {
  // Edges rounded to whole pixels of the upright picture, at least one pixel left between them.
  const auto pixels = [](double fraction, int size) {
    return std::clamp(int(std::lround(fraction * size)), 0, size);
  };
  const int x = std::min(pixels(left, picture_width_), picture_width_ - 1);
  const int y = std::min(pixels(top, picture_height_), picture_height_ - 1);
  const int right = std::max(picture_width_ - pixels(left + width, picture_width_), 0);
  const int bottom = std::max(picture_height_ - pixels(top + height, picture_height_), 0);
  g_object_set(parts_->crop, "left", x, "top", y, "right", std::min(right, picture_width_ - x - 1),
               "bottom", std::min(bottom, picture_height_ - y - 1), nullptr);
}

bool PictureReader::Start(int width, int height, int64_t start_ns, std::string& error) {
  width_ = width;
  height_ = height;
  GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "I420", "width",
                                      G_TYPE_INT, width, "height", G_TYPE_INT, height,
                                      "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
  g_object_set(parts_->format, "caps", caps, nullptr);
  gst_caps_unref(caps);
  return parts_->SeekAndRun(start_ns, error);
}

// Takes the next picture into next_, with its position in the movie. False at the end or on a
// failure (then `error` says what).
bool PictureReader::PullNext(std::string& error) {
  GstSample* sample = parts_->Pull(error);
  if (sample == nullptr)
    return false;
  GstVideoInfo info;
  if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) || info.width != width_ ||
      info.height != height_) {
    gst_sample_unref(sample);
    error = "the picture is not scaled to its tile";
    return false;
  }
  const GstClockTime pts = GST_BUFFER_PTS(gst_sample_get_buffer(sample));
  guint64 stream_time = 0;
  const int sign = GST_CLOCK_TIME_IS_VALID(pts)
                       ? gst_segment_to_stream_time_full(gst_sample_get_segment(sample),
                                                         GST_FORMAT_TIME, pts, &stream_time)
                       : 0;
  if (sign == 0) {
    gst_sample_unref(sample);
    error = "a picture has no time";
    return false;
  }
  next_ = sample;
  next_ns_ = sign > 0 ? int64_t(stream_time) : -int64_t(stream_time);
  return true;
}

GstBuffer* PictureReader::PictureAt(int64_t position_ns, std::string& error) {
  while (!ended_) {
    if (next_ == nullptr && !PullNext(error)) {
      if (!error.empty())
        return nullptr;
      ended_ = true;
      break;
    }
    if (current_ != nullptr && next_ns_ > position_ns + kStartSlackNs)
      break;
    if (current_)
      gst_sample_unref(current_);
    current_ = next_;
    next_ = nullptr;
  }
  if (current_ == nullptr) {
    error = "no picture after the base position";
    return nullptr;
  }
  return gst_sample_get_buffer(current_);
}

SoundReader::SoundReader() = default;

SoundReader::~SoundReader() {
  parts_.reset();
  if (caps_)
    gst_caps_unref(caps_);
}

bool SoundReader::Open(const std::string& path, int64_t start_ns, double rate,
                       std::string& error) {
  RegisterPitchShiftElement();
  GstElement* convert = Make("audioconvert");
  GstElement* format = Make("capsfilter");
  GstElement* pitch = Make("quorvexpitchshift");
  GstElement* sink = Make("appsink");
  parts_ = BuildPipeline(path, "audio/", {convert, format, pitch, sink}, error);
  if (!parts_)
    return false;
  // The filter's format, as the player feeds it: S16, more than two channels mixed to stereo.
  GstCaps* s16 = gst_caps_from_string(
      "audio/x-raw,format=S16LE,layout=interleaved,channels=(int)[1,2]");
  g_object_set(format, "caps", s16, nullptr);
  gst_caps_unref(s16);
  g_object_set(pitch, "rate", rate, "pitch-correction", TRUE, nullptr);
  gst_element_set_state(parts_->pipeline, GST_STATE_PAUSED);
  if (!parts_->WaitPrerolled(error))
    return false;
  GstSample* preroll = gst_app_sink_try_pull_preroll(GST_APP_SINK(sink), 0);
  if (preroll == nullptr) {
    error = "its sound does not decode";
    return false;
  }
  caps_ = gst_caps_copy(gst_sample_get_caps(preroll));
  gst_sample_unref(preroll);
  const GstStructure* s = gst_caps_get_structure(caps_, 0);
  gst_structure_get_int(s, "rate", &sample_rate_);
  gst_structure_get_int(s, "channels", &channels_);
  if (sample_rate_ <= 0 || channels_ < 1 || channels_ > 2) {
    error = "its sound format is not understood";
    return false;
  }
  const int64_t factor = rate > 0 && rate < 1 ? int64_t(1.0 / rate) : 1;
  skip_frames_ = factor > 1 ? kShifterDelayFrames * factor : 0;
  return parts_->SeekAndRun(start_ns, error);
}

bool SoundReader::Read(int64_t frames, std::vector<int16_t>& out, std::string& error) {
  size_t wanted = size_t(frames) * size_t(channels_);
  while (wanted > 0) {
    if (pending_offset_ == pending_.size()) {
      pending_.clear();
      pending_offset_ = 0;
      if (ended_) {
        out.insert(out.end(), wanted, 0);
        return true;
      }
      GstSample* sample = parts_->Pull(error);
      if (sample == nullptr) {
        if (!error.empty())
          return false;
        ended_ = true;
        continue;
      }
      GstMapInfo map;
      GstBuffer* buffer = gst_sample_get_buffer(sample);
      if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const auto* samples = reinterpret_cast<const int16_t*>(map.data);
        pending_.assign(samples, samples + map.size / sizeof(int16_t));
        gst_buffer_unmap(buffer, &map);
      }
      gst_sample_unref(sample);
      const size_t skip = std::min(pending_.size(), size_t(skip_frames_) * size_t(channels_));
      pending_offset_ = skip;
      skip_frames_ -= int64_t(skip) / channels_;
      continue;
    }
    const size_t take = std::min(wanted, pending_.size() - pending_offset_);
    out.insert(out.end(), pending_.begin() + long(pending_offset_),
               pending_.begin() + long(pending_offset_ + take));
    pending_offset_ += take;
    wanted -= take;
  }
  return true;
}

}  // namespace quorvex::exporter
