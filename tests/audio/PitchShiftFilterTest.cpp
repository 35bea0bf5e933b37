// The pitch-shift filter on constructed samples, byte for byte, without any pipeline.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "audio/CPitchShiftFilter.h"
#include "audio/MediaSample.h"

namespace quorvex {
namespace {

using namespace audio;
using media::E_FAIL;
using media::E_INVALIDARG;
using media::E_OUTOFMEMORY;
using media::E_POINTER;
using media::E_UNEXPECTED;
using media::S_FALSE;
using media::S_OK;

struct Input {
  std::vector<int16_t> samples;  // interleaved
  int64_t start = -1;            // -1: the sample carries no times
  int64_t stop = -1;
  bool media_time = false;
  int64_t media_start = 0, media_stop = 0;
};

// What one Transform produced, with the properties the output sample ended up with.
struct Result {
  HRESULT hr = S_OK;
  std::vector<int16_t> samples;  // interleaved
  bool has_time = false;
  int64_t start = 0, stop = 0;
  bool has_media_time = false;
  int64_t media_start = 0, media_stop = 0;
};

// An allocator whose answers a test chooses.
class ScriptedAllocator final : public IMemAllocator {
 public:
  HRESULT set_result = S_OK;
  int32_t grant_buffers = -1, grant_bytes = -1;  // -1: as requested
  ALLOCATOR_PROPERTIES requested;

  HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request,
                        ALLOCATOR_PROPERTIES* actual) override {
    requested = *actual = *request;
    actual->cBuffers = grant_buffers >= 0 ? grant_buffers : actual->cBuffers;
    actual->cbBuffer = grant_bytes >= 0 ? grant_bytes : actual->cbBuffer;
    return set_result;
  }
};

// A filter connected like the framework connects it, and a framework-like Receive: the
// output sample gets the input's properties before Transform runs.
class ConnectedFilter {
 public:
  explicit ConnectedFilter(double rate = 1.0, uint16_t channels = 2) : channels_(channels) {
    Connect();
    filter_.SetRate(rate);
  }

  void Connect() {
    ALLOCATOR_PROPERTIES request;
    EXPECT_EQ(S_OK, filter_.ConnectInput(PcmType(channels_, 44100, 16)));
    EXPECT_EQ(S_OK, filter_.DecideBufferSize(&allocator_, &request));
  }

  CPitchShiftFilter& filter() { return filter_; }
  int32_t frames_of(const Result& r) const { return int32_t(r.samples.size()) / channels_; }

  Result Push(const Input& in) {
    std::vector<int16_t> data = in.samples;
    const int32_t bytes = int32_t(data.size() * sizeof(int16_t));
    // As the element does: room for what this input can complete.
    std::vector<uint8_t> memory(size_t(filter_.OutputBytesBound(bytes)));
    MemorySample input(reinterpret_cast<uint8_t*>(data.data()), bytes, bytes);
    MemorySample output(memory.data(), int32_t(memory.size()));
    if (in.start != -1) {
      input.SetTime(&in.start, &in.stop);
      output.SetTime(&in.start, &in.stop);
    }
    if (in.media_time) {
      input.SetMediaTime(&in.media_start, &in.media_stop);
      output.SetMediaTime(&in.media_start, &in.media_stop);
    }
    Result r;
    r.hr = filter_.Transform(&input, &output);
    r.samples.resize(size_t(output.GetActualDataLength()) / sizeof(int16_t));
    std::copy_n(memory.data(), r.samples.size() * sizeof(int16_t),
                reinterpret_cast<uint8_t*>(r.samples.data()));
    r.has_time = output.GetTime(&r.start, &r.stop) == S_OK;
    r.has_media_time = output.GetMediaTime(&r.media_start, &r.media_stop) == S_OK;
    return r;
  }

  // `frames` frames of a steady test signal whose values differ per frame and channel.
  std::vector<int16_t> Signal(int32_t frames, int32_t first_frame = 0) const {
    std::vector<int16_t> samples;
    for (int32_t i = first_frame; i < first_frame + frames; ++i) {
      for (int32_t c = 0; c < channels_; ++c)
        samples.push_back(int16_t((i * 7919 + c * 104729) % 60001 - 30000));
    }
    return samples;
  }

