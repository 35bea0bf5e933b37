#pragma once

// The channel between a movie client and its server process: names of the kernel objects,
// message codes and the layouts of the parameter and return blocks. Everything here is a
// format between two processes of the same build; offsets and sizes are fixed and checked.

#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace quorvex::channel {

static_assert(std::endian::native == std::endian::little, "the blocks are little-endian");

// How long the server may work on one command: every wait of its engine ends by this deadline,
// set when the command arrives (but a paused step's decoding on, at most 4 x 2 s). The
// client's limits are derived from these; a slower reply means a server that hangs.
inline constexpr std::chrono::milliseconds kCommandBudget{15000};
inline constexpr std::chrono::milliseconds kOpenBudget{20000};  // InitializeGraph
// What the client allows beyond the budget: the step's decoding on, the reply's way back, a
// loaded machine.
inline constexpr std::chrono::milliseconds kReplyAllowance{15000};

inline constexpr size_t kBlockBytes = 4096;
inline constexpr size_t kMaxPathUnits = 1024;  // UTF-16 code units, terminator included

// Command codes (WM_APP + 100 .. WM_APP + 121) and the graph notification (WM_APP + 1).
enum Code : int32_t {
  kInitializeGraph = 0x8064,
  kSetVideoSize = 0x8065,
  kGraphNotifyProc = 0x8066,
  kSetRate = 0x8067,
  kGetRate = 0x8068,
  kPause = 0x8069,
  kRun = 0x806A,
  kStop = 0x806B,
  kIsPlaying = 0x806C,
  kEnablePitchShift = 0x806D,
  kGetAspectRatio = 0x806E,
  kSetNotifyWindow = 0x806F,
  kGetDuration = 0x8070,
  kSetPositions = 0x8071,
  kGetCurrentPosition = 0x8072,
  kPutVolume = 0x8073,
  kClose = 0x8074,
  kStepFrames = 0x8075,  // after the original commands: the movie's own frames
  // Starts a search for the start signal in the sound, from the current position on, in the
  // background; returns at once. GetStartSound polls it.
  kFindStartSound = 0x8076,
  kGetStartSound = 0x8077,
  // Ends a running search at once (its state becomes idle); replies when it has ended.
  kCancelStartSound = 0x8078,
  // Shows a part of the picture, cut from the decoded picture and scaled to the video area.
  kSetZoom = 0x8079,
};
inline constexpr int32_t kFirstCommand = kInitializeGraph;
inline constexpr int32_t kLastCommand = kSetZoom;
inline constexpr int32_t kGraphNotify = 0x8001;

inline bool IsCommand(int64_t code) {
  return code >= kFirstCommand && code <= kLastCommand;
}

// "%u-%d": tick count, client counter.
std::string FormatIdentifier(uint32_t tick_ms, int32_t index);
std::string StartEventName(const std::string& id);  // "/QuorvexServerStartEvent<id>"
std::string ParamMapName(const std::string& id);    // "/QuorvexParameterMap<id>"
std::string ReturnMapName(const std::string& id);   // "/QuorvexReturnMap<id>"

// ---- Parameter records (written by the client at offset 0 of the parameter block) ----

struct CodeOnlyParam {  // GraphNotifyProc, GetRate, Pause, Run, Stop, IsPlaying,
  int32_t code = 0;     // GetAspectRatio, GetDuration, GetCurrentPosition, close,
};                      // FindStartSound, GetStartSound, CancelStartSound
struct InitializeGraphParam {
  int32_t code = 0;
  char16_t path[kMaxPathUnits] = {};  // zero-terminated
  int32_t owner_window = 0;
};
struct SetVideoSizeParam {
  int32_t code = 0;
  int32_t width = 0;
  int32_t height = 0;
};
struct SetRateParam {
  int32_t code = 0;
  int32_t unused = 0;
  double rate = 0;
};
struct EnablePitchShiftParam {
  int32_t code = 0;
  uint8_t enable = 0;
  uint8_t unused[3] = {};
};
struct SetNotifyWindowParam {
  int32_t code = 0;
  int32_t window = 0;
  int32_t message = 0;
  int32_t instance = 0;
};
struct SetPositionsParam {
  int32_t code = 0;
  uint8_t current_given = 0;
  int64_t current_units = 0;
  uint32_t current_flags = 0;
  uint8_t stop_given = 0;
  int64_t stop_units = 0;
  uint32_t stop_flags = 0;
};
struct PutVolumeParam {
  int32_t code = 0;
  int32_t volume = 0;
};
// Steps by `frames` pictures of the movie's own frame rate (negative: backward), landing on the
// start of that picture; the movie is paused afterwards. Replied with a ResultReply: S_OK when
// it moved, S_FALSE when it could not (already at that end, no picture), E_UNEXPECTED
// without a graph.
struct StepFramesParam {
  int32_t code = 0;
  int32_t frames = 0;
};

