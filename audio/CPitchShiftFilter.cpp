#include "audio/CPitchShiftFilter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <iostream>

namespace quorvex {

using audio::ALLOCATOR_PROPERTIES;
using audio::FormatType;
using audio::HRESULT;
using audio::IMediaSample;
using audio::IMemAllocator;
using audio::MediaType;
using audio::VFW_E_BUFFER_OVERFLOW;
using media::E_FAIL;
using media::E_INVALIDARG;
using media::E_OUTOFMEMORY;
using media::E_POINTER;
using media::E_UNEXPECTED;
using media::FAILED;
using media::S_FALSE;
using media::S_OK;

namespace {

constexpr int32_t kOversampling = 4;
constexpr int32_t kBytesPerSample = 2;

int16_t LoadSample(const uint8_t* at) {
  int16_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void StoreSample(uint8_t* at, int16_t value) {
  std::memcpy(at, &value, sizeof value);
}

// The shifter's output back to 16 bits: it carries the transforms' 1/4096 besides the 16-bit
// scale; beyond the range it is clamped, then truncated toward zero.
int16_t ToSample(float value) {
  float v = value * 32768.0f * 4096.0f;
  if (std::isnan(v)) {
    return 0;
  }
  v = std::clamp(v, -32768.0f, 32767.0f);
  return int16_t(v);
}

// The time at byte `offset` of a sample spanning [start, stop] over `length` bytes.
int64_t TimeAt(int64_t start, int64_t stop, int32_t offset, int32_t length) {
  if (offset == 0) {
    return start;
  }
  if (start == -1 || offset >= length) {
    return stop;
  }
  const __int128 span = __int128(stop) - start;
  return int64_t(start + span * offset / length);
}

}  // namespace

// What the pieces of one input have completed so far: M, and the first start / last stop.
struct CPitchShiftFilter::Pass {
  int64_t bytes = 0;
  int64_t start = -1;
  int64_t stop = -1;
};

CPitchShiftFilter::CPitchShiftFilter(std::ostream* diagnostics)
    : diagnostics_(diagnostics ? diagnostics : &std::cerr) {}

HRESULT CPitchShiftFilter::SetRate(double rate) {
  std::lock_guard lock(state_lock_);
  rate_ = rate;
  return S_OK;
}

HRESULT CPitchShiftFilter::EnablePitchShift(bool enable) {
  std::lock_guard lock(state_lock_);
  pitch_shift_ = enable;
  return S_OK;
}

double CPitchShiftFilter::GetRate() const {
  std::lock_guard lock(state_lock_);
  return rate_;
}

bool CPitchShiftFilter::IsPitchShiftEnabled() const {
  std::lock_guard lock(state_lock_);
  return pitch_shift_;
}

int32_t CPitchShiftFilter::StretchFactor(double rate) {
  if (!(rate > 0.0) || rate > 1.0) {
    return 1;
  }
  const double inverse = 1.0 / rate;
  if (!(inverse < kMaxFactor)) {
    return kMaxFactor;
  }
  return int32_t(inverse);
}

HRESULT CPitchShiftFilter::CheckInputType(const MediaType* type) const {
  if (!type) {
    return E_POINTER;
  }
  if (type->formattype != FormatType::kWaveFormatEx) {
    return S_FALSE;
  }
  const audio::WAVEFORMATEX& wave = type->wave;
  const bool sixteen_bits = wave.wBitsPerSample == 16;
  const bool channels = wave.nChannels == 1 || wave.nChannels == 2;
  // A record whose sizes contradict each other would size the buffers wrongly (or divide
  // by zero), so it is refused as well.
  const bool consistent =
      wave.nSamplesPerSec > 0 && wave.nBlockAlign == wave.nChannels * kBytesPerSample &&
      uint64_t(wave.nAvgBytesPerSec) == uint64_t(wave.nSamplesPerSec) * wave.nBlockAlign;
  return sixteen_bits && channels && consistent ? S_OK : S_FALSE;
}

HRESULT CPitchShiftFilter::ConnectInput(const MediaType& type) {
  const HRESULT accepted = CheckInputType(&type);
  if (accepted != S_OK) {
    return FAILED(accepted) ? accepted : audio::VFW_E_TYPE_NOT_ACCEPTED;
  }
  input_type_ = type;
  return S_OK;
}

void CPitchShiftFilter::DisconnectInput() {
  input_type_.reset();
  block_frames_ = 0;
}

HRESULT CPitchShiftFilter::DecideBufferSize(IMemAllocator* allocator,
                                            ALLOCATOR_PROPERTIES* request) {
  if (!input_type_) {
    return E_UNEXPECTED;
  }
  if (!allocator || !request) {
    return E_POINTER;
  }
  request->cBuffers = 1;
  request->cbAlign = 1;
  const audio::WAVEFORMATEX& wave = input_type_->wave;
  const int64_t per_second = wave.nAvgBytesPerSec / wave.nBlockAlign;
  const int64_t frames = (per_second + kBlockFrames - 1) / kBlockFrames * kBlockFrames;
  const int64_t bytes = frames * wave.nBlockAlign;  // B
  if (bytes * 2 * kMaxFactor > INT32_MAX) {
    return E_OUTOFMEMORY;
  }
  block_align_ = wave.nBlockAlign;
  sample_rate_ = wave.nSamplesPerSec;
  channels_ = wave.nChannels;
  block_frames_ = int32_t(frames);
  // Pieces of at most F - 2048 frames keep every pass within the buffers: fewer than 4096
  // frames wait in in_buffer_, fewer than a piece's bytes in out_buffer_, so both stay
  // under 2B and a pass never converts more than F frames.
  piece_bytes_ = (block_frames_ - kBlockFrames / 2) * block_align_;
  in_buffer_.assign(size_t(2 * bytes), 0);
  out_buffer_.assign(size_t(2 * bytes), 0);
  for (int32_t c = 0; c < kMaxChannels; ++c) {
    const size_t size = c < channels_ ? size_t(frames) : 0;
    in_samples_[c].assign(size, 0.0f);
    out_samples_[c].assign(size, 0.0f);
  }
  Reset();
  request->cbBuffer = int32_t(bytes * kMaxFactor * 2);
  ALLOCATOR_PROPERTIES actual;
  if (const HRESULT hr = allocator->SetProperties(request, &actual); FAILED(hr)) {
    return hr;
  }
  if (actual.cBuffers < request->cBuffers || actual.cbBuffer < request->cbBuffer) {
    return E_FAIL;
  }
  return S_OK;
}

int64_t CPitchShiftFilter::OutputBytesBound(int32_t input_bytes) const {
  const int64_t input = std::max(input_bytes, 0);
  return std::max(input, kMaxFactor * (int64_t(in_length_) + out_length_ + input));
}

HRESULT CPitchShiftFilter::Transform(IMediaSample* input, IMediaSample* output) {
  if (!input || !output) {
    return E_POINTER;
  }
  const HRESULT hr = Copy(input, output);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CPitchShiftFilter::EndOfStream() {
  *diagnostics_ << "EndOfStream\n" << std::flush;
  return S_OK;
}

HRESULT CPitchShiftFilter::Copy(IMediaSample* input, IMediaSample* output) {
  if (!input || !output) {
    return E_POINTER;
  }
  if (block_frames_ == 0) {
    return E_UNEXPECTED;
  }
  uint8_t* source = nullptr;
  uint8_t* destination = nullptr;
  if (FAILED(input->GetPointer(&source)) || FAILED(output->GetPointer(&destination))) {
    return E_POINTER;
  }
  const int32_t length = input->GetActualDataLength();
  if (length < 0) {
    return E_INVALIDARG;
  }
  if (output->GetSize() < OutputBytesBound(length)) {
    return VFW_E_BUFFER_OVERFLOW;
  }
  int64_t start = -1;
  int64_t stop = -1;
  if (input->GetTime(&start, &stop) != S_OK) {
    start = stop = -1;
  }
  double rate;
  bool pitch_shift;
  {
    std::lock_guard lock(state_lock_);
    rate = rate_;
    pitch_shift = pitch_shift_;
  }
  const int32_t factor = StretchFactor(rate);
  // A seek back (lower stop time) or a new factor makes what is held meaningless.
  if (factor != 1 && (stop < last_stop_ || factor != prev_factor_)) {
    Reset();
  }
  prev_factor_ = factor;

  if (factor == 1) {
    PassThrough(source, length, start, stop, destination, output);
  } else {
    const int32_t usable = length - length % block_align_;
    Pass pass;
    int32_t offset = 0;
    do {
      const int32_t piece = std::min(usable - offset, piece_bytes_);
      TakeIn(source + offset, piece, TimeAt(start, stop, offset, usable),
             TimeAt(start, stop, offset + piece, usable));
      ProcessBlocks(factor, pitch_shift);
      Collect(factor, destination, pass);
      offset += piece;
    } while (offset < usable);
    if (pass.start != -1) {
      output->SetTime(&pass.start, &pass.stop);
    }
    output->SetActualDataLength(int32_t(pass.bytes * factor));
  }

  int64_t media_start;
  int64_t media_stop;
  if (input->GetMediaTime(&media_start, &media_stop) == S_OK) {
    output->SetMediaTime(&media_start, &media_stop);
  }
  return S_OK;
}

void CPitchShiftFilter::Flush() {
  Reset();
}

void CPitchShiftFilter::Reset() {
  in_length_ = 0;
  last_stop_ = 0;
  start_times_.clear();
  stop_times_.clear();
  sample_lengths_.clear();
  out_length_ = 0;
  for (int32_t c = 0; c < channels_; ++c) {
    shifters_[c].Clear();
  }
}

void CPitchShiftFilter::PassThrough(const uint8_t* source, int32_t length, int64_t start,
                                    int64_t stop, uint8_t* destination, IMediaSample* output) {
  if (length > 0) {
    std::memcpy(destination, source, size_t(length));
  }
  if (start != -1) {
    output->SetTime(&start, &stop);
  }
  output->SetActualDataLength(length);
}

void CPitchShiftFilter::TakeIn(const uint8_t* source, int32_t length, int64_t start, int64_t stop) {
  if (length > 0) {
    std::memcpy(in_buffer_.data() + in_length_, source, size_t(length));
  }
  in_length_ += length;
  last_stop_ = stop;
  start_times_.push_back(start);
  stop_times_.push_back(stop);
  sample_lengths_.push_back(length);
}

void CPitchShiftFilter::ProcessBlocks(int32_t factor, bool pitch_shift) {
  const int32_t block_bytes = block_align_ * kBlockFrames;
  const int32_t whole = in_length_ / block_bytes * block_bytes;  // P
  for (int32_t done = 0; done < whole;) {
    // The float vectors hold F frames; the shifter's output does not depend on how its
    // input is split into calls.
    const int32_t frames = std::min((whole - done) / block_align_, block_frames_);
    ProcessChunk(in_buffer_.data() + done, frames, factor, pitch_shift);
    done += frames * block_align_;
  }
  if (whole > 0) {
    std::memmove(in_buffer_.data(), in_buffer_.data() + whole, size_t(in_length_ - whole));
    in_length_ -= whole;
  }
}

void CPitchShiftFilter::ProcessChunk(const uint8_t* source, int32_t frames, int32_t factor,
                                     bool pitch_shift) {
  for (int32_t i = 0; i < frames; ++i) {
    for (int32_t c = 0; c < channels_; ++c) {
      in_samples_[c][i] = LoadSample(source + (i * channels_ + c) * kBytesPerSample) / 32768.0f;
    }
  }
  for (int32_t c = 0; c < channels_; ++c) {
    const float* in = in_samples_[c].data();
    float* out = out_samples_[c].data();
    if (pitch_shift) {
      shifters_[c].smbPitchShift(float(factor), frames, kBlockFrames, kOversampling,
                                 float(sample_rate_), in, out);
    } else {
      // Undoes the 4096 that the conversion back applies for the shifter's level.
      for (int32_t i = 0; i < frames; ++i) {
        out[i] = in[i] / 4096.0f;
      }
    }
  }
  uint8_t* destination = out_buffer_.data() + out_length_;
  for (int32_t i = 0; i < frames; ++i) {
    for (int32_t c = 0; c < channels_; ++c) {
      StoreSample(destination + (i * channels_ + c) * kBytesPerSample,
                  ToSample(out_samples_[c][i]));
    }
  }
  out_length_ += frames * block_align_;
}

void CPitchShiftFilter::Collect(int32_t factor, uint8_t* destination, Pass& pass) {
  const int32_t held = out_length_;
  int32_t completed = 0;
  while (!sample_lengths_.empty() && sample_lengths_.front() <= out_length_) {
    if (pass.bytes + completed == 0) {
      pass.start = start_times_.front();
    }
    pass.stop = stop_times_.front();
    completed += sample_lengths_.front();
    out_length_ -= sample_lengths_.front();
    start_times_.pop_front();
    stop_times_.pop_front();
    sample_lengths_.pop_front();
  }
  if (completed == 0) {
    return;
  }
  Stretch(out_buffer_.data(), completed / block_align_, factor, destination + pass.bytes * factor);
  pass.bytes += completed;
  if (held > completed) {
    std::memmove(out_buffer_.data(), out_buffer_.data() + completed, size_t(held - completed));
  }
}

// Every frame becomes a ramp of `factor` frames from the previous frame toward this one, in
// 32-bit integer arithmetic truncated toward zero.
void CPitchShiftFilter::Stretch(const uint8_t* source, int32_t frames, int32_t factor,
                                uint8_t* destination) {
  int32_t current[kMaxChannels] = {0, 0};
  int32_t diff[kMaxChannels] = {0, 0};
  for (int32_t i = 0; i < frames; ++i) {
    for (int32_t c = 0; c < channels_; ++c) {
      current[c] = LoadSample(source + (i * channels_ + c) * kBytesPerSample);
      diff[c] = current[c] - prev_frame_[c];
    }
    for (int32_t k = 0; k < factor; ++k) {
      for (int32_t c = 0; c < channels_; ++c) {
        StoreSample(destination, int16_t(prev_frame_[c] + diff[c] * k / factor));
        destination += kBytesPerSample;
      }
    }
    for (int32_t c = 0; c < channels_; ++c) {
      prev_frame_[c] = int16_t(current[c]);
    }
  }
}

}  // namespace quorvex
