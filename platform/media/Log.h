#pragma once

// The media layer's log: GStreamer debug categories, quiet by default, switched on with
// GST_DEBUG (for example GST_DEBUG=quorvex-graph:4,quorvex-backfill:4).

#include <gst/gst.h>

namespace quorvex::media {

GstDebugCategory* GraphLog();
GstDebugCategory* BackFillLog();

}  // namespace quorvex::media
