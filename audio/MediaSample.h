#pragma once

// The small media vocabulary that the pitch-shift filter works on, free of GStreamer: a media
// type with its wave-format record, a media sample (a view of bytes with time stamps and media
// times) and an allocator's properties. The GStreamer element maps caps and buffers onto these;
// tests build them by hand.
//
// Units: times are signed 64-bit values that the filter only compares and carries; the
// element uses nanoseconds, the framework's own unit is 100 ns. Lengths are bytes.

#include <cstdint>

#include "audio/Results.h"

namespace quorvex::audio {

using media::HRESULT;

// Codes of the sample and pin contract (values as the framework defines them).
inline constexpr HRESULT VFW_S_NO_STOP_TIME = 0x00040270;
inline constexpr HRESULT VFW_E_NOT_CONNECTED = int32_t(0x80040209u);
inline constexpr HRESULT VFW_E_BUFFER_OVERFLOW = int32_t(0x8004020Du);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = int32_t(0x8004022Au);
inline constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = int32_t(0x80040249u);
inline constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = int32_t(0x80040251u);

enum class MajorType { kUnknown, kAudio, kVideo };
enum class SubType { kUnknown, kPcm, kIeeeFloat };
enum class FormatType { kNone, kWaveFormatEx };

inline constexpr uint16_t WAVE_FORMAT_PCM = 1;

// The wave format record, field for field.
struct WAVEFORMATEX {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;

  bool operator==(const WAVEFORMATEX&) const = default;
};

// A media type; `wave` is its format block when `formattype` is kWaveFormatEx.
struct MediaType {
  MajorType majortype = MajorType::kUnknown;
  SubType subtype = SubType::kUnknown;
  FormatType formattype = FormatType::kNone;
  WAVEFORMATEX wave;

  bool operator==(const MediaType&) const = default;
};

// Interleaved integer PCM of `channels` channels at `rate` frames per second, every field of
// the record consistent (block align, bytes per second).
MediaType PcmType(uint16_t channels, uint32_t rate, uint16_t bits);

// One buffer of media data with its properties, as a filter sees it.
class IMediaSample {
 public:
  virtual ~IMediaSample() = default;

  virtual HRESULT GetPointer(uint8_t** data) = 0;
  // Capacity in bytes.
  virtual int32_t GetSize() = 0;
  virtual int32_t GetActualDataLength() = 0;
  // VFW_E_BUFFER_OVERFLOW beyond the capacity, E_INVALIDARG when negative.
  virtual HRESULT SetActualDataLength(int32_t length) = 0;
  // S_OK with both times; VFW_S_NO_STOP_TIME with a start only (stop = start + 1);
  // VFW_E_SAMPLE_TIME_NOT_SET without times.
  virtual HRESULT GetTime(int64_t* start, int64_t* stop) = 0;
  // Null start clears both times; null stop sets a start only.
  virtual HRESULT SetTime(const int64_t* start, const int64_t* stop) = 0;
  // S_OK with both media times, VFW_E_MEDIA_TIME_NOT_SET otherwise.
  virtual HRESULT GetMediaTime(int64_t* start, int64_t* stop) = 0;
  // Null start clears them.
  virtual HRESULT SetMediaTime(const int64_t* start, const int64_t* stop) = 0;
};

// A sample over memory that it does not own: `capacity_bytes` bytes at `data` must outlive it.
// Not thread-safe; one thread uses a sample at a time.
class MemorySample final : public IMediaSample {
 public:
  MemorySample(uint8_t* data, int32_t capacity_bytes, int32_t length_bytes = 0);

  HRESULT GetPointer(uint8_t** data) override;
  int32_t GetSize() override { return capacity_; }
  int32_t GetActualDataLength() override { return length_; }
  HRESULT SetActualDataLength(int32_t length) override;
  HRESULT GetTime(int64_t* start, int64_t* stop) override;
  HRESULT SetTime(const int64_t* start, const int64_t* stop) override;
  HRESULT GetMediaTime(int64_t* start, int64_t* stop) override;
  HRESULT SetMediaTime(const int64_t* start, const int64_t* stop) override;

 private:
  uint8_t* data_;
  int32_t capacity_;
  int32_t length_;
  bool has_start_ = false;
  bool has_stop_ = false;
  int64_t start_ = 0;
  int64_t stop_ = 0;
  bool has_media_time_ = false;
  int64_t media_start_ = 0;
  int64_t media_stop_ = 0;
};

// What a filter asks of the allocator of its output, and what it is granted.
struct ALLOCATOR_PROPERTIES {
  int32_t cBuffers = 0;
  int32_t cbBuffer = 0;
  int32_t cbAlign = 0;
  int32_t cbPrefix = 0;
};

class IMemAllocator {
 public:
  virtual ~IMemAllocator() = default;
  virtual HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request,
                                ALLOCATOR_PROPERTIES* actual) = 0;
};

// Grants every request as asked: the allocator of an adapter that provides
// the memory itself once it knows the size.
class GrantingAllocator final : public IMemAllocator {
 public:
  HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
};

}  // namespace quorvex::audio
