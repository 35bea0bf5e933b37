#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/ipc/NamedEvent.h"
#include "platform/ipc/SharedBlock.h"
#include "platform/media/Results.h"

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

  // Executes the command `code` (0x8064..0x8077 but 0x8074, the close): reads its record from
  // the parameter block, writes its reply into the return block. Commands that need a graph,
  // sent before a successful InitializeGraph, do nothing or reply a failure (E_UNEXPECTED,
  // values 0).
  void Dispatch(int32_t code);

  // One per command; each reads its parameters from and writes its reply to the blocks.
  void InitializeGraph();
  void SetVideoSize();
  void GraphNotifyProc();
  void SetRate();
  void GetRate();
  void Pause();
  void Run();
  void Stop();
  void IsPlaying();
  void EnablePitchShift();
  void GetAspectRatio();
  void SetNotifyWindow();
  void GetDuration();
  void SetPositions();
  void GetCurrentPosition();
  void PutVolume();
  // Starts a search for the start signal from the current position (StartSoundFinder); the
  // reply comes at once. GetStartSound replies its state.
  void FindStartSound();
  void GetStartSound();
  void StepFrames();

 private:
  template <typename T>
  T Param(size_t offset) const;
  // GetDuration and GetCurrentPosition: result code at 0, the time (0 on failure) at 8.
  void ReplyTimeQuery(media::HRESULT (CMovie::*query)(int64_t*));
  template <typename T>
  void Reply(size_t offset, const T& value);

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
