// Graph: building the graph for a file (Open) and the bus handler. The decoder's pads appear
// on a streaming thread; each gets its branch there.

#include <gst/gst.h>
#include <gst/app/gstappsink.h>


#include <algorithm>
#include <chrono>
#include <numeric>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/media/Deadline.h"
#include "platform/media/Decoding.h"
#include "platform/media/Graph.h"
#include "platform/media/GraphBranches.h"
#include "platform/media/GstRef.h"
#include "platform/media/Log.h"
#include "platform/media/PictureMaker.h"

namespace quorvex::media {
namespace {

constexpr auto kPrerollLimit = std::chrono::seconds(10);

// The audio sink's ring buffer: small, so that stretched audio follows the slowed video
// closely (it plays unsynchronised at the device's pace).
constexpr gint64 kAudioBufferUs = 50'000;
constexpr gint64 kAudioLatencyUs = 10'000;
// Decoded pictures waiting for the sink, at most (with 0.4 s): about eight 1080p pictures. While
// paused the decoder works ahead this far and the pictures are kept as they enter; forward
// steps that need more let the sink drop some, so a larger queue would only hold memory.
constexpr guint kVideoAheadBytes = 24u << 20;
// Late pictures are dropped as a video sink drops them, and the decoder is told to catch up.
constexpr gint64 kMaxLatenessNs = 20 * GST_MSECOND;

GstElement* Make(const char* factory) {
  return gst_element_factory_make(factory, nullptr);
}

// A pulsesink that can reach a sound server, else a fake sink that follows the clock: a machine
// without sound output still plays movies, in time. The result is a floating reference.
GstElement* MakeAudioSink() {
  if (GstElement* sink = Make("pulsesink")) {
    g_object_set(sink, "sync", FALSE, "buffer-time", kAudioBufferUs, "latency-time",
                 kAudioLatencyUs, nullptr);
    if (gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE)
      return sink;
    gst_element_set_state(sink, GST_STATE_NULL);
    gst_object_unref(gst_object_ref_sink(sink));
  }
  GstElement* sink = Make("fakesink");
  if (sink)
    g_object_set(sink, "sync", TRUE, nullptr);
  return sink;
}

using Chain = std::initializer_list<GstElement*>;

// Takes `elements` out of `bin` again (or drops them when they never got in).
void RemoveChain(GstBin* bin, Chain elements) {
  for (GstElement* e : elements) {
    if (!e)
      continue;
    if (GST_OBJECT_PARENT(e) == GST_OBJECT(bin)) {
      gst_element_set_state(e, GST_STATE_NULL);
      gst_bin_remove(bin, e);
    } else {
      gst_object_unref(gst_object_ref_sink(e));
    }
  }
}

// Adds `elements` (floating references) to `bin`, links them in order and brings them to the
// bin's state, last first so that nothing pushes into an element that is not ready. On failure
// nothing of them stays.
bool AddChain(GstBin* bin, Chain elements) {
  bool ok = true;
  for (GstElement* e : elements)
    ok = ok && e;
  GstElement* previous = nullptr;
  for (GstElement* e : elements) {
    if (!ok)
      break;
    ok = gst_bin_add(bin, e) && (!previous || gst_element_link(previous, e));
    previous = e;
  }
  if (!ok) {
    RemoveChain(bin, elements);
    return false;
  }
  for (auto it = std::rbegin(elements); it != std::rend(elements); ++it)
    gst_element_sync_state_with_parent(*it);
  return true;
}

bool LinkToChain(GstPad* pad, GstElement* first) {
  GstRef<GstPad> sink(gst_element_get_static_pad(first, "sink"));
  return sink && GST_PAD_LINK_SUCCESSFUL(gst_pad_link(pad, sink.get()));
}

// Display aspect ratio of decoded video caps, reduced; false when the caps do not say.
bool AspectOf(const GstCaps* caps, int32_t* x, int32_t* y) {
  const GstStructure* s = caps && gst_caps_get_size(caps) ? gst_caps_get_structure(caps, 0) : nullptr;
  int w = 0, h = 0, par_n = 1, par_d = 1;
  if (!s || !gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h) ||
      w <= 0 || h <= 0)
    return false;
  gst_structure_get_fraction(s, "pixel-aspect-ratio", &par_n, &par_d);
  if (par_n <= 0 || par_d <= 0)
    par_n = par_d = 1;
  const int64_t ax = int64_t(w) * par_n, ay = int64_t(h) * par_d;
  const int64_t g = std::gcd(ax, ay);
  *x = int32_t(ax / g);
  *y = int32_t(ay / g);
  return true;
}

}  // namespace

