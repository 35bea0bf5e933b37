// The pitch-shift filter on constructed samples, byte for byte, without any pipeline.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "audio/CPitchShiftFilter.h"
#include "audio/MediaSample.h"

namespace quorvex {
namespace {

using namespace audio;
using media::E_FAIL;
using media::E_INVALIDARG;
using media::E_POINTER;
using media::E_UNEXPECTED;
using media::S_FALSE;
using media::S_OK;

// What one Transform produced, with the properties the output sample ended up with.
struct Result {
  HRESULT hr = S_OK;
  std::vector<int16_t> samples;  // interleaved
  bool has_time = false;
  int64_t start = 0;
  int64_t stop = 0;
  bool has_media_time = false;
  int64_t media_start = 0;
  int64_t media_stop = 0;
};

struct Input {
  std::vector<int16_t> samples;  // interleaved
  int64_t start = -1;            // -1: the sample carries no times
  int64_t stop = -1;
  bool media_time = false;
  int64_t media_start = 0;
  int64_t media_stop = 0;
  std::optional<MediaType> type;
};

// An allocator whose answers a test chooses.
class ScriptedAllocator final : public IMemAllocator {
 public:
  HRESULT get_result = S_OK;
  HRESULT set_result = S_OK;
  int32_t grant_buffers = -1;  // -1: as requested
  int32_t grant_bytes = -1;
  ALLOCATOR_PROPERTIES requested;

  HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request,
                        ALLOCATOR_PROPERTIES* actual) override {
    requested = *request;
    *actual = *request;
    if (grant_buffers >= 0) {
      actual->cBuffers = grant_buffers;
    }
    if (grant_bytes >= 0) {
      actual->cbBuffer = grant_bytes;
    }
    return set_result;
  }
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) override {
    *properties = ALLOCATOR_PROPERTIES{};
    return get_result;
  }
};

// A filter connected like the framework connects it, and a framework-like Receive: the
// output sample gets the input's properties before Transform runs.
class ConnectedFilter {
 public:
  explicit ConnectedFilter(uint16_t channels = 2, uint32_t rate = 44100,
                           std::ostream* diagnostics = nullptr)
      : filter_(std::make_unique<CPitchShiftFilter>(diagnostics)), channels_(channels) {
    EXPECT_EQ(S_OK, filter_->ConnectInput(PcmType(channels, rate, 16), &upstream_));
    ALLOCATOR_PROPERTIES request;
    EXPECT_EQ(S_OK, filter_->DecideBufferSize(&allocator_, &request));
    output_.resize(size_t(request.cbBuffer));
  }

  CPitchShiftFilter& filter() { return *filter_; }
  int32_t frames_of(const Result& r) const { return int32_t(r.samples.size()) / channels_; }

  Result Push(const Input& in) {
    std::vector<int16_t> data = in.samples;
    const int32_t bytes = int32_t(data.size() * sizeof(int16_t));
    // As the element does: room for what this input can complete (32B for usual sizes).
    output_.resize(std::max(output_.size(), size_t(filter_->OutputBytesBound(bytes))));
    MemorySample input(reinterpret_cast<uint8_t*>(data.data()), bytes, bytes);
    MemorySample output(output_.data(), int32_t(output_.size()));
    if (in.start != -1) {
      input.SetTime(&in.start, &in.stop);
      output.SetTime(&in.start, &in.stop);
    }
    if (in.media_time) {
      input.SetMediaTime(&in.media_start, &in.media_stop);
      output.SetMediaTime(&in.media_start, &in.media_stop);
    }
    input.SetMediaType(in.type);
    Result r;
    r.hr = filter_->Transform(&input, &output);
    const int32_t length = output.GetActualDataLength();
    r.samples.resize(size_t(length) / sizeof(int16_t));
    if (!r.samples.empty()) {
      std::memcpy(r.samples.data(), output_.data(), r.samples.size() * sizeof(int16_t));
    }
    r.has_time = output.GetTime(&r.start, &r.stop) == S_OK;
    r.has_media_time = output.GetMediaTime(&r.media_start, &r.media_stop) == S_OK;
    return r;
  }

