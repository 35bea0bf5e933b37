#pragma once

// Result codes, seeking flags and event codes of the media-graph services. Header-only and free
// of GStreamer, so that the user-interface side can interpret replies without linking it.

#include <cstdint>

namespace quorvex::media {

using HRESULT = int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = int32_t(0x80004001u);
inline constexpr HRESULT E_POINTER = int32_t(0x80004003u);
inline constexpr HRESULT E_FAIL = int32_t(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = int32_t(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = int32_t(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = int32_t(0x80070057u);
inline constexpr HRESULT E_ABORT = int32_t(0x80004004u);

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// Seeking flags of SetPositions (per position).
inline constexpr uint32_t AM_SEEKING_NoPositioning = 0x0;
inline constexpr uint32_t AM_SEEKING_AbsolutePositioning = 0x1;
inline constexpr uint32_t AM_SEEKING_RelativePositioning = 0x2;
inline constexpr uint32_t AM_SEEKING_IncrementalPositioning = 0x3;
inline constexpr uint32_t AM_SEEKING_PositioningBitsMask = 0x3;
inline constexpr uint32_t AM_SEEKING_SeekToKeyFrame = 0x4;
inline constexpr uint32_t AM_SEEKING_ReturnTime = 0x8;

// Graph events.
inline constexpr int32_t EC_COMPLETE = 0x01;
inline constexpr int32_t EC_USERABORT = 0x02;
inline constexpr int32_t EC_ERRORABORT = 0x03;

// Times are signed 64-bit counts of 100 ns.
inline constexpr int64_t kUnitsPerSecond = 10'000'000;

}  // namespace quorvex::media