void PreferHardwareDecoders() {
  static std::once_flag once;
  std::call_once(once, [] {
    GList* decoders = gst_element_factory_list_get_elements(
        GST_ELEMENT_FACTORY_TYPE_DECODER | GST_ELEMENT_FACTORY_TYPE_MEDIA_VIDEO |
            GST_ELEMENT_FACTORY_TYPE_HARDWARE,
        GST_RANK_MARGINAL);
    for (GList* item = decoders; item; item = item->next) {
      auto* factory = GST_ELEMENT_FACTORY(item->data);
      if (IsHardwareFactory(factory))
        gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(factory), GST_RANK_PRIMARY + 1);
    }
    gst_plugin_feature_list_free(decoders);
  });
}

bool Graph::AddFilter(GstElement* filter, const std::string& name) {
  if (!filter || GST_OBJECT_PARENT(filter))
    return false;
  gst_object_set_name(GST_OBJECT(filter), name.c_str());
  if (!gst_bin_add(GST_BIN(pipeline_), filter))
    return false;
  std::lock_guard lock(branches_->mutex);
  branches_->filters.push_back(filter);
  return true;
}

bool Graph::Open(const std::string& path) {
  if (open_tried_)
    return false;
  open_tried_ = true;  // one file per graph, even when this one fails
  path_ = path;
  bool prerolled = BuildDecoding(false);
  // A hardware decoder may take the stream and then fail on it (a profile the device does not
  // decode, a device that is busy or gone): the file is opened again with software decoders.
  if (!prerolled && UsesHardwareDecoder()) {
    ForgetDecoding();
    prerolled = BuildDecoding(true);
  }
  if (!prerolled || (!has_video() && !has_audio())) {
    // The errors stay queued: they tell the owner why the file did not open.
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    return false;
  }
  events_.Clear();  // what the preroll reported concerns nobody
  {
    // The picture held is upright: its caps give the aspect ratio that is shown.
    GstSample* held = picture_path_->Held();
    std::lock_guard lock(branches_->mutex);
    int64_t duration = 0;
    if (held) {
      AspectOf(gst_sample_get_caps(held), &branches_->aspect_x, &branches_->aspect_y);
      PictureMaker::Times(held, &first_picture_ns_, &duration);
      gst_sample_unref(held);
    }
  }
  state_ = State::kStopped;
  in_sync_ = true;  // everything stands prerolled at the start: a Pause needs no seek
  position_ns_ = 0;
  opened_ = true;
  return true;
}

// Source and decoder for path_, prerolled (bounded). With `software_only` no hardware decoder
// is plugged.
bool Graph::BuildDecoding(bool software_only) {
  GstElement* source = Make("filesrc");
  GstElement* decoder = MakeDecoder({.what = Decode::kPicturesAndSound,
                                     .software_only = software_only,
                                     .on_error = &Callbacks::OnStreamError,
                                     .user_data = this});
  if (source)
    g_object_set(source, "location", path_.c_str(), nullptr);
  if (decoder)
    g_signal_connect(decoder, "pad-added", G_CALLBACK(&Callbacks::OnPadAdded), this);
  if (!AddChain(GST_BIN(pipeline_), {source, decoder}))
    return false;
  uint64_t async_done = 0, errors = 0;
  {
    std::lock_guard lock(bus_mutex_);
    async_done = async_done_count_;
    errors = error_count_;
  }
  const GstStateChangeReturn change = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  return change == GST_STATE_CHANGE_SUCCESS ||
         (change == GST_STATE_CHANGE_ASYNC && WaitForPreroll(async_done, errors));
}

bool Graph::UsesHardwareDecoder() const {
  bool found = false;
  GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline_));
  GValue item = G_VALUE_INIT;
  while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    found = IsHardwareFactory(gst_element_get_factory(GST_ELEMENT(g_value_get_object(&item))));
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  return found;
}

// Takes out everything the failed attempt built; the added filters stay, unlinked.
void Graph::ForgetDecoding() {
  gst_element_set_state(pipeline_, GST_STATE_NULL);
  std::vector<GstElement*> built;
  GstIterator* it = gst_bin_iterate_elements(GST_BIN(pipeline_));
  GValue item = G_VALUE_INIT;
  while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
    auto* element = GST_ELEMENT(g_value_get_object(&item));
    if (std::find(branches_->filters.begin(), branches_->filters.end(), element) ==
        branches_->filters.end())
      built.push_back(element);
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(it);
  for (GstElement* element : built)
    gst_bin_remove(GST_BIN(pipeline_), element);  // unlinks it from the filters too
  {
    std::lock_guard lock(branches_->mutex);
    Branches& b = *branches_;
    b.volumes.clear();
    b.has_audio = b.through_filter = b.decoding_ahead = false;
    b.video_sink = b.video_queue = nullptr;
    b.aspect_x = b.aspect_y = 0;
  }
  picture_path_->Reset();
  events_.Clear();
}