  // `frames` frames of `channels_` channels from `value(frame, channel)`.
  template <typename F>
  std::vector<int16_t> Frames(int32_t frames, F value) const {
    std::vector<int16_t> samples;
    for (int32_t i = 0; i < frames; ++i) {
      for (int32_t c = 0; c < channels_; ++c) {
        samples.push_back(int16_t(value(i, c)));
      }
    }
    return samples;
  }

  // `frames` frames of a steady test signal whose values differ per frame and channel.
  std::vector<int16_t> Signal(int32_t frames, int32_t first_frame = 0) const {
    return Frames(frames, [first_frame](int32_t i, int32_t c) {
      const int32_t n = first_frame + i;
      return (n * 7919 + c * 104729) % 60001 - 30000;
    });
  }

 private:
  std::unique_ptr<CPitchShiftFilter> filter_;
  GrantingAllocator upstream_;
  GrantingAllocator allocator_;
  std::vector<uint8_t> output_;
  int32_t channels_;
};

Input Timed(std::vector<int16_t> samples, int64_t start, int64_t stop) {
  Input in;
  in.samples = std::move(samples);
  in.start = start;
  in.stop = stop;
  return in;
}

// ---- Media types ----

struct TypeCase {
  const char* name;
  MediaType type;
  HRESULT expected;
};

MediaType WithTag(MediaType type, uint16_t tag) {
  type.wave.wFormatTag = tag;
  return type;
}

MediaType WithBlockAlign(MediaType type, uint16_t block_align) {
  type.wave.nBlockAlign = block_align;
  return type;
}

MediaType Untyped(MediaType type) {
  type.formattype = FormatType::kNone;
  return type;
}

MediaType Video(MediaType type) {
  type.majortype = MajorType::kVideo;
  return type;
}

TEST(PitchShiftFilterTypes, InputTakesOnlyConsistentSixteenBitMonoOrStereo) {
  const TypeCase cases[] = {
      {"mono 16-bit", PcmType(1, 48000, 16), S_OK},
      {"stereo 16-bit", PcmType(2, 44100, 16), S_OK},
      {"stereo 16-bit, 8 kHz", PcmType(2, 8000, 16), S_OK},
      {"tag not examined", WithTag(PcmType(2, 44100, 16), 0xFFFE), S_OK},
      {"major type not examined", Video(PcmType(1, 44100, 16)), S_OK},
      {"8-bit", PcmType(2, 44100, 8), S_FALSE},
      {"24-bit", PcmType(2, 44100, 24), S_FALSE},
      {"32-bit", PcmType(2, 44100, 32), S_FALSE},
      {"six channels", PcmType(6, 48000, 16), S_FALSE},
      {"no channels", PcmType(0, 48000, 16), S_FALSE},
      {"no wave format block", Untyped(PcmType(2, 44100, 16)), S_FALSE},
      {"block align contradicts channels", WithBlockAlign(PcmType(2, 44100, 16), 0), S_FALSE},
      {"zero rate", PcmType(2, 0, 16), S_FALSE},
  };
  CPitchShiftFilter filter;
  for (const TypeCase& c : cases) {
    EXPECT_EQ(c.expected, filter.CheckInputType(&c.type)) << c.name;
  }
  EXPECT_EQ(E_POINTER, filter.CheckInputType(nullptr));
}

TEST(PitchShiftFilterTypes, RefusedInputTypeDoesNotConnect) {
  CPitchShiftFilter filter;
  GrantingAllocator upstream;
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, filter.ConnectInput(PcmType(6, 48000, 16), &upstream));
  EXPECT_FALSE(filter.IsInputConnected());
  MediaType offered;
  EXPECT_EQ(VFW_S_NO_MORE_ITEMS, filter.GetMediaType(0, &offered));
}

