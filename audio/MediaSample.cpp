#include "audio/MediaSample.h"

namespace quorvex::audio {

using media::E_INVALIDARG;
using media::E_POINTER;
using media::S_OK;

MediaType PcmType(uint16_t channels, uint32_t rate, uint16_t bits) {
  MediaType type;
  type.majortype = MajorType::kAudio;
  type.subtype = SubType::kPcm;
  type.formattype = FormatType::kWaveFormatEx;
  type.wave.wFormatTag = WAVE_FORMAT_PCM;
  type.wave.nChannels = channels;
  type.wave.nSamplesPerSec = rate;
  type.wave.wBitsPerSample = bits;
  type.wave.nBlockAlign = uint16_t(channels * ((bits + 7) / 8));
  type.wave.nAvgBytesPerSec = rate * type.wave.nBlockAlign;
  return type;
}

MemorySample::MemorySample(uint8_t* data, int32_t capacity_bytes, int32_t length_bytes)
    : data_(data), capacity_(capacity_bytes), length_(length_bytes) {}

HRESULT MemorySample::GetPointer(uint8_t** data) {
  if (!data) {
    return E_POINTER;
  }
  *data = data_;
  return S_OK;
}

HRESULT MemorySample::SetActualDataLength(int32_t length) {
  if (length < 0) {
    return E_INVALIDARG;
  }
  if (length > capacity_) {
    return VFW_E_BUFFER_OVERFLOW;
  }
  length_ = length;
  return S_OK;
}

HRESULT MemorySample::GetTime(int64_t* start, int64_t* stop) {
  if (!start || !stop) {
    return E_POINTER;
  }
  if (!has_start_) {
    return VFW_E_SAMPLE_TIME_NOT_SET;
  }
  *start = start_;
  if (!has_stop_) {
    *stop = start_ + 1;
    return VFW_S_NO_STOP_TIME;
  }
  *stop = stop_;
  return S_OK;
}

HRESULT MemorySample::SetTime(const int64_t* start, const int64_t* stop) {
  has_start_ = start != nullptr;
  has_stop_ = has_start_ && stop != nullptr;
  start_ = has_start_ ? *start : 0;
  stop_ = has_stop_ ? *stop : 0;
  return S_OK;
}

HRESULT MemorySample::GetMediaTime(int64_t* start, int64_t* stop) {
  if (!start || !stop) {
    return E_POINTER;
  }
  if (!has_media_time_) {
    return VFW_E_MEDIA_TIME_NOT_SET;
  }
  *start = media_start_;
  *stop = media_stop_;
  return S_OK;
}

HRESULT MemorySample::SetMediaTime(const int64_t* start, const int64_t* stop) {
  if (start && !stop) {
    return E_POINTER;
  }
  has_media_time_ = start != nullptr;
  media_start_ = has_media_time_ ? *start : 0;
  media_stop_ = has_media_time_ ? *stop : 0;
  return S_OK;
}

HRESULT GrantingAllocator::SetProperties(const ALLOCATOR_PROPERTIES* request,
                                         ALLOCATOR_PROPERTIES* actual) {
  if (!request || !actual) {
    return E_POINTER;
  }
  *actual = *request;
  return S_OK;
}

}  // namespace quorvex::audio
