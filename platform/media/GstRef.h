#pragma once

// Owning holders for GStreamer references, so that every early return releases what it took.

#include <gst/gst.h>

#include <memory>

namespace quorvex::media {

struct GstObjectUnref {
  void operator()(void* object) const { gst_object_unref(object); }
};
struct GstCapsUnref {
  void operator()(GstCaps* caps) const { gst_caps_unref(caps); }
};

// One reference to a GstObject (element, pad, clock, bus...).
template <typename T>
using GstRef = std::unique_ptr<T, GstObjectUnref>;
using CapsRef = std::unique_ptr<GstCaps, GstCapsUnref>;

}  // namespace quorvex::media
