// The pitch-shift filter on constructed samples, byte for byte, without any pipeline.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/CPitchShiftFilter.h"
#include "audio/MediaSample.h"

namespace quorvex {
namespace {

using namespace audio;
using namespace media;

struct Result {
  std::vector<int16_t> samples;  // interleaved
  int64_t start = 0, stop = 0;
};

// An allocator that grants one byte less than asked.
struct ShortAllocator final : public IMemAllocator {
  HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request,
                        ALLOCATOR_PROPERTIES* actual) override {
    (*actual = *request).cbBuffer -= 1;
    return S_OK;
  }
};

// A filter connected like the framework connects it, and a framework-like Receive: the
// output sample gets the input's times (none when start is -1) before Transform runs.
struct ConnectedFilter {
  CPitchShiftFilter filter;
  GrantingAllocator allocator;

  explicit ConnectedFilter(double rate = 1.0, uint16_t channels = 2) {
    ALLOCATOR_PROPERTIES request;
    EXPECT_EQ(S_OK, filter.ConnectInput(PcmType(channels, 44100, 16)));
    EXPECT_EQ(S_OK, filter.DecideBufferSize(&allocator, &request));
    filter.SetRate(rate);
  }
  Result Push(std::vector<int16_t> data, int64_t start = -1, int64_t stop = -1) {
    const int32_t bytes = int32_t(data.size() * 2);
    // As the element does: room for what this input can complete.
    Result r{std::vector<int16_t>(size_t(filter.OutputBytesBound(bytes)) / 2)};
    MemorySample input(reinterpret_cast<uint8_t*>(data.data()), bytes, bytes);
    MemorySample output(reinterpret_cast<uint8_t*>(r.samples.data()),
                        int32_t(r.samples.size() * 2));
    if (start != -1)
      input.SetTime(&start, &stop), output.SetTime(&start, &stop);
    EXPECT_EQ(S_OK, filter.Transform(&input, &output));
    r.samples.resize(size_t(output.GetActualDataLength()) / 2);
    output.GetTime(&r.start, &r.stop);
    return r;
  }
};

// `frames` stereo frames of a steady test signal whose values differ per frame and channel.
std::vector<int16_t> Signal(int32_t frames, int32_t first_frame = 0) {
  std::vector<int16_t> samples;
  for (int32_t i = first_frame; i < first_frame + frames; ++i)
    samples.push_back(int16_t(i * 7919 % 60001 - 30000)), samples.push_back(int16_t(i * 31 - 9999));
  return samples;
}

// Bad formats and buffers are refused; a refused sample takes nothing in.
TEST(PitchShiftFilterTypes, RefusalsLeaveTheFilterUsableAndRateGivesTheFactor) {
  MediaType bad_align = PcmType(2, 44100, 16);
  bad_align.wave.nBlockAlign = 0;  // would divide by zero when sizing the buffers
  CPitchShiftFilter unsized;
  EXPECT_EQ(S_FALSE, unsized.CheckInputType(&bad_align));
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, unsized.ConnectInput(PcmType(2, 44100, 8)));
  std::vector<int16_t> data = Signal(100);
  MemorySample input(reinterpret_cast<uint8_t*>(data.data()), 400, 400);
  std::vector<uint8_t> small(399);
  MemorySample output(small.data(), 399);
  EXPECT_EQ(E_UNEXPECTED, unsized.Transform(&input, &output));
  ConnectedFilter f;
  EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, f.filter.Transform(&input, &output));
  EXPECT_EQ(data, f.Push(data, 0, 1).samples);
  // The stretch factor: the truncated reciprocal of the rate within 1 to 16.
  const std::pair<double, int32_t> cases[] = {{0.5, 2},       {0.3, 3}, {0.7, 1},
                                              {1.0 / 32, 16}, {2.0, 1}, {std::nan(""), 1}};
  for (const auto& [rate, factor] : cases)
    EXPECT_EQ(factor, CPitchShiftFilter::StretchFactor(rate)) << rate;
}