// The part of the upright picture that is shown, in kZoomUnits of its width and height: the
// whole picture is 0, 0, kZoomUnits, kZoomUnits. The server refuses (E_INVALIDARG) a
// rectangle that reaches outside the picture or is less than 1/kMaxZoom of it either way;
// S_OK when taken, E_UNEXPECTED without a graph. A new graph shows the whole picture.
inline constexpr int32_t kZoomUnits = 65536;
inline constexpr int32_t kMaxZoom = 8;
struct SetZoomParam {
  int32_t code = 0;
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = kZoomUnits;
  int32_t height = kZoomUnits;
};
// Whether the server takes the rectangle: inside the picture, at most kMaxZoom times enlarged.
constexpr bool ZoomInRange(int32_t left, int32_t top, int32_t width, int32_t height) {
  constexpr int32_t kSmallest = kZoomUnits / kMaxZoom;
  // In 64 bits: a hostile sum must not wrap around into the range.
  return left >= 0 && top >= 0 && width >= kSmallest && height >= kSmallest &&
         int64_t(left) + width <= kZoomUnits && int64_t(top) + height <= kZoomUnits;
}

// ---- Replies (written by the server into the return block) ----

struct HandshakeReply {  // before the start event is signalled
  int32_t server_window = 0;
};
struct BoolReply {  // InitializeGraph, IsPlaying
  uint8_t value = 0;
};
struct RateReply {
  double rate = 0;
};
struct AspectRatioReply {
  int32_t x = 0;
  int32_t y = 0;
};
// SetNotifyWindow, put_Volume, StepFrames, FindStartSound, SetZoom. FindStartSound: S_OK started,
// E_UNEXPECTED without a graph, E_NOTIMPL without sound, E_FAIL without a current position.
struct ResultReply {
  int32_t result = 0;
};
struct ValueReply {  // GetDuration, GetCurrentPosition
  int32_t result = 0;
  int64_t value_units = 0;
};
struct SetPositionsReply {
  int32_t result = 0;
  int64_t current_units = 0;
  int64_t stop_units = 0;
};

// The state of the start-signal search (StartSoundReply::state).
enum StartSoundState : int32_t {
  kStartSoundIdle = 0,      // no search was started
  kStartSoundRunning = 1,   // still decoding
  kStartSoundFound = 2,     // onset_units holds the onset
  kStartSoundNotFound = 3,  // no clear start within 60 s of the starting position
  kStartSoundFailed = 4,    // the sound could not be decoded
};
struct StartSoundReply {  // GetStartSound
  int32_t state = 0;      // StartSoundState
  int32_t unused = 0;
  int64_t onset_units = 0;  // stream time of the onset (100 ns) when found, 0 otherwise
};

// A command without a reply record.
struct NoReply {};

// What a command needs of the server: an opened movie (nearly all of them), or nothing. A
// command that needs a movie, sent before an InitializeGraph succeeded, never reaches the
// engine: the server replies its refusal for the command's reply record (CMovieServer.cpp).
enum class Needs { kMovie, kNothing };

// One command of the channel: its code, the record the client writes at offset 0 of the
// parameter block, the record the server writes at offset 0 of the return block, and what it
// needs. The client's calls and the server's dispatch are both made from these; the close
// (kClose) is the server window's own business and has none.
template <Code C, typename P, typename R = NoReply, Needs N = Needs::kMovie>
struct Command {
  static constexpr Code code = C;
  using Param = P;
  using Reply = R;
  static constexpr Needs needs = N;
};
using InitializeGraph = Command<kInitializeGraph, InitializeGraphParam, BoolReply, Needs::kNothing>;
using SetVideoSize = Command<kSetVideoSize, SetVideoSizeParam>;
using GraphNotifyProc = Command<kGraphNotifyProc, CodeOnlyParam>;
using SetRate = Command<kSetRate, SetRateParam>;
using GetRate = Command<kGetRate, CodeOnlyParam, RateReply>;
using Pause = Command<kPause, CodeOnlyParam>;
using Run = Command<kRun, CodeOnlyParam>;
using Stop = Command<kStop, CodeOnlyParam>;
using IsPlaying = Command<kIsPlaying, CodeOnlyParam, BoolReply>;
using EnablePitchShift = Command<kEnablePitchShift, EnablePitchShiftParam>;
using GetAspectRatio = Command<kGetAspectRatio, CodeOnlyParam, AspectRatioReply>;
using SetNotifyWindow = Command<kSetNotifyWindow, SetNotifyWindowParam, ResultReply>;
using GetDuration = Command<kGetDuration, CodeOnlyParam, ValueReply>;
using SetPositions = Command<kSetPositions, SetPositionsParam, SetPositionsReply>;
using GetCurrentPosition = Command<kGetCurrentPosition, CodeOnlyParam, ValueReply>;
using PutVolume = Command<kPutVolume, PutVolumeParam, ResultReply>;
using StepFrames = Command<kStepFrames, StepFramesParam, ResultReply>;
using FindStartSound = Command<kFindStartSound, CodeOnlyParam, ResultReply>;
using GetStartSound = Command<kGetStartSound, CodeOnlyParam, StartSoundReply>;
using CancelStartSound = Command<kCancelStartSound, CodeOnlyParam>;
using SetZoom = Command<kSetZoom, SetZoomParam, ResultReply>;

