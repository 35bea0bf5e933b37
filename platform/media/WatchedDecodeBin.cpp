#include "platform/media/WatchedDecodeBin.h"

namespace quorvex::media {
namespace {

constexpr char kCallbackKey[] = "quorvex-stream-error-callback";
constexpr char kUserDataKey[] = "quorvex-stream-error-data";

GType ParentType() {
  GstElementFactory* factory = gst_element_factory_find("decodebin");
  if (!factory)
    return 0;
  GstPluginFeature* loaded = gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory));
  gst_object_unref(factory);
  if (!loaded)
    return 0;
  const GType type = gst_element_factory_get_element_type(GST_ELEMENT_FACTORY(loaded));
  gst_object_unref(loaded);
  return type;
}

void HandleMessage(GstBin* bin, GstMessage* message) {
  GstObject* source = GST_MESSAGE_SRC(message);
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && source && GST_IS_ELEMENT(source) &&
      GST_STATE(GST_ELEMENT(source)) >= GST_STATE_PAUSED) {
    auto callback =
        reinterpret_cast<StreamErrorCallback>(g_object_get_data(G_OBJECT(bin), kCallbackKey));
    if (callback) {
      GError* error = nullptr;
      gst_message_parse_error(message, &error, nullptr);
      callback(g_object_get_data(G_OBJECT(bin), kUserDataKey), error ? error->message : "");
      g_clear_error(&error);
    }
  }
  GType parent = g_type_parent(G_OBJECT_TYPE(bin));
  GST_BIN_CLASS(g_type_class_peek(parent))->handle_message(bin, message);
}

void ClassInit(gpointer klass, gpointer) {
  GST_BIN_CLASS(klass)->handle_message = &HandleMessage;
}

// Registered once per process (GLib's type system); read-only afterwards.
GType WatchedType() {
  static gsize type = 0;
  if (g_once_init_enter(&type)) {
    GType derived = 0;
    if (const GType parent = ParentType()) {
      GTypeQuery query;
      g_type_query(parent, &query);
      if (query.type != 0) {
        derived =
            g_type_register_static_simple(parent, "QuorvexWatchedDecodeBin", query.class_size,
                                          &ClassInit, query.instance_size, nullptr, GTypeFlags(0));
      }
    }
    g_once_init_leave(&type, derived);
  }
  return GType(type);
}

}  // namespace

GstElement* MakeWatchedDecodeBin(StreamErrorCallback callback, void* user_data) {
  const GType type = WatchedType();
  if (type == 0)
    return gst_element_factory_make("decodebin", nullptr);
  GstElement* decoder = GST_ELEMENT(g_object_new(type, nullptr));
  g_object_set_data(G_OBJECT(decoder), kCallbackKey, reinterpret_cast<gpointer>(callback));
  g_object_set_data(G_OBJECT(decoder), kUserDataKey, user_data);
  return decoder;
}

}  // namespace quorvex::media
