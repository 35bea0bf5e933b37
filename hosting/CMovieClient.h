#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "hosting/Channel.h"

namespace quorvex {

namespace ipc {
class ChildProcess;
class MessageConnection;
enum class SendStatus;
class MessagePort;
class NamedEvent;
class SharedBlock;
}  // namespace ipc

// Thrown by the client's constructor when no server could be started and reached.
class ServerStartError : public std::runtime_error {
 public:
  ServerStartError(const std::string& what, const std::string& id)
      : std::runtime_error(what), id_(id) {}
  // The channel identifier that was tried.
  const std::string& id() const { return id_; }

 private:
  std::string id_;
};

// Where the server executable is and how long the client waits for it. Every wait is bounded:
// a server that does not start, answer or exit in time is killed and reported as lost.
struct ClientOptions {
  std::string server_path;  // empty: this program (/proc/self/exe)
  std::chrono::milliseconds start_timeout{15000};
  // Longer than the server may work on one command (its deadline, channel::kCommandBudget),
  // with room to spare: a slow but healthy server is never killed.
  std::chrono::milliseconds command_timeout{channel::kCommandBudget + channel::kReplyAllowance};
  // InitializeGraph builds and prerolls a graph.
  std::chrono::milliseconds open_timeout{channel::kOpenBudget + channel::kReplyAllowance};
  std::chrono::milliseconds exit_timeout{5000};
};

// What a client tells its owner, on the client's thread. Either may be empty.
struct ClientEvents {
  // The server's graph posted a notice to the client's port and the server has handled it
  // (GraphNotifyProc): at the end of the movie, the movie is now paused on its last picture.
  std::function<void()> reached_end;
  // The server died, hung or closed its end; called once, from inside the call that found it.
  // The client is then in the middle of that call: the owner must not destroy it from here.
  std::function<void()> lost;
};

// The user-interface process's proxy for one movie playing in a server process. Constructing
// it starts the server and returns once the server has published its window; every command is
// one synchronous message; destroying it ends the server before returning. Used on one thread.
//
// Several movies open at the same time when each step is taken for all of them before the
// next: construct with kLater, then WaitUntilStarted and BeginInitializeGraph, then
// EndInitializeGraph. Every wait keeps its own time limit.
class CMovieClient {
 public:
  enum class Start { kWait, kLater };

  CMovieClient();
  // Throws ServerStartError when the server cannot be started (kLater: only spawned).
  explicit CMovieClient(const ClientOptions& options, Start start = Start::kWait);
  // After kLater: waits until the server has published its window. Throws ServerStartError
  // (the server is then killed); does nothing when it was waited for already.
  void WaitUntilStarted();
  // Ends the server; the events are no longer called from here on.
  ~CMovieClient();
  CMovieClient(const CMovieClient&) = delete;
  CMovieClient& operator=(const CMovieClient&) = delete;

  // Replaces the receivers of the client's events.
  void SetEvents(ClientEvents events);
  // Makes the client's notification port (once; needs the thread's Qt event loop) and asks the
  // server to post its graph notices there: each is answered with GraphNotifyProc and then
  // reported as reached_end. Returns SetNotifyWindow's result, or E_OUTOFMEMORY when the port
  // cannot be made (no socket left to this process).
  int32_t WatchGraphEvents();

