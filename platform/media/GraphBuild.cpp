// FilterGraph: building the graph for a file (RenderFile) and the bus handler. The decoder's
// pads appear on a streaming thread; each gets its branch there.

#include <gst/gst.h>
#include <gst/video/videooverlay.h>

#include <chrono>
#include <numeric>
#include <string_view>

#include "platform/media/FilterGraph.h"
#include "platform/media/GraphBranches.h"
#include "platform/media/GstRef.h"
#include "platform/media/VideoWindow.h"
#include "platform/media/WatchedDecodeBin.h"

namespace quorvex::media {
namespace {

constexpr auto kPrerollLimit = std::chrono::seconds(10);

// The audio sink's ring buffer: small, so that stretched audio follows the slowed video
// closely (it plays unsynchronised at the device's pace).
constexpr gint64 kAudioBufferUs = 50'000;
constexpr gint64 kAudioLatencyUs = 10'000;
constexpr guint kVideoQueueFrames = 4;

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate names no file
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

GstElement* Make(const char* factory) {
  return gst_element_factory_make(factory, nullptr);
}

// A pulsesink that can reach a sound server, else a fake sink that does not wait on the clock:
// a machine without sound output still plays movies. The result is a floating reference.
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
    g_object_set(sink, "sync", FALSE, nullptr);
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

// Display aspect ratio of decoded video caps, reduced; 0:0 when the caps do not say.
void AspectOf(const GstStructure* s, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
  int w = 0, h = 0, par_n = 1, par_d = 1;
  if (!gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h) || w <= 0 ||
      h <= 0)
    return;
  gst_structure_get_fraction(s, "pixel-aspect-ratio", &par_n, &par_d);
  if (par_n <= 0 || par_d <= 0)
    par_n = par_d = 1;
  const int64_t ax = int64_t(w) * par_n, ay = int64_t(h) * par_d;
  const int64_t g = std::gcd(ax, ay);
  *x = int32_t(ax / g);
  *y = int32_t(ay / g);
  *width = w;
  *height = h;
}

}  // namespace

HRESULT FilterGraph::AddFilter(GstElement* filter, const std::u16string& name) {
  if (!filter)
    return E_POINTER;
  if (GST_OBJECT_PARENT(filter))
    return E_FAIL;
  gst_object_set_name(GST_OBJECT(filter), ToUtf8(name).c_str());
  if (!gst_bin_add(GST_BIN(pipeline_), filter))
    return E_FAIL;
  std::lock_guard lock(branches_->mutex);
  branches_->filters.push_back(filter);
  return S_OK;
}

HRESULT FilterGraph::RenderFile(const std::u16string& file_name) {
  if (render_tried_)
    return E_UNEXPECTED;
  render_tried_ = true;  // one file per graph, even when this one fails
  GstElement* source = Make("filesrc");
  GstElement* decoder = MakeWatchedDecodeBin(&Callbacks::OnStreamError, this);
  if (source)
    g_object_set(source, "location", ToUtf8(file_name).c_str(), nullptr);
  if (decoder)
    g_signal_connect(decoder, "pad-added", G_CALLBACK(&Callbacks::OnPadAdded), this);
  if (!AddChain(GST_BIN(pipeline_), {source, decoder}))
    return E_FAIL;

  uint64_t async_done = 0, errors = 0;
  {
    std::lock_guard lock(bus_mutex_);
    async_done = async_done_count_;
    errors = error_count_;
  }
  const GstStateChangeReturn change = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
  const bool prerolled = change == GST_STATE_CHANGE_SUCCESS ||
                         (change == GST_STATE_CHANGE_ASYNC && WaitForPreroll(async_done, errors));
  if (!prerolled || (!has_video() && !has_audio())) {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    events_.Clear();
    return E_FAIL;
  }
  events_.Clear();  // what the preroll reported concerns nobody
  if (video_window_ && has_video()) {
    std::lock_guard lock(branches_->mutex);
    video_window_->SetPosition(0, 0, branches_->native_width, branches_->native_height);
  }
  stopped_ = true;
  kept_position_units_ = 0;
  rendered_ = true;
  return S_OK;
}

