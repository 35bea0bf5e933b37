#pragma once

// The media framework's result codes. The pitch-shift filter's contract is written in them, and
// the channel's replies carry the same codes (engine/ChannelTerms.h adds the channel's seeking
// flags, events and time unit). Header-only and free of GStreamer, so that the user-interface
// side can interpret replies without linking it. Nothing below the filter speaks them: the
// graph (platform/media) reports with bool, std::optional and its own events.

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

inline constexpr bool SUCCEEDED(HRESULT hr) {
  return hr >= 0;
}
inline constexpr bool FAILED(HRESULT hr) {
  return hr < 0;
}

}  // namespace quorvex::media
