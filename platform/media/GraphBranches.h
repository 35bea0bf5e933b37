#pragma once

// Internal to FilterGraph. What RenderFile built for the decoder's streams. Written on the
// streaming thread that exposes a decoded stream, read on the owner's thread; all under mutex.

#include <gst/gst.h>

#include <mutex>
#include <vector>

#include "platform/media/FilterGraph.h"

namespace quorvex::media {

struct FilterGraph::Branches {
  std::mutex mutex;
  // Filters added with AddFilter: offered decoded mono/stereo audio. The graph owns them.
  std::vector<GstElement*> filters;
  // One per audio stream; the graph owns them.
  std::vector<GstElement*> volumes;
  double volume_linear = 1.0;
  bool has_audio = false;
  bool through_filter = false;  // an audio stream runs through an added filter

  GstElement* video_sink = nullptr;  // the movie's picture; owned by the graph
  GstElement* video_size = nullptr;  // capsfilter that sets the scaled picture's size
  bool has_window = false;           // the sink draws into the VideoWindow
  int32_t aspect_x = 0, aspect_y = 0;
  int32_t native_width = 0, native_height = 0;
};

// The C callbacks that GStreamer calls on its threads.
struct FilterGraph::Callbacks {
  static GstBusSyncReply OnBus(GstBus*, GstMessage* message, gpointer self) {
    static_cast<FilterGraph*>(self)->OnBusMessage(message);
    gst_message_unref(message);  // a handler that drops a message releases it
    return GST_BUS_DROP;
  }
  static void OnStreamError(void* self) { static_cast<FilterGraph*>(self)->OnStreamError(); }
  static void OnPadAdded(GstElement*, GstPad* pad, gpointer self) {
    static_cast<FilterGraph*>(self)->LinkDecodedPad(pad);
  }
};

}  // namespace quorvex::media