#define QUORVEX_CHECK_FIELD(T, f, off) static_assert(offsetof(T, f) == (off), #T "::" #f)
#define QUORVEX_CHECK_SIZE(T, n) static_assert(sizeof(T) == (n), "size of " #T)

QUORVEX_CHECK_SIZE(CodeOnlyParam, 4);
QUORVEX_CHECK_FIELD(InitializeGraphParam, path, 4);
QUORVEX_CHECK_FIELD(InitializeGraphParam, owner_window, 2052);
QUORVEX_CHECK_SIZE(InitializeGraphParam, 2056);
QUORVEX_CHECK_FIELD(SetVideoSizeParam, width, 4);
QUORVEX_CHECK_FIELD(SetVideoSizeParam, height, 8);
QUORVEX_CHECK_SIZE(SetVideoSizeParam, 12);
QUORVEX_CHECK_FIELD(SetRateParam, rate, 8);
QUORVEX_CHECK_SIZE(SetRateParam, 16);
QUORVEX_CHECK_FIELD(EnablePitchShiftParam, enable, 4);
QUORVEX_CHECK_SIZE(EnablePitchShiftParam, 8);
QUORVEX_CHECK_FIELD(SetNotifyWindowParam, window, 4);
QUORVEX_CHECK_FIELD(SetNotifyWindowParam, message, 8);
QUORVEX_CHECK_FIELD(SetNotifyWindowParam, instance, 12);
QUORVEX_CHECK_SIZE(SetNotifyWindowParam, 16);
QUORVEX_CHECK_FIELD(SetPositionsParam, current_given, 4);
QUORVEX_CHECK_FIELD(SetPositionsParam, current_units, 8);
QUORVEX_CHECK_FIELD(SetPositionsParam, current_flags, 16);
QUORVEX_CHECK_FIELD(SetPositionsParam, stop_given, 20);
QUORVEX_CHECK_FIELD(SetPositionsParam, stop_units, 24);
QUORVEX_CHECK_FIELD(SetPositionsParam, stop_flags, 32);
QUORVEX_CHECK_SIZE(SetPositionsParam, 40);
QUORVEX_CHECK_FIELD(PutVolumeParam, volume, 4);
QUORVEX_CHECK_SIZE(PutVolumeParam, 8);
QUORVEX_CHECK_FIELD(StepFramesParam, frames, 4);
QUORVEX_CHECK_SIZE(StepFramesParam, 8);
QUORVEX_CHECK_FIELD(SetZoomParam, left, 4);
QUORVEX_CHECK_FIELD(SetZoomParam, top, 8);
QUORVEX_CHECK_FIELD(SetZoomParam, width, 12);
QUORVEX_CHECK_FIELD(SetZoomParam, height, 16);
QUORVEX_CHECK_SIZE(SetZoomParam, 20);
QUORVEX_CHECK_FIELD(HandshakeReply, server_window, 0);
QUORVEX_CHECK_FIELD(BoolReply, value, 0);
QUORVEX_CHECK_FIELD(RateReply, rate, 0);
QUORVEX_CHECK_FIELD(AspectRatioReply, x, 0);
QUORVEX_CHECK_FIELD(AspectRatioReply, y, 4);
QUORVEX_CHECK_FIELD(ResultReply, result, 0);
QUORVEX_CHECK_FIELD(ValueReply, result, 0);
QUORVEX_CHECK_FIELD(ValueReply, value_units, 8);
QUORVEX_CHECK_FIELD(SetPositionsReply, result, 0);
QUORVEX_CHECK_FIELD(SetPositionsReply, current_units, 8);
QUORVEX_CHECK_FIELD(SetPositionsReply, stop_units, 16);
QUORVEX_CHECK_FIELD(StartSoundReply, state, 0);
QUORVEX_CHECK_FIELD(StartSoundReply, onset_units, 8);
QUORVEX_CHECK_SIZE(StartSoundReply, 16);

#undef QUORVEX_CHECK_FIELD
#undef QUORVEX_CHECK_SIZE

// Field and record access in a block without aliasing the block as a struct: a command's record
// may be shorter than the block's stale contents.
template <typename T>
T ReadField(const unsigned char* block, size_t offset) {
  T value;
  std::memcpy(&value, block + offset, sizeof value);
  return value;
}
template <typename T>
void WriteField(unsigned char* block, size_t offset, const T& value) {
  std::memcpy(block + offset, &value, sizeof value);
}
template <typename T>
T ReadRecord(const unsigned char* block) {
  return ReadField<T>(block, 0);
}
template <typename T>
void WriteRecord(unsigned char* block, const T& record) {
  WriteField<T>(block, 0, record);
}

}  // namespace quorvex::channel