bool FilterGraph::WaitForPreroll(uint64_t since_async_done, uint64_t since_error) {
  const auto deadline = std::chrono::steady_clock::now() + kPrerollLimit;
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

void FilterGraph::OnBusMessage(GstMessage* message) {
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
    case GST_MESSAGE_ERROR:
      OnStreamError();
      return;
    case GST_MESSAGE_EOS:
      if (from_graph)
        events_.Queue(EC_COMPLETE, S_OK, 0);
      return;
    default:
      return;
  }
}

void FilterGraph::OnStreamError() {
  {
    std::lock_guard lock(bus_mutex_);
    ++error_count_;
  }
  bus_changed_.notify_all();
  events_.Queue(EC_ERRORABORT, E_FAIL, 0);
}

void FilterGraph::LinkDecodedPad(GstPad* pad) {
  CapsRef caps(gst_pad_get_current_caps(pad));
  if (!caps)
    caps.reset(gst_pad_query_caps(pad, nullptr));
  const GstStructure* s =
      gst_caps_get_size(caps.get()) ? gst_caps_get_structure(caps.get(), 0) : nullptr;
  const std::string_view kind = s ? gst_structure_get_name(s) : "";
  bool linked = false;
  if (kind.starts_with("video/")) {
    linked = LinkVideo(pad, s);
  } else if (kind.starts_with("audio/")) {
    int channels = 0;
    gst_structure_get_int(s, "channels", &channels);
    linked = LinkAudio(pad, channels >= 1 && channels <= 2);
  }
  if (!linked)
    LinkDiscard(pad);
}

bool FilterGraph::LinkVideo(GstPad* pad, const GstStructure* caps) {
  std::lock_guard lock(branches_->mutex);
  if (branches_->video_sink)
    return false;  // the first video stream is the movie's picture
  GstElement* queue = Make("queue");
  if (queue) {
    // Decoded pictures are large (a 640x360 one is 345 KB) and the decoder keeps up easily:
    // a few ahead of the sink are enough, where the default second of them is 10 MB.
    g_object_set(queue, "max-size-buffers", kVideoQueueFrames, "max-size-bytes", 0u,
                 "max-size-time", guint64(0), nullptr);
  }
  GstElement* scale = Make("videoscale");
  GstElement* size = Make("capsfilter");
  GstElement* convert = Make("videoconvert");
  GstElement* sink = video_window_ ? Make("ximagesink") : nullptr;
  if (sink) {
    gst_video_overlay_set_window_handle(GST_VIDEO_OVERLAY(sink), video_window_->video_handle());
  } else if ((sink = Make("fakesink"))) {
    g_object_set(sink, "sync", TRUE, nullptr);  // no display: still paced by the clock
  }
  if (scale)
    g_object_set(scale, "add-borders", FALSE, nullptr);
  const Chain chain = {queue, scale, size, convert, sink};
  if (!AddChain(GST_BIN(pipeline_), chain))
    return false;
  if (!LinkToChain(pad, queue)) {
    RemoveChain(GST_BIN(pipeline_), chain);
    return false;
  }
  branches_->video_sink = sink;
  branches_->video_size = size;
  branches_->has_window = video_window_ != nullptr;
  AspectOf(caps, &branches_->aspect_x, &branches_->aspect_y, &branches_->native_width,
           &branches_->native_height);
  return true;
}

bool FilterGraph::LinkAudio(GstPad* pad, bool to_filter) {
  std::lock_guard lock(branches_->mutex);
  GstElement* queue = Make("queue");
  GstElement* convert = Make("audioconvert");
  GstElement* format = Make("capsfilter");
  GstElement* volume = Make("volume");
  GstElement* convert_out = Make("audioconvert");
  GstElement* resample = Make("audioresample");
  GstElement* sink = MakeAudioSink();
  if (format) {
    // What the pitch filter takes; the other audio keeps its sample format up to the sink.
    CapsRef s16(gst_caps_from_string(to_filter ? "audio/x-raw,format=S16LE,layout=interleaved"
                                               : "audio/x-raw"));
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
  const bool through_filter = to_filter && LinkThroughFilter(format, volume);
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
bool FilterGraph::LinkThroughFilter(GstElement* from, GstElement* to) {
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

void FilterGraph::LinkDiscard(GstPad* pad) {
  GstElement* sink = Make("fakesink");
  if (!sink)
    return;
  g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
  if (AddChain(GST_BIN(pipeline_), {sink}) && !LinkToChain(pad, sink))
    RemoveChain(GST_BIN(pipeline_), {sink});
}

}  // namespace quorvex::media
