#include "platform/media/Log.h"

namespace quorvex::media {
namespace {

GstDebugCategory* Category(const char* name, const char* description) {
  // gst_init may come after static initialisation: made at first use.
  return _gst_debug_category_new(name, 0, description);
}

}  // namespace

GstDebugCategory* GraphLog() {
  static GstDebugCategory* category = Category("quorvex-graph", "a movie's graph");
  return category;
}

GstDebugCategory* BackFillLog() {
  static GstDebugCategory* category =
      Category("quorvex-backfill", "decoding before a paused picture");
  return category;
}

}  // namespace quorvex::media
