#pragma once

// A decodebin that reports stream errors which decodebin itself would swallow.
//
// decodebin drops the errors of an element while it is still plugging it in. A demuxer that
// starts its streaming task on activation can fail (a movie without its index, say) before it
// leaves that window: the error is lost and the graph waits for a preroll that never comes.
// An error from an element that has already reached PAUSED is never one that decodebin could
// recover from by trying another element, so this one reports it.

#include <gst/gst.h>

namespace quorvex::media {

// Called on the streaming thread that posted the error, with the error's text.
using StreamErrorCallback = void (*)(void* user_data, const char* text);

// A new decodebin (floating reference) that calls `callback` for such errors; a plain
// decodebin when the type cannot be derived, null when there is no decodebin at all.
GstElement* MakeWatchedDecodeBin(StreamErrorCallback callback, void* user_data);

}  // namespace quorvex::media