 private:
  CPitchShiftFilter filter_;
  GrantingAllocator allocator_;
  uint16_t channels_;
};

MediaType Changed(MediaType type, const std::function<void(MediaType&)>& change) {
  change(type);
  return type;
}

TEST(PitchShiftFilterTypes, InputTakesOnlyConsistentSixteenBitMonoOrStereo) {
  const MediaType stereo = PcmType(2, 44100, 16);
  const std::tuple<const char*, MediaType, HRESULT> cases[] = {
      {"mono 16-bit", PcmType(1, 48000, 16), S_OK},
      {"stereo 16-bit", stereo, S_OK},
      {"8-bit", PcmType(2, 44100, 8), S_FALSE},
      {"six channels", PcmType(6, 48000, 16), S_FALSE},
      {"no channels", PcmType(0, 48000, 16), S_FALSE},
      {"no wave format block",
       Changed(stereo, [](MediaType& t) { t.formattype = FormatType::kNone; }), S_FALSE},
      {"block align contradicts channels",
       Changed(stereo, [](MediaType& t) { t.wave.nBlockAlign = 0; }), S_FALSE},
      {"byte rate contradicts rate",
       Changed(stereo, [](MediaType& t) { t.wave.nAvgBytesPerSec += 4; }), S_FALSE},
      {"zero rate", PcmType(2, 0, 16), S_FALSE},
  };
  CPitchShiftFilter filter;
  for (const auto& [name, type, expected] : cases)
    EXPECT_EQ(expected, filter.CheckInputType(&type)) << name;
  EXPECT_EQ(E_POINTER, filter.CheckInputType(nullptr));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, filter.ConnectInput(PcmType(6, 48000, 16)));
}

