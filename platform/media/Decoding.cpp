#include "platform/media/Decoding.h"

#include <string_view>

namespace quorvex::media {
namespace {

// decodebin's answers to autoplug-select (GstAutoplugSelectResult, not in its public headers).
enum AutoplugSelect : int { kAutoplugTry = 0, kAutoplugSkip = 2 };

int SkipHardware(GstElement*, GstPad*, GstCaps*, GstElementFactory* factory, gpointer) {
  return IsHardwareFactory(factory) ? kAutoplugSkip : kAutoplugTry;
}

// Containers carry media names too ("video/quicktime", "audio/x-wav"): they are always opened.
bool IsContainer(GstCaps* caps) {
  // Listed once: the demuxers installed do not change while the program runs.
  static GList* const demuxers =
      gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DEMUXER, GST_RANK_MARGINAL);
  GList* taking = gst_element_factory_list_filter(demuxers, caps, GST_PAD_SINK, FALSE);
  const bool container = taking != nullptr;
  gst_plugin_feature_list_free(taking);
  return container;
}

gboolean DecodeOnlyWanted(GstElement*, GstPad*, GstCaps* caps, gpointer data) {
  if (gst_caps_get_size(caps) == 0)
    return TRUE;
  const auto what = Decode(GPOINTER_TO_INT(data));
  const std::string_view name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
  // MJPEG comes as pictures named image/jpeg.
  const bool pictures = name.starts_with("video/") || name.starts_with("image/");
  const bool sound = name.starts_with("audio/");
  const bool unwanted =
      (what == Decode::kPictures && sound) || (what == Decode::kSound && pictures);
  return !unwanted || IsContainer(caps);
}

void LimitThreads(GstBin*, GstBin*, GstElement* element, gpointer threads) {
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(element), "max-threads"))
    g_object_set(element, "max-threads", GPOINTER_TO_INT(threads), nullptr);
}

}  // namespace

GstElement* MakeDecoder(const DecodeOptions& options) {
  GstElement* decoder = options.on_error ? MakeWatchedDecodeBin(options.on_error, options.user_data)
                                         : gst_element_factory_make("decodebin", nullptr);
  if (!decoder)
    return nullptr;
  if (options.software_only)
    g_signal_connect(decoder, "autoplug-select", G_CALLBACK(&SkipHardware), nullptr);
  if (options.threads > 0)
    g_signal_connect(decoder, "deep-element-added", G_CALLBACK(&LimitThreads),
                     GINT_TO_POINTER(options.threads));
  if (options.what != Decode::kPicturesAndSound)
    g_signal_connect(decoder, "autoplug-continue", G_CALLBACK(&DecodeOnlyWanted),
                     GINT_TO_POINTER(int(options.what)));
  return decoder;
}

bool IsHardwareFactory(GstElementFactory* factory) {
  const char* plugin =
      factory ? gst_plugin_feature_get_plugin_name(GST_PLUGIN_FEATURE(factory)) : nullptr;
  return plugin && (std::string_view(plugin) == "va" || std::string_view(plugin) == "vaapi");
}

}  // namespace quorvex::media
