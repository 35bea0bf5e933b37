#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "engine/ChannelTerms.h"
#include "hosting/Channel.h"
#include "platform/ipc/NamedEvent.h"
#include "platform/ipc/SharedBlock.h"

namespace quorvex {

class CMovie;
class StartSoundFinder;

class ChannelOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The server's end of one channel. Constructing it opens the client's objects, publishes the
// server window's handle at offset 0 of the return block and signals the start event; from
// then on the client may send commands. Used on the server's main thread only.
class CMovieServer {
 public:
  // Throws ChannelOpenError when the channel of `id` does not exist (nobody started us).
  CMovieServer(int32_t window, const std::string& id);
  ~CMovieServer();
  CMovieServer(const CMovieServer&) = delete;
  CMovieServer& operator=(const CMovieServer&) = delete;

  // Executes the command `code` (0x8064..0x8079 but 0x8074, the close): reads its record from
  // the parameter block, writes its reply into the return block. Commands that need a movie
  // (channel::Needs), sent before a successful InitializeGraph, are refused here, in one
  // place: they do nothing or reply what the engine reports without a graph (4:3, rate 1, not
  // playing, no search) or a failure (E_UNEXPECTED, values 0).
  void Dispatch(int32_t code);

 private:
  // Reads the command's record, runs its handler and writes the reply (see Dispatch).
  template <typename Cmd, auto Handler>
  void Execute();

  // One per command, on copies of its records.
  void InitializeGraph(const channel::InitializeGraphParam& p, channel::BoolReply& reply);
  void SetVideoSize(const channel::SetVideoSizeParam& p);
  void GraphNotifyProc(const channel::CodeOnlyParam&);
  void SetRate(const channel::SetRateParam& p);
  void GetRate(const channel::CodeOnlyParam&, channel::RateReply& reply);
  void Pause(const channel::CodeOnlyParam&);
  void Run(const channel::CodeOnlyParam&);
  void Stop(const channel::CodeOnlyParam&);
  void IsPlaying(const channel::CodeOnlyParam&, channel::BoolReply& reply);
  void EnablePitchShift(const channel::EnablePitchShiftParam& p);
  void GetAspectRatio(const channel::CodeOnlyParam&, channel::AspectRatioReply& reply);
  void SetNotifyWindow(const channel::SetNotifyWindowParam& p, channel::ResultReply& reply);
  void GetDuration(const channel::CodeOnlyParam&, channel::ValueReply& reply);
  void SetPositions(channel::SetPositionsParam& p, channel::SetPositionsReply& reply);
  void GetCurrentPosition(const channel::CodeOnlyParam&, channel::ValueReply& reply);
  void PutVolume(const channel::PutVolumeParam& p, channel::ResultReply& reply);
  // Starts a search for the start signal from the current position (StartSoundFinder); the
  // reply comes at once. GetStartSound replies its state.
  void FindStartSound(const channel::CodeOnlyParam&, channel::ResultReply& reply);
  void GetStartSound(const channel::CodeOnlyParam&, channel::StartSoundReply& reply);
  void CancelStartSound(const channel::CodeOnlyParam&);
  void StepFrames(const channel::StepFramesParam& p, channel::ResultReply& reply);
  // Checks the rectangle (channel::ZoomInRange) before the engine sees it.
  void SetZoom(const channel::SetZoomParam& p, channel::ResultReply& reply);
  // GetDuration and GetCurrentPosition: the result code, and the time (0 on failure).
  void ReplyTimeQuery(media::HRESULT (CMovie::*query)(int64_t*), channel::ValueReply& reply);

  int32_t window_;
  std::string id_;
  std::unique_ptr<CMovie> movie_;
  std::u16string path_;  // the file the graph was built for
  // Declared after movie_: destroyed first, its worker joined before the graph goes.
  std::unique_ptr<StartSoundFinder> finder_;
  std::unique_ptr<ipc::NamedEvent> start_event_;
  std::unique_ptr<ipc::SharedBlock> param_map_;
  std::unique_ptr<ipc::SharedBlock> return_map_;
  unsigned char* param_view_ = nullptr;
  unsigned char* return_view_ = nullptr;
  bool graph_tried_ = false;
  bool graph_ready_ = false;
};

}  // namespace quorvex