bool Graph::WaitForPreroll(uint64_t since_async_done, uint64_t since_error) {
  // No later than the command's deadline: a slow preroll fails the seek rather than the server.
  const auto deadline = std::chrono::steady_clock::now() + CommandDeadline::Within(kPrerollLimit);
  {
    std::unique_lock lock(bus_mutex_);
    bus_changed_.wait_until(lock, deadline, [&] {
      return async_done_count_ != since_async_done || error_count_ != since_error;
    });
    if (error_count_ != since_error || async_done_count_ == since_async_done)
      return false;
  }
  // The completion seen may be that of an earlier state change (a pause that waited for data);
  // make sure that this one has completed too.
  const auto left = std::max(deadline - std::chrono::steady_clock::now(),
                             std::chrono::steady_clock::duration::zero());
  const GstStateChangeReturn state = gst_element_get_state(
      pipeline_, nullptr, nullptr,
      GstClockTime(std::chrono::duration_cast<std::chrono::nanoseconds>(left).count()));
  return state == GST_STATE_CHANGE_SUCCESS || state == GST_STATE_CHANGE_NO_PREROLL;
}

void Graph::OnBusMessage(GstMessage* message) {
  const bool from_graph = GST_MESSAGE_SRC(message) == GST_OBJECT(pipeline_);
  switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ASYNC_DONE:
      if (!from_graph)
        return;
      {
        std::lock_guard lock(bus_mutex_);
        ++async_done_count_;
      }
      bus_changed_.notify_all();
      return;
    case GST_MESSAGE_ERROR: {
      GError* error = nullptr;
      gchar* detail = nullptr;
      gst_message_parse_error(message, &error, &detail);
      GST_CAT_WARNING(GraphLog(), "%s: %s (%s)", path_.c_str(), error ? error->message : "",
                      detail ? detail : "");
      // The text goes with the event: the owner says why a movie did not open or stopped.
      events_.Queue({GraphEvent::Kind::kError, error ? error->message : ""});
      g_clear_error(&error);
      g_free(detail);
      OnStreamError();
      return;
    }
    case GST_MESSAGE_EOS:
      if (from_graph)
        events_.Queue({GraphEvent::Kind::kEndOfStream, {}});
      return;
    default:
      return;
  }
}

void Graph::OnStreamError() {
  {
    std::lock_guard lock(bus_mutex_);
    ++error_count_;
  }
  bus_changed_.notify_all();
}

void Graph::LinkDecodedPad(GstPad* pad) {
  CapsRef caps(gst_pad_get_current_caps(pad));
  if (!caps)
    caps.reset(gst_pad_query_caps(pad, nullptr));
  const GstStructure* s =
      gst_caps_get_size(caps.get()) ? gst_caps_get_structure(caps.get(), 0) : nullptr;
  const std::string_view kind = s ? gst_structure_get_name(s) : "";
  bool linked = false;
  if (kind.starts_with("video/")) {
    linked = LinkVideo(pad);
  } else if (kind.starts_with("audio/")) {
    linked = LinkAudio(pad, s);
  }
  if (!linked)
    LinkDiscard(pad);
}

// decoder > convert (only for layouts the flip cannot take) > flip upright by the stream's
// orientation tag > queue decoding ahead > application sink, whose pictures the graph draws.
bool Graph::LinkVideo(GstPad* pad) {
  std::lock_guard lock(branches_->mutex);
  if (branches_->video_sink)
    return false;  // the first video stream is the movie's picture
  GstElement* convert = Make("videoconvert");
  GstElement* flip = Make("videoflip");
  GstElement* queue = Make("queue");
  GstElement* sink = Make("appsink");
  if (flip)
    gst_util_set_object_arg(G_OBJECT(flip), "video-direction", "auto");
  if (queue) {
    // One picture until the movie is used: an open decodes its first picture and no more,
    // so that many movies opened together reach their first pictures sooner.
    g_object_set(queue, "max-size-buffers", 1u, "max-size-bytes", 0u, "max-size-time",
                 guint64(0), nullptr);
  }
  if (sink) {
    CapsRef raw(gst_caps_from_string("video/x-raw"));  // in system memory, any layout
    g_object_set(sink, "sync", TRUE, "caps", raw.get(), "qos", TRUE, "max-lateness",
                 kMaxLatenessNs, "max-buffers", 1u, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.eos = &Callbacks::OnEos;
    callbacks.new_preroll = &Callbacks::OnPreroll;
    callbacks.new_sample = &Callbacks::OnSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, picture_path_.get(), nullptr);
  }
  const Chain chain = {convert, flip, queue, sink};
  if (!AddChain(GST_BIN(pipeline_), chain))
    return false;
  GstRef<GstPad> queued(gst_element_get_static_pad(queue, "sink"));
  gst_pad_add_probe(queued.get(),
                    GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER |
                                    GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                    GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                    &Callbacks::OnDecodedPicture, picture_path_.get(), nullptr);
  if (!LinkToChain(pad, convert)) {
    RemoveChain(GST_BIN(pipeline_), chain);
    return false;
  }
  branches_->video_sink = sink;
  branches_->video_queue = queue;
  return true;
}

