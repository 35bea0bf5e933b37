// The graph's event queue: the notification posted to a window of another process (here a
// real MessagePort of this process, on the Qt event loop).

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <thread>

#include "platform/ipc/MessagePort.h"
#include "platform/media/EventQueue.h"

namespace quorvex::media {
namespace {

// Runs the event loop until `messages` holds `count` or `limit_ms` passed.
void RunEventsUntil(const std::vector<ipc::Message>& messages, size_t count, int limit_ms) {
  QElapsedTimer timer;
  timer.start();
  while (messages.size() < count && timer.elapsed() < limit_ms)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// An event queued before registration is announced on registration, one of another thread
// too; none after the window is unregistered. The events come out in order, with their text.
TEST(EventQueueTest, QueuingPostsTheRegisteredMessageWithTheInstance) {
  std::vector<ipc::Message> messages;
  ipc::MessagePort window([&](const ipc::Message& m) {
    messages.push_back(m);
    return int64_t(0);
  });
  EventQueue queue;
  queue.Queue({GraphEvent::Kind::kError, "no decoder"});
  queue.SetNotifyWindow(window.handle(), 0x8001, 42);
  RunEventsUntil(messages, 1, 5000);
  std::thread([&] { queue.Queue({GraphEvent::Kind::kEndOfStream, {}}); }).join();
  RunEventsUntil(messages, 2, 5000);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(std::pair(messages[1].code, messages[1].lparam), std::pair(0x8001u, int64_t(42)));
  queue.SetNotifyWindow(0, 0, 0);
  queue.Queue({GraphEvent::Kind::kEndOfStream, {}});
  RunEventsUntil(messages, 3, 200);
  EXPECT_EQ(messages.size(), 2u);
  const std::optional<GraphEvent> first = queue.Take(0);
  ASSERT_TRUE(first);
  EXPECT_EQ(std::pair(first->kind, first->text),
            std::pair(GraphEvent::Kind::kError, std::string("no decoder")));
  EXPECT_EQ(queue.Take(0)->kind, GraphEvent::Kind::kEndOfStream);
  queue.Clear();
  EXPECT_FALSE(queue.Take(10)) << "cleared";
}

}  // namespace
}  // namespace quorvex::media