TEST(PitchShiftFilterTypes, OutputOffersExactlyTheInputTypeAndTakesAnyPcm) {
  CPitchShiftFilter filter;
  GrantingAllocator upstream;
  const MediaType input = WithTag(PcmType(1, 22050, 16), 0xFFFE);
  ASSERT_EQ(S_OK, filter.ConnectInput(input, &upstream));

  MediaType offered;
  EXPECT_EQ(S_OK, filter.GetMediaType(0, &offered));
  EXPECT_EQ(input, offered);
  EXPECT_EQ(VFW_S_NO_MORE_ITEMS, filter.GetMediaType(1, &offered));
  EXPECT_EQ(E_INVALIDARG, filter.GetMediaType(-1, &offered));
  EXPECT_EQ(E_POINTER, filter.GetMediaType(0, nullptr));

  const MediaType other_pcm = PcmType(2, 96000, 24);  // format block not compared
  EXPECT_EQ(S_OK, filter.CheckOutputType(&other_pcm));
  MediaType float_audio = PcmType(2, 44100, 32);
  float_audio.subtype = SubType::kIeeeFloat;
  EXPECT_EQ(S_FALSE, filter.CheckOutputType(&float_audio));
  const MediaType video = Video(PcmType(2, 44100, 16));
  EXPECT_EQ(S_FALSE, filter.CheckOutputType(&video));
  EXPECT_EQ(E_POINTER, filter.CheckOutputType(nullptr));
  EXPECT_EQ(S_OK, filter.CheckTransform(&input, &video));
}

// ---- Buffer sizes ----

struct SizeCase {
  uint16_t channels;
  uint32_t rate;
  int32_t expected_output_bytes;  // B x 16 x 2
};

void PrintTo(const SizeCase& c, std::ostream* os) {
  *os << c.channels << " ch " << c.rate << " Hz";
}

class PitchShiftFilterSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(PitchShiftFilterSizes, OutputBufferHoldsTheLargestStretchOfTwoSeconds) {
  const SizeCase c = GetParam();
  CPitchShiftFilter filter;
  ScriptedAllocator upstream;
  ScriptedAllocator output;
  ASSERT_EQ(S_OK, filter.ConnectInput(PcmType(c.channels, c.rate, 16), &upstream));
  ALLOCATOR_PROPERTIES request;
  ASSERT_EQ(S_OK, filter.DecideBufferSize(&output, &request));
  EXPECT_EQ(1, output.requested.cBuffers);
  EXPECT_EQ(1, output.requested.cbAlign);
  EXPECT_EQ(c.expected_output_bytes, output.requested.cbBuffer);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PitchShiftFilterSizes,
    testing::Values(SizeCase{2, 44100, 5'767'168},  // F = 45056 = 11 x 4096, B = 180224
                    SizeCase{1, 48000, 3'145'728},  // F = 49152, B = 98304
                    SizeCase{2, 8192, 1'048'576},   // already a multiple: F = 8192
                    SizeCase{1, 100, 262'144}),     // F rounds up to one block
    [](const testing::TestParamInfo<SizeCase>& info) {
      return std::to_string(info.param.channels) + "ch" + std::to_string(info.param.rate) + "Hz";
    });

TEST(PitchShiftFilterSizes, FailuresOfTheNegotiationAreReported) {
  CPitchShiftFilter filter;
  ScriptedAllocator upstream;
  ScriptedAllocator output;
  ALLOCATOR_PROPERTIES request;
  EXPECT_EQ(E_UNEXPECTED, filter.DecideBufferSize(&output, &request));
  ASSERT_EQ(S_OK, filter.ConnectInput(PcmType(2, 44100, 16), &upstream));
  EXPECT_EQ(E_POINTER, filter.DecideBufferSize(nullptr, &request));
  EXPECT_EQ(E_POINTER, filter.DecideBufferSize(&output, nullptr));

  upstream.get_result = E_UNEXPECTED;
  EXPECT_EQ(E_UNEXPECTED, filter.DecideBufferSize(&output, &request));
  upstream.get_result = S_OK;

  output.set_result = E_INVALIDARG;
  EXPECT_EQ(E_INVALIDARG, filter.DecideBufferSize(&output, &request));
  output.set_result = S_OK;

  output.grant_bytes = 5'767'167;
  EXPECT_EQ(E_FAIL, filter.DecideBufferSize(&output, &request));
  output.grant_bytes = -1;
  output.grant_buffers = 0;
  EXPECT_EQ(E_FAIL, filter.DecideBufferSize(&output, &request));
  output.grant_buffers = -1;
  EXPECT_EQ(S_OK, filter.DecideBufferSize(&output, &request));

  CPitchShiftFilter without_upstream;
  ASSERT_EQ(S_OK, without_upstream.ConnectInput(PcmType(2, 44100, 16), nullptr));
  EXPECT_EQ(VFW_E_NO_ALLOCATOR, without_upstream.DecideBufferSize(&output, &request));
}

// ---- Stretch factor ----

TEST(PitchShiftFilterRate, FactorIsTheTruncatedReciprocalWithinOneToSixteen) {
  const std::pair<double, int32_t> cases[] = {
      {1.0, 1}, {0.5, 2}, {0.25, 4},    {0.125, 8},        {0.0625, 16},
      {0.3, 3}, {0.7, 1}, {1.0 / 3, 3}, {1.0 / 32, 16},    {1e-300, 16},
      {2.0, 1}, {0.0, 1}, {-0.5, 1},    {std::nan(""), 1}, {INFINITY, 1},
  };
  for (const auto& [rate, factor] : cases) {
    EXPECT_EQ(factor, CPitchShiftFilter::StretchFactor(rate)) << rate;
  }
  CPitchShiftFilter filter;
  EXPECT_EQ(1.0, filter.GetRate());
  EXPECT_FALSE(filter.IsPitchShiftEnabled());
}

// ---- Pass-through ----

TEST(PitchShiftFilterTransform, RateOneCopiesBytesTimesAndMediaTimes) {
  ConnectedFilter f;
  Input in = Timed(f.Signal(1234), 5'000, 285'000);
  in.media_time = true;
  in.media_start = 220;
  in.media_stop = 1454;
  const Result r = f.Push(in);
  EXPECT_EQ(S_OK, r.hr);
  EXPECT_EQ(in.samples, r.samples);
  EXPECT_TRUE(r.has_time);
  EXPECT_EQ(5'000, r.start);
  EXPECT_EQ(285'000, r.stop);
  EXPECT_TRUE(r.has_media_time);
  EXPECT_EQ(220, r.media_start);
  EXPECT_EQ(1454, r.media_stop);
}

TEST(PitchShiftFilterTransform, RatesOutsideTheStretchRangePassThrough) {
  for (const double rate : {2.0, 0.0, -0.25, std::nan("")}) {
    ConnectedFilter f;
    f.filter().SetRate(rate);
    const Input in = Timed(f.Signal(500), 0, 1000);
    EXPECT_EQ(in.samples, f.Push(in).samples) << rate;
  }
}

// ---- Stretch ----

TEST(PitchShiftFilterTransform, HalfRateTurnsEveryFrameIntoPreviousAndTruncatedMidpoint) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  const Input in = Timed(f.Signal(4096), 1'000, 930'000);
  const Result r = f.Push(in);
  ASSERT_EQ(S_OK, r.hr);
  ASSERT_EQ(2 * in.samples.size(), r.samples.size());
  EXPECT_TRUE(r.has_time);
  EXPECT_EQ(1'000, r.start);
  EXPECT_EQ(930'000, r.stop);
  for (int32_t i = 0; i < 4096; ++i) {
    for (int32_t c = 0; c < 2; ++c) {
      const int32_t previous = i == 0 ? 0 : in.samples[size_t((i - 1) * 2 + c)];
      const int32_t current = in.samples[size_t(i * 2 + c)];
      ASSERT_EQ(previous, r.samples[size_t(4 * i + c)]) << i;
      ASSERT_EQ(previous + (current - previous) / 2, r.samples[size_t(4 * i + 2 + c)]) << i;
    }
  }
}

struct RampCase {
  const char* name;
  int32_t factor;
  std::vector<int16_t> input;     // mono frames at the front of a 4096-frame block
  std::vector<int16_t> expected;  // the first output frames
};

TEST(PitchShiftFilterTransform, RampsStartAtThePreviousFrameAndStopOneStepShort) {
  const RampCase cases[] = {
      {"0 to 100 at 4", 4, {100}, {0, 25, 50, 75}},
      {"0 to -3 at 2", 2, {-3}, {0, -1}},
      {"-30000 to 30000 at 2", 2, {-30000, 30000}, {0, -15000, -30000, 0}},
      {"0 to 32767 at 16", 16, {32767}, {0, 2047, 4095, 6143}},
      {"-32768 to 32767 at 8",
       8,
       {-32768, 32767},
       {0, -4096, -8192, -12288, -16384, -20480, -24576, -28672, -32768, -24577, -16385}},
  };
  for (const RampCase& c : cases) {
    ConnectedFilter f(1, 44100);
    f.filter().SetRate(1.0 / c.factor);
    std::vector<int16_t> block(4096, 0);
    std::copy(c.input.begin(), c.input.end(), block.begin());
    const Result r = f.Push(Timed(block, 0, 100));
    ASSERT_EQ(size_t(4096 * c.factor), r.samples.size()) << c.name;
    const std::vector<int16_t> front(r.samples.begin(),
                                     r.samples.begin() + std::ptrdiff_t(c.expected.size()));
    EXPECT_EQ(c.expected, front) << c.name;
  }
}

TEST(PitchShiftFilterTransform, FirstSampleShorterThanABlockIsHeldAndAnEmptyOutputKeepsItsTimes) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  const Result r = f.Push(Timed(f.Signal(4095), 7, 9));
  EXPECT_EQ(S_OK, r.hr);
  EXPECT_TRUE(r.samples.empty());
  EXPECT_TRUE(r.has_time);  // as the framework copied them from the input
  EXPECT_EQ(7, r.start);
  EXPECT_EQ(9, r.stop);
}

TEST(PitchShiftFilterTransform, OneBlockCompletingThreeSamplesSendsThemTogether) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  const std::vector<int16_t> signal = f.Signal(4096);
  const auto part = [&](int32_t from, int32_t frames) {
    return std::vector<int16_t>(signal.begin() + from * 2, signal.begin() + (from + frames) * 2);
  };
  EXPECT_TRUE(f.Push(Timed(part(0, 1500), 100, 200)).samples.empty());
  EXPECT_TRUE(f.Push(Timed(part(1500, 1500), 200, 300)).samples.empty());
  const Result r = f.Push(Timed(part(3000, 1096), 300, 400));
  EXPECT_EQ(2 * 4096, f.frames_of(r));
  EXPECT_EQ(100, r.start);
  EXPECT_EQ(400, r.stop);

  ConnectedFilter whole;
  whole.filter().SetRate(0.5);
  EXPECT_EQ(whole.Push(Timed(signal, 100, 400)).samples, r.samples);
}

TEST(PitchShiftFilterTransform, SampleWithUnprocessedBytesWaitsForTheNextBlock) {
  ConnectedFilter f;
  f.filter().SetRate(0.25);
  EXPECT_TRUE(f.Push(Timed(f.Signal(2000), 0, 10)).samples.empty());
  EXPECT_TRUE(f.Push(Timed(f.Signal(2000, 2000), 10, 20)).samples.empty());
  // 5000 frames held: one block completes the first two samples only.
  Result r = f.Push(Timed(f.Signal(1000, 4000), 20, 30));
  EXPECT_EQ(4 * 4000, f.frames_of(r));
  EXPECT_EQ(0, r.start);
  EXPECT_EQ(20, r.stop);
  r = f.Push(Timed(f.Signal(3192, 5000), 30, 40));
  EXPECT_EQ(4 * 4192, f.frames_of(r));
  EXPECT_EQ(20, r.start);
  EXPECT_EQ(40, r.stop);
}

TEST(PitchShiftFilterTransform, SamplesWithoutTimesGoOutWithTheTimesTheyWereGiven) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  const Result r = f.Push(Timed(f.Signal(4096), -1, -1));
  EXPECT_EQ(2 * 4096, f.frames_of(r));
  EXPECT_FALSE(r.has_time);
}

// ---- Reset rule ----

// Held: 3000 frames of a first stream. What comes out after `second` shows whether they
// were dropped: the block then holds the new sample's frames from its first byte.
TEST(PitchShiftFilterReset, LowerStopTimeDropsEverythingHeld) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  EXPECT_TRUE(f.Push(Timed(f.Signal(3000), 500, 600)).samples.empty());
  const Result r = f.Push(Timed(f.Signal(4096, 10'000), 100, 200));
  EXPECT_EQ(2 * 4096, f.frames_of(r));
  EXPECT_EQ(100, r.start);
  EXPECT_EQ(200, r.stop);
  // Only the first ramp depends on the frame before the reset.
  ConnectedFilter fresh;
  fresh.filter().SetRate(0.5);
  const Result expected = fresh.Push(Timed(f.Signal(4096, 10'000), 100, 200));
  EXPECT_TRUE(std::equal(r.samples.begin() + 4, r.samples.end(), expected.samples.begin() + 4));
}

TEST(PitchShiftFilterReset, ResetClearsTheShifters) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  f.filter().EnablePitchShift(true);
  f.Push(Timed(f.Signal(9000), 1000, 2000));
  const Result r = f.Push(Timed(f.Signal(8192, 50), 0, 1000));  // a seek back

  ConnectedFilter fresh;
  fresh.filter().SetRate(0.5);
  fresh.filter().EnablePitchShift(true);
  const Result expected = fresh.Push(Timed(f.Signal(8192, 50), 0, 1000));
  ASSERT_EQ(expected.samples.size(), r.samples.size());
  EXPECT_TRUE(std::equal(r.samples.begin() + 4, r.samples.end(), expected.samples.begin() + 4));
  // The shifter's first hop after a clear is silence.
  for (size_t i = 4; i < 2 * 2 * 1024; ++i) {
    ASSERT_EQ(0, r.samples[i]) << i;
  }
}

TEST(PitchShiftFilterReset, FactorChangeDropsWhatIsHeld) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  f.Push(Timed(f.Signal(3000), 0, 100));
  f.filter().SetRate(0.25);
  const Result r = f.Push(Timed(f.Signal(4096, 3000), 100, 200));
  EXPECT_EQ(4 * 4096, f.frames_of(r));
  EXPECT_EQ(100, r.start);
}

TEST(PitchShiftFilterReset, BackToRateOneKeepsHeldAudioUnsentUntilAnotherFactorDropsIt) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  f.Push(Timed(f.Signal(3000), 0, 100));
  f.filter().SetRate(1.0);
  const Input plain = Timed(f.Signal(2000, 3000), 100, 200);
  EXPECT_EQ(plain.samples, f.Push(plain).samples);  // nothing held comes along
  f.filter().SetRate(0.5);
  // Had the 3000 frames survived, 1096 more would complete a block.
  EXPECT_TRUE(f.Push(Timed(f.Signal(1096, 5000), 200, 300)).samples.empty());
}

TEST(PitchShiftFilterReset, NewFormatDropsWhatIsHeld) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  f.Push(Timed(f.Signal(3000), 0, 100));
  GrantingAllocator upstream;
  GrantingAllocator output;
  ALLOCATOR_PROPERTIES request;
  ASSERT_EQ(S_OK, f.filter().ConnectInput(PcmType(2, 44100, 16), &upstream));
  ASSERT_EQ(S_OK, f.filter().DecideBufferSize(&output, &request));
  EXPECT_TRUE(f.Push(Timed(f.Signal(1096, 3000), 100, 200)).samples.empty());
}

TEST(PitchShiftFilterReset, RateChangeTakesEffectWithTheNextSample) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  const Result r = f.Push(Timed(f.Signal(4096), 0, 100));
  EXPECT_EQ(2 * 4096, f.frames_of(r));
  f.filter().SetRate(0.125);
  EXPECT_EQ(8 * 4096, f.frames_of(f.Push(Timed(f.Signal(4096, 4096), 100, 200))));
}

// ---- Level, format changes, failures ----

TEST(PitchShiftFilterTransform, ShiftedValuesBeyondSixteenBitsAreClamped) {
  ConnectedFilter f(1, 44100);
  f.filter().SetRate(0.5);
  f.filter().EnablePitchShift(true);
  // A full-scale square wave overshoots after the vocoder (ringing at its edges).
  const std::vector<int16_t> square =
      f.Frames(4 * 8192, [](int32_t i, int32_t) { return (i / 50) % 2 ? 32767 : -32768; });
  const Result r = f.Push(Timed(square, 0, 100));
  ASSERT_EQ(2 * square.size(), r.samples.size());
  int32_t at_top = 0;
  int32_t at_bottom = 0;
  int32_t largest_step = 0;
  for (size_t i = 1; i < r.samples.size(); ++i) {
    at_top += r.samples[i] == 32767;
    at_bottom += r.samples[i] == -32768;
    largest_step = std::max(largest_step, std::abs(r.samples[i] - r.samples[i - 1]));
  }
  EXPECT_GT(at_top, 100);
  EXPECT_GT(at_bottom, 100);
  // Wrapped values would jump across the whole range between neighbours.
  EXPECT_LT(largest_step, 40000);
}

TEST(PitchShiftFilterTransform, SampleCarryingAMediaTypeIsRefusedUnprocessed) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  Input changed = Timed(f.Signal(4000), 0, 100);
  changed.type = PcmType(1, 22050, 16);
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, f.Push(changed).hr);
  // Nothing was taken in: 96 more frames do not complete a block.
  EXPECT_TRUE(f.Push(Timed(f.Signal(96), 100, 110)).samples.empty());
}

