#pragma once

// The channel's terms, produced and read only at CMovie's edge and in the channel's records:
// result codes (audio/Results.h), the seeking flags of SetPositions, the graph's event codes
// and the 100 ns time unit. Below this edge everything counts in nanoseconds and reports with
// bool, std::optional or a small status enumeration. Header-only and free of GStreamer: the
// user-interface side reads replies with it.

#include <cstdint>
#include <limits>

#include "audio/Results.h"

namespace quorvex::media {

// Seeking flags of SetPositions (per position).
inline constexpr uint32_t AM_SEEKING_NoPositioning = 0x0;
inline constexpr uint32_t AM_SEEKING_AbsolutePositioning = 0x1;
inline constexpr uint32_t AM_SEEKING_RelativePositioning = 0x2;
inline constexpr uint32_t AM_SEEKING_IncrementalPositioning = 0x3;
inline constexpr uint32_t AM_SEEKING_PositioningBitsMask = 0x3;
inline constexpr uint32_t AM_SEEKING_SeekToKeyFrame = 0x4;
inline constexpr uint32_t AM_SEEKING_ReturnTime = 0x8;

// Graph events, as the original event interface numbered them.
inline constexpr int32_t EC_COMPLETE = 0x01;
inline constexpr int32_t EC_USERABORT = 0x02;
inline constexpr int32_t EC_ERRORABORT = 0x03;

// Times on the channel are signed 64-bit counts of 100 ns.
inline constexpr int64_t kUnitsPerSecond = 10'000'000;
inline constexpr int64_t kNsPerUnit = 100;

// Nanoseconds to the channel's units: truncated toward zero, as the channel has always
// reported positions.
inline constexpr int64_t UnitsFromNs(int64_t ns) {
  return ns / kNsPerUnit;
}
// The channel's units to nanoseconds, saturating instead of overflowing.
inline constexpr int64_t NsFromUnits(int64_t units) {
  constexpr int64_t kMost = std::numeric_limits<int64_t>::max() / kNsPerUnit;
  if (units > kMost)
    return std::numeric_limits<int64_t>::max();
  if (units < -kMost)
    return std::numeric_limits<int64_t>::min();
  return units * kNsPerUnit;
}

}  // namespace quorvex::media