// One output buffer of B x 16 x 2 bytes, F the frames per second rounded up to 4096s; a
// format whose buffer would not fit 32 bits is refused before anything is allocated.
TEST(PitchShiftFilterSizes, OutputBufferHoldsTheLargestStretchOfTwoSecondsOrFails) {
  const std::tuple<uint16_t, uint32_t, HRESULT, int32_t> formats[] = {
      {2, 44100, S_OK, 5'767'168},         // F = 45056 = 11 x 4096, B = 180224
      {1, 100, S_OK, 262'144},             // F rounds up to one block
      {2, 16'777'216, E_OUTOFMEMORY, 0}};  // B x 32 = 2^31
  for (const auto& [channels, rate, hr, bytes] : formats) {
    CPitchShiftFilter filter;
    ScriptedAllocator output;
    ALLOCATOR_PROPERTIES request;
    EXPECT_EQ(E_UNEXPECTED, filter.DecideBufferSize(&output, &request));  // unconnected
    ASSERT_EQ(S_OK, filter.ConnectInput(PcmType(channels, rate, 16)));
    ASSERT_EQ(hr, filter.DecideBufferSize(&output, &request)) << rate;
    EXPECT_EQ(bytes, output.requested.cbBuffer) << rate;
  }
  CPitchShiftFilter filter;
  ScriptedAllocator output;
  ALLOCATOR_PROPERTIES request;
  ASSERT_EQ(S_OK, filter.ConnectInput(PcmType(2, 44100, 16)));
  EXPECT_EQ(E_POINTER, filter.DecideBufferSize(nullptr, &request));
  // The output allocator's answer, the buffers and bytes it grants.
  const std::tuple<HRESULT, int32_t, int32_t, HRESULT> scripts[] = {
      {E_INVALIDARG, -1, -1, E_INVALIDARG},
      {S_OK, -1, 5'767'167, E_FAIL},  // one byte short
      {S_OK, 0, -1, E_FAIL}};
  for (const auto& [set, buffers, bytes, expected] : scripts) {
    output.set_result = set;
    std::tie(output.grant_buffers, output.grant_bytes) = std::tie(buffers, bytes);
    EXPECT_EQ(expected, filter.DecideBufferSize(&output, &request)) << bytes;
  }
}

TEST(PitchShiftFilterRate, FactorIsTheTruncatedReciprocalWithinOneToSixteen) {
  const std::pair<double, int32_t> cases[] = {{1.0, 1}, {0.5, 2},       {0.3, 3},
                                              {0.7, 1}, {1.0 / 32, 16}, {1e-300, 16},
                                              {2.0, 1}, {-0.5, 1},      {std::nan(""), 1}};
  for (const auto& [rate, factor] : cases)
    EXPECT_EQ(factor, CPitchShiftFilter::StretchFactor(rate)) << rate;
}

TEST(PitchShiftFilterTransform, FactorOneCopiesBytesTimesAndMediaTimes) {
  for (const double rate : {1.0, 2.0, std::nan("")}) {
    ConnectedFilter f(rate);
    const Input in{f.Signal(1234), 5'000, 285'000, true, 220, 1454};
    const Result r = f.Push(in);
    EXPECT_EQ(S_OK, r.hr);
    EXPECT_EQ(in.samples, r.samples) << rate;
    EXPECT_TRUE(r.has_time && r.has_media_time);
    EXPECT_EQ(std::make_tuple(5'000, 285'000, 220, 1454),
              std::make_tuple(r.start, r.stop, r.media_start, r.media_stop));
  }
}

// Every frame becomes a ramp of n frames from the previous frame (0 before the first) toward
// it, stopping one step short, each value truncated toward zero.
TEST(PitchShiftFilterTransform, EveryFrameBecomesARampFromThePreviousOne) {
  for (const int32_t n : {2, 4, 16}) {
    ConnectedFilter f(1.0 / n);
    const Input in{f.Signal(4096), 1'000, 930'000};
    const Result r = f.Push(in);
    ASSERT_EQ(S_OK, r.hr);
    ASSERT_EQ(n * in.samples.size(), r.samples.size());
    EXPECT_TRUE(r.has_time);
    EXPECT_EQ(std::make_pair(int64_t(1'000), int64_t(930'000)), std::make_pair(r.start, r.stop));
    for (size_t i = 0; i < in.samples.size(); ++i) {  // i: frame * 2 + channel
      const int32_t previous = i < 2 ? 0 : in.samples[i - 2], current = in.samples[i];
      for (int32_t j = 0; j < n; ++j) {
        ASSERT_EQ(previous + (current - previous) * j / n,
                  r.samples[(i / 2 * size_t(n) + size_t(j)) * 2 + i % 2])
            << n << " " << i << " " << j;
      }
    }
  }
  // Worked out by hand: full-scale steps do not wrap.
  ConnectedFilter mono(0.125, 1);
  std::vector<int16_t> block(4096, 0);
  block[0] = -32768;
  block[1] = 32767;
  const Result r = mono.Push({block, 0, 100});
  const std::vector<int16_t> expected = {0,      -4096,  -8192,  -12288, -16384, -20480,
                                         -24576, -28672, -32768, -24577, -16385};
  EXPECT_EQ(expected, std::vector<int16_t>(r.samples.begin(), r.samples.begin() + 11));
  ConnectedFilter untimed(0.5);
  EXPECT_FALSE(untimed.Push({untimed.Signal(4096)}).has_time);
}

// A seek back (lower stop time) drops what is held and clears the shifters: the output is a
// fresh filter's but for the first ramp, which starts at the frame before the seek.
TEST(PitchShiftFilterReset, LowerStopTimeDropsEverythingHeldAndClearsTheShifters) {
  ConnectedFilter f(0.5), fresh(0.5);
  f.filter().EnablePitchShift(true);
  fresh.filter().EnablePitchShift(true);
  f.Push({f.Signal(9000), 1000, 2000});  // two blocks, 808 frames held
  const Result r = f.Push({f.Signal(8192, 50), 0, 1000});
  const Result expected = fresh.Push({f.Signal(8192, 50), 0, 1000});
  EXPECT_EQ(std::make_pair(int64_t(0), int64_t(1000)), std::make_pair(r.start, r.stop));
  ASSERT_EQ(expected.samples.size(), r.samples.size());
  EXPECT_TRUE(std::equal(r.samples.begin() + 4, r.samples.end(), expected.samples.begin() + 4));
  // The shifter's first hop after a clear is silence.
  for (size_t i = 4; i < 2 * 2 * 1024; ++i)
    ASSERT_EQ(0, r.samples[i]) << i;
}

// Held: 3000 frames at factor 2. Had they survived the change, 1096 more would complete a
// block.
TEST(PitchShiftFilterReset, FactorOrFormatChangeDropsWhatIsHeld) {
  const std::tuple<const char*, std::function<void(ConnectedFilter&)>, int32_t> cases[] = {
      {"to factor 4", [](ConnectedFilter& f) { f.filter().SetRate(0.25); }, 4},
      {"new format", [](ConnectedFilter& f) { f.Connect(); }, 2},
      {"to factor 1 and back",
       [](ConnectedFilter& f) {
         f.filter().SetRate(1.0);
         const Input plain{f.Signal(2000, 3000), 100, 200};
         EXPECT_EQ(plain.samples, f.Push(plain).samples);  // nothing held comes along
         f.filter().SetRate(0.5);
       },
       2},
  };
  for (const auto& [name, change, factor] : cases) {
    ConnectedFilter f(0.5);
    f.Push({f.Signal(3000), 0, 100});
    change(f);
    Result r = f.Push({f.Signal(1096, 3000), 200, 300});
    EXPECT_TRUE(r.samples.empty()) << name;
    // An empty output keeps the times the framework copied from the input.
    EXPECT_EQ(std::make_pair(int64_t(200), int64_t(300)), std::make_pair(r.start, r.stop));
    r = f.Push({f.Signal(3000, 4096), 300, 400});
    EXPECT_EQ(factor * 4096, f.frames_of(r)) << name;
    EXPECT_EQ(200, r.start) << name;
  }
}

TEST(PitchShiftFilterTransform, ShiftedValuesBeyondSixteenBitsAreClamped) {
  ConnectedFilter f(0.5, 1);
  f.filter().EnablePitchShift(true);
  // A full-scale square wave overshoots after the vocoder (ringing at its edges).
  std::vector<int16_t> square(4 * 8192);
  for (size_t i = 0; i < square.size(); ++i)
    square[i] = (i / 50) % 2 ? 32767 : -32768;
  const Result r = f.Push({square, 0, 100});
  ASSERT_EQ(2 * square.size(), r.samples.size());
  int32_t at_top = 0, at_bottom = 0, largest_step = 0;
  for (size_t i = 1; i < r.samples.size(); ++i) {
    at_top += r.samples[i] == 32767;
    at_bottom += r.samples[i] == -32768;
    largest_step = std::max(largest_step, std::abs(r.samples[i] - r.samples[i - 1]));
  }
  EXPECT_GT(at_top, 100);
  EXPECT_GT(at_bottom, 100);
  EXPECT_LT(largest_step, 40000) << "wrapped values jump across the whole range";
}

TEST(PitchShiftFilterTransform, RefusalsTakeNothingInAndLeaveTheFilterUsable) {
  CPitchShiftFilter unsized;
  std::vector<uint8_t> memory(64);
  MemorySample a(memory.data(), 64, 64), b(memory.data(), 64);
  EXPECT_EQ(E_UNEXPECTED, unsized.Transform(&a, &b));
  EXPECT_EQ(E_POINTER, unsized.Transform(nullptr, &b));
  ConnectedFilter f;
  std::vector<int16_t> data = f.Signal(100);
  MemorySample input(reinterpret_cast<uint8_t*>(data.data()), 400, 400);
  std::vector<uint8_t> small(399);
  MemorySample output(small.data(), 399);
  EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, f.filter().Transform(&input, &output));
  EXPECT_EQ(data, f.Push({data, 0, 1}).samples);
}

