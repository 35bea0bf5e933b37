#pragma once

// One way to decode a file, for every user of it: a decodebin that decodes only what its user
// needs. Streams of the kind that is not wanted stop at their encoded caps (containers are
// still opened), so their pads come out encoded for the caller to drop, and nothing is spent
// decoding them. The graph decodes both, the back filler only the pictures, the start-sound
// search and the export's sound reader only the sound, the export's picture reader only the
// pictures.

#include <gst/gst.h>

#include "platform/media/WatchedDecodeBin.h"

namespace quorvex::media {

enum class Decode { kPictures, kSound, kPicturesAndSound };

struct DecodeOptions {
  Decode what = Decode::kPicturesAndSound;
  // No hardware decoder is plugged (a retry after one failed on the stream).
  bool software_only = false;
  // Threads a software decoder may use; 0: its own choice (one per core).
  int threads = 0;
  // Told of stream errors that decodebin would swallow (WatchedDecodeBin.h); null: nobody.
  StreamErrorCallback on_error = nullptr;
  void* user_data = nullptr;
};

// A decodebin (floating reference) set up as `options` say; its sink pad takes the file's
// bytes (a filesrc before it). Null when decodebin is not installed.
GstElement* MakeDecoder(const DecodeOptions& options);

// Whether the factory's elements decode on a hardware device (the VA-API plugins).
bool IsHardwareFactory(GstElementFactory* factory);

}  // namespace quorvex::media