// One output buffer of B x 16 x 2 bytes, F the frames per second rounded up to 4096s; a
// format whose buffer would not fit 32 bits is refused before anything is allocated.
TEST(PitchShiftFilterSizes, OutputBufferHoldsTheLargestStretchOfTwoSecondsOrFails) {
  const std::tuple<uint16_t, uint32_t, HRESULT, int32_t> formats[] = {
      {2, 44100, S_OK, 5'767'168},         // F = 45056 = 11 x 4096, B = 180224
      {1, 100, S_OK, 262'144},             // F rounds up to one block
      {2, 16'777'216, E_OUTOFMEMORY, 0}};  // B x 32 = 2^31
  ALLOCATOR_PROPERTIES request;
  for (const auto& [channels, rate, hr, bytes] : formats) {
    CPitchShiftFilter filter;
    GrantingAllocator output;
    ASSERT_EQ(S_OK, filter.ConnectInput(PcmType(channels, rate, 16)));
    ASSERT_EQ(hr, filter.DecideBufferSize(&output, &request)) << rate;
    EXPECT_EQ(bytes, hr == S_OK ? request.cbBuffer : 0) << rate;
  }
  CPitchShiftFilter filter;
  ShortAllocator output;
  ASSERT_EQ(S_OK, filter.ConnectInput(PcmType(2, 44100, 16)));
  EXPECT_EQ(E_FAIL, filter.DecideBufferSize(&output, &request));
}

// Every frame becomes a ramp of n frames from the previous frame
// (0 before the first) toward it, stopping one step short, each value truncated toward zero.
TEST(PitchShiftFilterTransform, EveryFrameBecomesARampFromThePreviousOne) {
  for (const int32_t n : {2, 16}) {
    ConnectedFilter f(1.0 / n);
    const std::vector<int16_t> in = Signal(4096);
    const Result r = f.Push(in, 1'000, 930'000);
    ASSERT_EQ(n * in.size(), r.samples.size());
    EXPECT_EQ(std::make_pair(int64_t(1'000), int64_t(930'000)), std::make_pair(r.start, r.stop));
    for (size_t i = 0; i < in.size(); ++i) {  // i: frame * 2 + channel
      const int32_t previous = i < 2 ? 0 : in[i - 2];
      for (int32_t j = 0; j < n; ++j) {
        ASSERT_EQ(previous + (in[i] - previous) * j / n,
                  r.samples[(i / 2 * size_t(n) + size_t(j)) * 2 + i % 2])
            << n << " " << i << " " << j;
      }
    }
  }
}

// A seek back (lower stop time) drops what is held and clears the shifters: the output is a
// fresh filter's but for the first ramp, which starts at the frame before the seek; the
// shifter's first hop after a clear is silence.
TEST(PitchShiftFilterReset, LowerStopTimeDropsEverythingHeldAndClearsTheShifters) {
  ConnectedFilter f(0.5), fresh(0.5);
  f.filter.EnablePitchShift(true);
  fresh.filter.EnablePitchShift(true);
  f.Push(Signal(9000), 1000, 2000);  // two blocks, 808 frames held
  const Result r = f.Push(Signal(8192, 50), 0, 1000);
  const Result expected = fresh.Push(Signal(8192, 50), 0, 1000);
  ASSERT_EQ(expected.samples.size(), r.samples.size());
  EXPECT_TRUE(std::equal(r.samples.begin() + 4, r.samples.end(), expected.samples.begin() + 4));
  EXPECT_TRUE(std::all_of(&r.samples[4], &r.samples[4096], [](int16_t v) { return v == 0; }));
}

// A full-scale square wave overshoots after the vocoder (ringing at its edges): clamped, not
// wrapped across the whole range.
TEST(PitchShiftFilterTransform, ShiftedValuesBeyondSixteenBitsAreClamped) {
  ConnectedFilter f(0.5, 1);
  f.filter.EnablePitchShift(true);
  std::vector<int16_t> square(4 * 8192);
  for (size_t i = 0; i < square.size(); ++i)
    square[i] = (i / 50) % 2 ? 32767 : -32768;
  const Result r = f.Push(square, 0, 100);
  EXPECT_GT(std::count(r.samples.begin(), r.samples.end(), 32767), 100);
  EXPECT_EQ(r.samples.end(),
            std::adjacent_find(r.samples.begin(), r.samples.end(),
                               [](int a, int b) { return std::abs(a - b) > 40000; }));
}

TEST(PitchShiftFilterPieces, OversizedSampleIsTakenInPiecesWithInterpolatedTimes) {
  ConnectedFilter f(0.5);  // F = 45056 frames: a piece is at most 43008 frames
  const std::vector<int16_t> signal = Signal(3 * 44100);
  const Result r = f.Push(signal, 0, 3 * 44100 * 100);  // 100 units per frame
  // Three whole pieces of 43008 frames complete; the rest (3276 frames) waits.
  EXPECT_EQ(2 * 3 * 43008, int32_t(r.samples.size() / 2));
  EXPECT_EQ(std::make_pair(int64_t(0), int64_t(3 * 43008 * 100)), std::make_pair(r.start, r.stop));
  // The same audio in small samples gives the same stretched frames.
  ConnectedFilter small(0.5);
  std::vector<int16_t> joined;
  for (int32_t frame = 0; frame < 3 * 44100; frame += 441) {
    const Result part = small.Push({&signal[frame * 2], &signal[(frame + 441) * 2]}, frame * 100,
                                   (frame + 441) * 100);
    joined.insert(joined.end(), part.samples.begin(), part.samples.end());
  }
  ASSERT_GE(joined.size(), r.samples.size());
  EXPECT_TRUE(std::equal(r.samples.begin(), r.samples.end(), joined.begin()));
  // A trailing half frame is ignored.
  std::vector<int16_t> samples = Signal(4096);
  samples.push_back(1234);
  EXPECT_EQ(2 * 4096 * 2, ConnectedFilter(0.5).Push(samples, 0, 100).samples.size());
}

}  // namespace
}  // namespace quorvex
