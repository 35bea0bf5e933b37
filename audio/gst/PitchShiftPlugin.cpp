// Entry point of the loadable plugin, so that gst-launch-1.0 and other GStreamer programs can
// use the element (--gst-plugin-path=<build>/audio).

#include "audio/gst/PitchShiftElement.h"

// The plugin descriptor names its package through this macro.
#define PACKAGE "quorvex"

namespace {

gboolean InitPlugin(GstPlugin* plugin) {
  return quorvex::RegisterPitchShiftElement(plugin);
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, quorvexpitch,
                  "Pitch-keeping audio stretch for a slowed clock", InitPlugin, "0.1",
                  "Proprietary", "Quorvex", "https://quorvex.invalid/")
