#pragma once

// The graph's event queue: events are queued by any thread (the bus handler runs on GStreamer's
// streaming threads) and fetched by the owner's thread. Queuing an event posts the registered
// notification message to the registered window of another process; the owner answers by
// draining the queue. Free of GStreamer.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace quorvex::media {

// What the graph has to tell its owner.
struct GraphEvent {
  enum class Kind {
    kEndOfStream,  // every sink has played out: the movie reached its end
    kError,        // a streaming error; `text` says what failed
  };
  Kind kind = Kind::kEndOfStream;
  std::string text;
};

class EventQueue {
 public:
  // Any thread. Appends the event and, when a window is registered, posts its message with
  // lparam = the registered instance value (never blocks).
  void Queue(GraphEvent event);

  // Registers the window that is told about queued events; `hwnd` 0 stops the notifications.
  // Events already waiting are announced at once, so none is left unannounced.
  void SetNotifyWindow(int32_t hwnd, int32_t message, int32_t instance);

  // Takes the oldest event, waiting at most `timeout_ms` (negative: until one arrives);
  // nullopt when none arrived in time.
  std::optional<GraphEvent> Take(int32_t timeout_ms);

  // Drops every queued event (a graph that is torn down has nothing left to report).
  void Clear();

 private:
  void Notify(int32_t hwnd, int32_t message, int32_t instance) const;

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<GraphEvent> events_;  // guarded by mutex_
  int32_t hwnd_ = 0;               // guarded by mutex_
  int32_t message_ = 0;            // guarded by mutex_
  int32_t instance_ = 0;           // guarded by mutex_
};

}  // namespace quorvex::media
