// The graph's event queue: order, time-outs, and the notification posted to a window of
// another process (here a real MessagePort of this process, on the Qt event loop).

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <thread>

#include "platform/ipc/MessagePort.h"
#include "platform/media/EventQueue.h"

namespace quorvex::media {
namespace {

struct Received {
  std::vector<ipc::Message> messages;
};

// Runs the event loop until `count` messages arrived or 5 s passed.
void WaitForMessages(const Received& received, size_t count) {
  QElapsedTimer timer;
  timer.start();
  while (received.messages.size() < count && timer.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Lets posted messages that should not come have their chance to arrive.
void SettleEvents() {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 200)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

TEST(EventQueueTest, EmptyQueueTimesOutAtOnceWithZero) {
  EventQueue queue;
  int32_t code = -1;
  intptr_t p1 = -1, p2 = -1;
  EXPECT_EQ(queue.GetEvent(&code, &p1, &p2, 0), E_ABORT);
  EXPECT_EQ(code, -1);
  EXPECT_EQ(queue.GetEvent(nullptr, &p1, &p2, 0), E_POINTER);
}

TEST(EventQueueTest, EventsComeOutInOrderWithTheirParameters) {
  EventQueue queue;
  queue.Queue(EC_ERRORABORT, E_FAIL, 7);
  queue.Queue(EC_COMPLETE, S_OK, 0);
  int32_t code = 0;
  intptr_t p1 = 0, p2 = 0;
  ASSERT_EQ(queue.GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);
  EXPECT_EQ(p1, intptr_t(E_FAIL));
  EXPECT_EQ(p2, 7);
  ASSERT_EQ(queue.GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(queue.GetEvent(&code, &p1, &p2, 0), E_ABORT);
}

TEST(EventQueueTest, WaitingFetchWakesForAnEventOfAnotherThread) {
  EventQueue queue;
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.Queue(EC_COMPLETE, S_OK, 0);
  });
  int32_t code = 0;
  intptr_t p1 = 0, p2 = 0;
  EXPECT_EQ(queue.GetEvent(&code, &p1, &p2, 10000), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  producer.join();
}

TEST(EventQueueTest, QueuingPostsTheRegisteredMessageWithTheInstance) {
  Received received;
  ipc::MessagePort window([&](const ipc::Message& m) {
    received.messages.push_back(m);
    return int64_t(0);
  });
  EventQueue queue;
  queue.Queue(EC_COMPLETE, S_OK, 0);  // before registration: announced on registration
  ASSERT_EQ(queue.SetNotifyWindow(window.handle(), 0x8001, 42), S_OK);
  WaitForMessages(received, 1);
  ASSERT_EQ(received.messages.size(), 1u);
  EXPECT_EQ(received.messages[0].code, 0x8001u);
  EXPECT_EQ(received.messages[0].lparam, 42);

  std::thread streaming([&] { queue.Queue(EC_COMPLETE, S_OK, 0); });
  streaming.join();
  WaitForMessages(received, 2);
  ASSERT_EQ(received.messages.size(), 2u);
  EXPECT_EQ(received.messages[1].lparam, 42);
}

TEST(EventQueueTest, NoMessageAfterTheWindowIsUnregistered) {
  Received received;
  ipc::MessagePort window([&](const ipc::Message& m) {
    received.messages.push_back(m);
    return int64_t(0);
  });
  EventQueue queue;
  queue.SetNotifyWindow(window.handle(), 0x8001, 1);
  queue.SetNotifyWindow(0, 0, 0);
  queue.Queue(EC_COMPLETE, S_OK, 0);
  SettleEvents();
  EXPECT_TRUE(received.messages.empty());
  int32_t code = 0;
  intptr_t p1 = 0, p2 = 0;
  EXPECT_EQ(queue.GetEvent(&code, &p1, &p2, 0), S_OK);  // still queued
}

TEST(EventQueueTest, AVanishedWindowDoesNotBlockQueuing) {
  EventQueue queue;
  int32_t gone = 0;
  {
    ipc::MessagePort window([](const ipc::Message&) { return int64_t(0); });
    gone = window.handle();
  }
  queue.SetNotifyWindow(gone, 0x8001, 1);
  for (int i = 0; i < 100; ++i)
    queue.Queue(EC_COMPLETE, S_OK, 0);
  int32_t code = 0;
  intptr_t p1 = 0, p2 = 0;
  int drained = 0;
  while (queue.GetEvent(&code, &p1, &p2, 0) == S_OK)
    ++drained;
  EXPECT_EQ(drained, 100);
}

}  // namespace
}  // namespace quorvex::media
