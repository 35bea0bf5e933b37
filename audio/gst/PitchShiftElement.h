#pragma once

// The GStreamer element "quorvexpitchshift": a thin adapter that runs CPitchShiftFilter on
// interleaved native-endian S16 audio of one or two channels (caps are the same on both pads).
//
// Properties (any thread, also while playing; they take the filter's state lock, under which
// the streaming thread reads them once per buffer, so a change applies from the next buffer):
//   rate             gdouble, default 1.0: at 1/n every buffer's audio comes out n times longer
//                    (whole n up to 16; not positive or above 1: passed through unchanged).
//   pitch-correction gboolean, default FALSE: keep the pitch when stretching.
//
// Time. The stream time stays that of normal speed: the graph's clock runs n times slower
// and the audio sink plays with sync=false. An output buffer carries the PTS of the first
// input buffer it completes and a DURATION up to the last one's end (normal-speed time), while
// holding n times that many samples. Buffers that complete nothing are not pushed (the
// framework delivered them empty; here they would only carry stale times).
//
// Segments. A sink clips a buffer to the segment using the stop it derives from the sample
// count, which for stretched audio is n times too far; so the element clips its output itself,
// proportionally to the samples of each buffer, and sends the segment downstream without a
// stop (rates > 0). Segment start, base, time and position pass unchanged, so running and
// stream times are not affected. Durations and positions are normal-speed stream times and pass
// as GStreamer's transform base answers them.
//
// Flushes and seeks do not drop the held audio by themselves: the filter drops it when, at a
// factor other than 1, the stream comes back with lower times (a seek back) or the factor
// changes. Held audio older than a forward seek's segment start is clipped away on output.
// New caps (a format change) and going down to READY drop what is held.
//
// Buffer sizes. An output buffer is allocated at its exact size (n times the completed input
// bytes); the filter's working memory is sized once per format (about 32 x one second of
// audio of address space for the largest stretch, touched only as far as used).
//
// Latency. Up to a block of 4096 frames plus one buffer is held, and the vocoder delays by
// another 4096 frames; none of it is reported as latency, since the sink it feeds does not
// synchronise.
//
// End of stream writes "EndOfStream\n" to stderr; held audio is not sent.

#include <gst/gst.h>

namespace quorvex {

// Registers the factory "quorvexpitchshift" with the running GStreamer (gst_init first).
// Idempotent; any thread.
void RegisterPitchShiftElement();

// Registers the factory within `plugin` (the loadable plugin's entry point).
bool RegisterPitchShiftElement(GstPlugin* plugin);

}  // namespace quorvex
