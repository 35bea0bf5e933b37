#pragma once

// The pitch-shift audio filter: 16-bit PCM of one or two channels passes unchanged at rate 1;
// at rate 1/n every input sample comes out n times longer with its own time stamps, so that
// the audio fills the time of a clock slowed n-fold. The input is collected in blocks of 4096
// frames; with pitch correction each channel is first raised in pitch by n (phase vocoder),
// then every frame is stretched into a linear ramp of n frames, which lowers the pitch again.
//
// Stretch factor: 1 / rate truncated to a whole number. A rate that is not positive (or not a
// number) or above 1 gives factor 1 (pass-through); a rate below 1/16 gives the largest
// factor, 16, for which the output allocator is sized.
//
// Output: an input sample is sent as soon as all of its bytes have been processed; all
// samples completed by one input go out together in one output sample, with the first one's
// start and the last one's stop time, n times their length in bytes. Until then the output of
// a call is empty (0 bytes) and keeps the time stamps it was given. Neither the wait for a
// full block nor the shifter's delay (4096 frames) is compensated.
//
// Held audio is dropped only by Flush or when, at a factor other than 1, an input's stop time
// is lower than the previous one's (a seek back) or the factor has changed; at factor 1 it
// stays held, unsent. End of stream does not flush it. The last frame the stretch reached
// (`prev_frame_`) is kept for the filter's lifetime.
//
// Sizes (set by DecideBufferSize): F = the input's frames per second rounded up to a multiple
// of 4096, B = F bytes-per-frame; the byte buffers hold 2B, an output sample needs 32B (room
// for the stretch 16 of 2B). An input larger than the room left in the buffers is taken in
// pieces of at most (F - 2048) frames, each piece a sample of its own with time stamps
// interpolated by byte position, so no buffer is ever written past its end; a trailing
// partial frame is ignored.
//
// Times are carried, compared and interpolated, never converted: any unit works (the
// GStreamer element uses nanoseconds); -1 marks a sample without valid time stamps.
//
// Threads: SetRate, EnablePitchShift, GetRate and IsPitchShiftEnabled may be called on any
// thread (they take `state_lock_`, as Transform does once per input sample, so a change applies
// from the next sample on). Everything else is called on one thread at a time, the streaming
// thread: connection (ConnectInput, DecideBufferSize) must not overlap with Transform.
//
// Placement: the object embeds both pitch shifters (about 800 KB, 16-byte aligned); create it
// on the heap.

#include <cstdint>
#include <deque>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <vector>

#include "audio/CPitchShift.h"
#include "audio/MediaSample.h"

namespace quorvex {

class CPitchShiftFilter {
 public:
  static constexpr int32_t kBlockFrames = 4096;
  static constexpr int32_t kMaxFactor = 16;
  static constexpr int32_t kMaxChannels = 2;

  // `diagnostics` (not owned, must outlive the filter) receives the end-of-stream note.
  explicit CPitchShiftFilter(std::ostream* diagnostics = nullptr);
  CPitchShiftFilter(const CPitchShiftFilter&) = delete;
  CPitchShiftFilter& operator=(const CPitchShiftFilter&) = delete;

  // Play rate (1.0 at first) and pitch correction (off at first); any thread.
  audio::HRESULT SetRate(double rate);
  audio::HRESULT EnablePitchShift(bool enable);
  double GetRate() const;
  bool IsPitchShiftEnabled() const;
  static int32_t StretchFactor(double rate);

  // The input takes wave formats of 16 bits and 1 or 2 channels whose record is consistent
  // (block align = 2 x channels, bytes per second = rate x block align, rate > 0): S_OK,
  // anything else S_FALSE.
  audio::HRESULT CheckInputType(const audio::MediaType* type) const;

  // Connects the input with `type`; a type that CheckInputType refuses gives
  // VFW_E_TYPE_NOT_ACCEPTED and changes nothing. Disconnecting makes Transform fail until the
  // next DecideBufferSize.
  audio::HRESULT ConnectInput(const audio::MediaType& type);
  void DisconnectInput();

  // Sizes the buffers from the input's format and asks `allocator` for one output buffer of
  // 32B bytes, alignment 1. E_UNEXPECTED without an input connection, E_POINTER for missing
  // arguments, the failure of the allocator's SetProperties, E_OUTOFMEMORY for a rate whose buffers
  // would not fit 32-bit sizes, E_FAIL when less was granted. Everything held is dropped and the
  // shifters cleared, so a new format never meets bytes of the old one.
  audio::HRESULT DecideBufferSize(audio::IMemAllocator* allocator,
                                  audio::ALLOCATOR_PROPERTIES* request);

  // Processes `input` into `output`, whose properties (times, media times) the caller has
  // already copied from `input`. A format change comes as a new connection, not in the
  // stream. E_POINTER for a missing sample, E_UNEXPECTED before DecideBufferSize,
  // VFW_E_BUFFER_OVERFLOW when `output` is smaller than OutputBytesBound(input length); S_OK
  // otherwise, also for an empty output.
  audio::HRESULT Transform(audio::IMediaSample* input, audio::IMediaSample* output);

  // An output capacity that is always enough for the next Transform of `input_bytes` bytes
  // (streaming thread): the output allocator's 32B for the usual input sizes.
  int64_t OutputBytesBound(int32_t input_bytes) const;

  // Writes "EndOfStream\n" to the diagnostics stream. Held audio is not sent.
  audio::HRESULT EndOfStream();

  // Drops everything held and clears the shifters, as a seek back does (`prev_frame_` is
  // kept); streaming thread. For a flush: a stream that resumes at or after the time it had
  // reached cannot be told from its continuation by its time stamps.
  void Flush();

 private:
  struct Pass;  // what the inputs of one Transform produced so far

  audio::HRESULT Copy(audio::IMediaSample* input, audio::IMediaSample* output);
  void Reset();
  void PassThrough(const uint8_t* source, int32_t length, int64_t start, int64_t stop,
                   uint8_t* destination, audio::IMediaSample* output);
  void TakeIn(const uint8_t* source, int32_t length, int64_t start, int64_t stop);
  void ProcessBlocks(int32_t factor, bool pitch_shift);
  void ProcessChunk(const uint8_t* source, int32_t frames, int32_t factor, bool pitch_shift);
  void Collect(int32_t factor, uint8_t* destination, Pass& pass);
  void Stretch(const uint8_t* source, int32_t frames, int32_t factor, uint8_t* destination);

  // Guarded by state_lock_.
  double rate_ = 1.0;
  bool pitch_shift_ = false;
  mutable std::mutex state_lock_;

  // Streaming thread only (connection included).
  std::vector<uint8_t> in_buffer_;
  std::vector<uint8_t> out_buffer_;
  int32_t in_length_ = 0;
  int32_t out_length_ = 0;
  int64_t last_stop_ = 0;
  int32_t block_align_ = 1;
  uint32_t sample_rate_ = 0;
  std::deque<int64_t> start_times_;
  std::deque<int64_t> stop_times_;
  std::deque<int32_t> sample_lengths_;
  std::vector<float> in_samples_[kMaxChannels];
  std::vector<float> out_samples_[kMaxChannels];
  CPitchShift shifters_[kMaxChannels];
  int32_t channels_ = 0;
  int16_t prev_frame_[kMaxChannels] = {0, 0};
  int32_t prev_factor_ = 1;

  int32_t block_frames_ = 0;  // F: frames per second rounded up to 4096; 0 before sizing
  int32_t piece_bytes_ = 0;   // the largest input taken in at once
  std::optional<audio::MediaType> input_type_;
  std::ostream* diagnostics_;
};

}  // namespace quorvex