  // One operation per command. Operations that return a result code return E_ABORT when the
  // server is lost; the others then do nothing (bools are false, the rate 0).
  bool InitializeGraph(const char16_t* file_name, int32_t owner_window);
  // InitializeGraph in two halves: Begin sends it (false when it could not), End waits for
  // the reply and returns what InitializeGraph returns. Any other command in between is
  // refused as a lost server's would be, without losing the server: it would take the open's
  // reply.
  bool BeginInitializeGraph(const char16_t* file_name, int32_t owner_window);
  bool EndInitializeGraph();
  void SetVideoSize(int32_t width, int32_t height);
  void GraphNotifyProc();
  void SetRate(double rate);
  double GetRate();
  void Pause();
  void Run();
  void Stop();
  bool IsPlaying();
  void EnablePitchShift(bool enable);
  // Unchanged when the server is lost.
  void GetAspectRatio(int32_t& x, int32_t& y);
  int32_t SetNotifyWindow(int32_t hwnd, int32_t message, int32_t instance);
  // Stores the replied value (0 after a failed query) through the pointer in every case but a
  // lost server.
  int32_t GetDuration(int64_t* duration_units);
  // Either position may be null (not given). Given positions are updated from the reply.
  int32_t SetPositions(int64_t* current_units, uint32_t current_flags, int64_t* stop_units,
                       uint32_t stop_flags);
  int32_t GetCurrentPosition(int64_t* position_units);
  // Hundredths of a decibel: 0 full, -10000 silent.
  int32_t put_Volume(int32_t volume);
  // Starts the server's search for the start signal in the sound, from the current position
  // on; returns at once (S_OK started, E_NOTIMPL no sound, E_UNEXPECTED no movie).
  int32_t FindStartSound();
  // The search's state (channel::StartSoundState) and, when found, the onset's stream time.
  // kStartSoundFailed when the server is lost.
  int32_t GetStartSound(int64_t* onset_units);
  // Ends the server's search, if one runs; returns once it has ended.
  void CancelStartSound();
  // Steps by `frames` pictures of the movie's own rate (negative: back); paused afterwards.
  // S_OK when it moved, S_FALSE at either end of the movie.
  int32_t StepFrames(int32_t frames);
  // Shows the part of the picture at left, top, width, height in channel::kZoomUnits of the
  // upright picture; S_OK, E_INVALIDARG when the server refuses it (channel::ZoomInRange).
  int32_t SetZoom(int32_t left, int32_t top, int32_t width, int32_t height);

  // Copies `size_bytes` of `record` to the parameter block and sends `code` to the server
  // window. False when the server is lost (then, and for every later command, nothing is sent
  // and the return block must not be read as a reply).
  bool SendCommand(int32_t code, const void* record, int32_t size_bytes);
  // SendCommand in two halves: Begin copies the record and sends the code; End waits for the
  // reply. False when the server is lost.
  bool BeginCommand(int32_t code, const void* record, int32_t size_bytes);
  bool EndCommand();

  // True once the server has died, hung or closed its end: the movie is gone.
  bool lost() const { return lost_; }

  const std::string& identifier() const { return id_; }
  pid_t server_pid() const;
  int32_t server_window() const { return server_window_; }
  const unsigned char* return_view() const { return return_view_; }
  const unsigned char* param_view() const { return param_view_; }

  // Clients created so far in this process; part of every channel identifier.
  static int32_t server_index_;

 private:
  void CreateChannelObjects();
  void SpawnServer();
  void ReleaseNames();
  void MarkLost();
  void LogLoss(int32_t code, ipc::SendStatus status) const;
  // Sends the command's record (its code filled in here) and reads the reply record;
  // nothing when the server is lost.
  template <typename Cmd>
  std::optional<typename Cmd::Reply> Call(typename Cmd::Param record = {});
  void OnGraphNotice();

  ClientOptions options_;
  std::string id_;
  std::unique_ptr<ipc::ChildProcess> process_info_;
  std::unique_ptr<ipc::NamedEvent> start_event_;
  std::unique_ptr<ipc::SharedBlock> param_map_;
  std::unique_ptr<ipc::SharedBlock> return_map_;
  unsigned char* param_view_ = nullptr;
  unsigned char* return_view_ = nullptr;
  int32_t server_window_ = 0;
  std::unique_ptr<ipc::MessageConnection> connection_;
  std::unique_ptr<ipc::MessagePort> port_;  // made by WatchGraphEvents
  ClientEvents events_;
  bool lost_ = false;
  bool started_ = false;      // the server's window is connected
  int32_t pending_code_ = 0;  // the command whose reply is awaited; 0: none
};

}  // namespace quorvex