TEST(PitchShiftFilterTransform, FailuresLeaveTheFilterUsable) {
  CPitchShiftFilter unsized;
  std::vector<uint8_t> memory(64);
  MemorySample a(memory.data(), 64, 64);
  MemorySample b(memory.data(), 64);
  EXPECT_EQ(E_UNEXPECTED, unsized.Transform(&a, &b));
  EXPECT_EQ(E_POINTER, unsized.Transform(nullptr, &b));
  EXPECT_EQ(E_POINTER, unsized.Transform(&a, nullptr));

  ConnectedFilter f;
  std::vector<int16_t> data = f.Signal(100);
  MemorySample input(reinterpret_cast<uint8_t*>(data.data()), 400, 400);
  std::vector<uint8_t> small(399);
  MemorySample output(small.data(), 399);
  EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, f.filter().Transform(&input, &output));
  const Input in = Timed(data, 0, 1);
  EXPECT_EQ(in.samples, f.Push(in).samples);
}

TEST(PitchShiftFilterTransform, EndOfStreamIsNotedAndHeldAudioIsNotSent) {
  std::ostringstream diagnostics;
  ConnectedFilter f(2, 44100, &diagnostics);
  f.filter().SetRate(0.5);
  EXPECT_TRUE(f.Push(Timed(f.Signal(1000), 0, 10)).samples.empty());
  EXPECT_EQ(S_OK, f.filter().EndOfStream());
  EXPECT_EQ("EndOfStream\n", diagnostics.str());
}