TEST(PitchShiftFilterPieces, OversizedSampleIsTakenInPiecesWithInterpolatedTimes) {
  ConnectedFilter f(0.5);  // F = 45056 frames: a piece is at most 43008 frames
  const std::vector<int16_t> signal = f.Signal(3 * 44100);
  const Result r = f.Push({signal, 0, 3 * 44100 * 100});  // 100 units per frame
  ASSERT_EQ(S_OK, r.hr);
  // Three whole pieces of 43008 frames complete; the rest (3276 frames) waits.
  EXPECT_EQ(2 * 3 * 43008, f.frames_of(r));
  EXPECT_EQ(std::make_pair(int64_t(0), int64_t(3 * 43008 * 100)), std::make_pair(r.start, r.stop));
  // The same audio in small samples gives the same stretched frames.
  ConnectedFilter small(0.5);
  std::vector<int16_t> joined;
  for (int32_t frame = 0; frame < 3 * 44100; frame += 441) {
    const Result part = small.Push(
        {std::vector<int16_t>(signal.begin() + frame * 2, signal.begin() + (frame + 441) * 2),
         frame * 100, (frame + 441) * 100});
    joined.insert(joined.end(), part.samples.begin(), part.samples.end());
  }
  ASSERT_GE(joined.size(), r.samples.size());
  EXPECT_TRUE(std::equal(r.samples.begin(), r.samples.end(), joined.begin()));
  // A trailing half frame is ignored.
  ConnectedFilter odd(0.5);
  std::vector<int16_t> samples = odd.Signal(4096);
  samples.push_back(1234);
  EXPECT_EQ(2 * 4096 * 2, odd.Push({samples, 0, 100}).samples.size());
}

}  // namespace
}  // namespace quorvex