void Graph::DecodeAhead() {
  std::lock_guard lock(branches_->mutex);
  if (!branches_->video_queue || branches_->decoding_ahead)
    return;
  branches_->decoding_ahead = true;
  g_object_set(branches_->video_queue, "max-size-buffers", 0u, "max-size-bytes",
               kVideoAheadBytes, "max-size-time", guint64(kDecodeAheadNs), nullptr);
}

// Every audio stream goes through the filter as interleaved S16, mono or stereo: sound with
// more channels is mixed down to stereo first, by the converter's standard mix (centre into
// both sides at -3 dB, each side's surrounds into it, outputs scaled so that they cannot clip).
bool Graph::LinkAudio(GstPad* pad, const GstStructure* caps) {
  int channels = 0;
  gst_structure_get_int(caps, "channels", &channels);
  std::lock_guard lock(branches_->mutex);
  GstElement* queue = Make("queue");
  GstElement* convert = Make("audioconvert");
  GstElement* format = Make("capsfilter");
  GstElement* volume = Make("volume");
  GstElement* convert_out = Make("audioconvert");
  GstElement* resample = Make("audioresample");
  GstElement* sink = MakeAudioSink();
  if (format) {
    CapsRef s16(gst_caps_from_string(channels > 2
                                         ? "audio/x-raw,format=S16LE,layout=interleaved,channels=2"
                                         : "audio/x-raw,format=S16LE,layout=interleaved"));
    g_object_set(format, "caps", s16.get(), nullptr);
  }
  if (volume)
    g_object_set(volume, "volume", branches_->volume_linear, nullptr);
  const Chain head = {queue, convert, format};
  const Chain tail = {volume, convert_out, resample, sink};
  if (!AddChain(GST_BIN(pipeline_), tail)) {
    RemoveChain(GST_BIN(pipeline_), head);
    return false;
  }
  if (!AddChain(GST_BIN(pipeline_), head)) {
    RemoveChain(GST_BIN(pipeline_), tail);
    return false;
  }
  GstRef<GstPad> queued(gst_element_get_static_pad(queue, "sink"));
  gst_pad_add_probe(queued.get(), GST_PAD_PROBE_TYPE_BUFFER, &Callbacks::OnDecodedSound, this,
                    nullptr);
  const bool through_filter = LinkThroughFilter(format, volume);
  if ((!through_filter && !gst_element_link(format, volume)) || !LinkToChain(pad, queue)) {
    RemoveChain(GST_BIN(pipeline_), head);
    RemoveChain(GST_BIN(pipeline_), tail);
    return false;
  }
  branches_->volumes.push_back(volume);
  branches_->has_audio = true;
  branches_->through_filter = branches_->through_filter || through_filter;
  return true;
}

// Offers the audio to a filter already in the graph with a free input, as the graph builder
// does before it looks for other elements. Called with branches_->mutex held.
bool Graph::LinkThroughFilter(GstElement* from, GstElement* to) {
  GstRef<GstPad> out(gst_element_get_static_pad(from, "src"));
  for (GstElement* filter : branches_->filters) {
    GstRef<GstPad> in(gst_element_get_compatible_pad(filter, out.get(), nullptr));
    if (!in || !GST_PAD_LINK_SUCCESSFUL(gst_pad_link(out.get(), in.get())))
      continue;
    if (gst_element_link(filter, to)) {
      gst_element_sync_state_with_parent(filter);
      return true;
    }
    gst_pad_unlink(out.get(), in.get());
  }
  return false;
}

void Graph::LinkDiscard(GstPad* pad) {
  GstElement* sink = Make("fakesink");
  if (!sink)
    return;
  g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
  if (AddChain(GST_BIN(pipeline_), {sink}) && !LinkToChain(pad, sink))
    RemoveChain(GST_BIN(pipeline_), {sink});
}

}  // namespace quorvex::media
