#pragma once

// Internal to Graph. What Open built for the decoder's streams. Written on the streaming
// thread that exposes a decoded stream, read on the owner's thread; all under mutex.

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <mutex>
#include <vector>

#include "platform/media/Graph.h"

namespace quorvex::media {

// Gives the hardware video decoders that the machine offers (VA-API) precedence over the
// software ones. They register only where a device works; elsewhere this changes nothing.
void PreferHardwareDecoders();

struct Graph::Branches {
  std::mutex mutex;
  // Filters added with AddFilter: offered decoded audio. The graph owns them.
  std::vector<GstElement*> filters;
  // One per audio stream; the graph owns them.
  std::vector<GstElement*> volumes;
  double volume_linear = 1.0;
  bool has_audio = false;
  bool through_filter = false;  // an audio stream runs through an added filter

  GstElement* video_sink = nullptr;  // the application sink of the movie's picture
  GstElement* video_queue = nullptr;  // the decoded pictures before it
  bool decoding_ahead = false;        // the queue holds more than one picture
  int32_t aspect_x = 0, aspect_y = 0;
};

// The C callbacks that GStreamer calls on its threads: the bus and the decoder's pads go to
// the graph, the pictures to its picture path.
struct Graph::Callbacks {
  static GstBusSyncReply OnBus(GstBus*, GstMessage* message, gpointer self) {
    static_cast<Graph*>(self)->OnBusMessage(message);
    gst_message_unref(message);  // a handler that drops a message releases it
    return GST_BUS_DROP;
  }
  static void OnStreamError(void* self, const char* text) {
    auto* graph = static_cast<Graph*>(self);
    graph->events_.Queue({GraphEvent::Kind::kError, text});
    graph->OnStreamError();
  }
  static void OnPadAdded(GstElement*, GstPad* pad, gpointer self) {
    static_cast<Graph*>(self)->LinkDecodedPad(pad);
  }
  static GstFlowReturn OnPreroll(GstAppSink* sink, gpointer self) {
    return Deliver(gst_app_sink_pull_preroll(sink), self);
  }
  static GstFlowReturn OnSample(GstAppSink* sink, gpointer self) {
    return Deliver(gst_app_sink_pull_sample(sink), self);
  }
  static GstPadProbeReturn OnDecodedPicture(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
    return GstPadProbeReturn(static_cast<PicturePath*>(self)->OnDecoded(pad, info));
  }
  static GstPadProbeReturn OnDecodedSound(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
    return GstPadProbeReturn(static_cast<Graph*>(self)->OnDecodedSound(pad, info));
  }
  static void OnEos(GstAppSink*, gpointer self) { static_cast<PicturePath*>(self)->OnEnd(); }
  static GstFlowReturn Deliver(GstSample* sample, gpointer self) {
    if (sample) {
      static_cast<PicturePath*>(self)->OnSample(sample);
      gst_sample_unref(sample);
    }
    return GST_FLOW_OK;
  }
};

}  // namespace quorvex::media
