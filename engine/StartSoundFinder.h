#pragma once

// Looks for the start signal (audio::StartSoundDetector) in a movie's sound track, in the
// background: a worker thread decodes the file's sound a second time, in a pipeline of its own
// that shows and plays nothing, so the movie's playback is untouched. The search begins at a
// given position and covers at most kSearchNs of sound after it.
//
// Threads: Start, status and the destructor are called on the owner's thread (the server's main
// thread); they never wait longer than it takes the worker to notice a cancellation (about
// 100 ms). The worker publishes its result under mutex_.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvex {

class StartSoundFinder {
 public:
  enum class State { kIdle, kRunning, kFound, kNotFound, kFailed };
  struct Status {
    State state = State::kIdle;
    int64_t onset_ns = 0;  // stream time of the onset, when found
  };
  // 60 s: a start lies close to where the user stands.
  static constexpr int64_t kSearchNs = 60'000'000'000LL;

  StartSoundFinder();
  ~StartSoundFinder();  // cancels a running search and joins its thread
  StartSoundFinder(const StartSoundFinder&) = delete;
  StartSoundFinder& operator=(const StartSoundFinder&) = delete;

  // Cancels a running search and starts one in the file `file_name` from the stream time
  // `start_ns` on. The status is kRunning from now until the worker has an answer.
  void Start(const std::u16string& file_name, int64_t start_ns);
  // Ends a running search (the status is then kIdle); returns once its thread has ended.
  void Cancel();
  Status status() const;
  // The factories of the decoders the last search that ended plugged (tests: sound only).
  std::vector<std::string> decoders() const;

 private:
  void Work(std::string uri, int64_t start_ns);
  Status Search(const std::string& uri, int64_t start_ns);

  std::thread worker_;               // owner's thread only
  std::atomic<bool> cancel_{false};  // set by the owner, read by the worker
  mutable std::mutex mutex_;
  Status status_;                      // guarded by mutex_
  std::vector<std::string> decoders_;  // guarded by mutex_
};

}  // namespace quorvex