// ---- Inputs larger than the buffers ----

TEST(PitchShiftFilterPieces, OversizedSampleIsTakenInPiecesWithInterpolatedTimes) {
  ConnectedFilter f;  // F = 45056 frames: a piece is at most 43008 frames
  f.filter().SetRate(0.5);
  const std::vector<int16_t> signal = f.Signal(3 * 44100);
  const Result r = f.Push(Timed(signal, 0, 3 * 44100 * 100));  // 100 units per frame
  ASSERT_EQ(S_OK, r.hr);
  // Three whole pieces of 43008 frames complete; the rest (3276 frames) waits.
  EXPECT_EQ(2 * 3 * 43008, f.frames_of(r));
  EXPECT_EQ(0, r.start);
  EXPECT_EQ(3 * 43008 * 100, r.stop);

  // The same audio in small samples gives the same stretched frames.
  ConnectedFilter small;
  small.filter().SetRate(0.5);
  std::vector<int16_t> joined;
  for (int32_t frame = 0; frame < 3 * 44100; frame += 441) {
    const Input in =
        Timed(std::vector<int16_t>(signal.begin() + frame * 2, signal.begin() + (frame + 441) * 2),
              frame * 100, (frame + 441) * 100);
    const Result part = small.Push(in);
    joined.insert(joined.end(), part.samples.begin(), part.samples.end());
  }
  ASSERT_GE(joined.size(), r.samples.size());
  EXPECT_TRUE(std::equal(r.samples.begin(), r.samples.end(), joined.begin()));
}

TEST(PitchShiftFilterPieces, TrailingPartialFrameIsIgnored) {
  ConnectedFilter f;
  f.filter().SetRate(0.5);
  std::vector<int16_t> odd = f.Signal(4096);
  odd.push_back(1234);  // half a stereo frame
  const Result r = f.Push(Timed(odd, 0, 100));
  EXPECT_EQ(2 * 4096, f.frames_of(r));
  EXPECT_EQ(0u, r.samples.size() % 2);
}

}  // namespace
}  // namespace quorvex
