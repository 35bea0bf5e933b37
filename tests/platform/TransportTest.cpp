// The window-message transport inside one process and across a fork: delivery through the
// event loop, replies (also to a sender that does not read them at once), posting that never
// blocks, strangers and garbage.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

#include "platform/ipc/MessageConnection.h"
#include "platform/ipc/MessagePort.h"
#include "platform/ipc/SocketAddress.h"

namespace quorvex::ipc {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `done` holds or ten seconds have passed.
template <typename F>
bool SpinUntil(F done) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

// Runs `child` in a forked process and returns its exit code; the parent keeps serving its
// event loop meanwhile, as a window would.
template <typename F>
int InChild(F child) {
  const pid_t pid = fork();
  if (pid == 0)
    _exit(child());
  int status = -1;
  SpinUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; });
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// Posts arrive in order through the event loop, never outside it; posting to a window whose
// queue is full fails at once instead of waiting; nothing reaches a window that does not exist.
TEST(Transport, PostsArriveInOrderAndNeverBlock) {
  std::vector<Message> got;
  MessagePort port([&](const Message& m) {
    got.push_back(m);
    return 0;
  });
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(PostMessage(port.handle(), {0x8001u, i, 100 + i}));
  EXPECT_TRUE(got.empty());
  ASSERT_TRUE(SpinUntil([&] { return got.size() == 5; }));
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(std::tuple(got[i].code, got[i].wparam, got[i].lparam),
              std::tuple(0x8001u, int64_t(i), int64_t(100 + i)));
  int accepted = 0;
  for (int i = 0; i < 5000; ++i)
    accepted += PostMessage(port.handle(), {1, i, 0}) ? 1 : 0;
  EXPECT_GT(accepted, 0);
  EXPECT_LT(accepted, 5000);
  EXPECT_FALSE(PostMessage(0, {1, 0, 0}));
  MessageConnection c;
  EXPECT_EQ(c.Connect(0x7FFFFF01), SendStatus::kNoWindow);
  EXPECT_EQ(c.Send({1, 0, 0}, 5s), SendStatus::kPeerGone);
}

// Far more sends than the connection's socket holds unread replies of: none is lost, none is
// out of order.
TEST(Transport, RepliesToAFullSocketAreQueuedNotDropped) {
  MessagePort port([](const Message& m) { return m.wparam; });
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0);
  const SocketAddress addr(SocketNameForHandle(port.handle()));
  ASSERT_EQ(connect(fd, addr.sockaddr(), addr.length()), 0);
  constexpr int64_t kSends = 3000;
  int64_t sent = 0;
  ASSERT_TRUE(SpinUntil([&] {
    while (sent < kSends) {
      const Frame f{FrameKind::kSend, 1, uint64_t(sent), sent, 0};
      if (send(fd, &f, sizeof f, MSG_NOSIGNAL) != ssize_t(sizeof f))
        break;
      ++sent;
    }
    return sent == kSends;
  }));
  std::vector<int64_t> got;
  SpinUntil([&] {
    for (Reply r{}; recv(fd, &r, sizeof r, 0) == ssize_t(sizeof r);)
      got.push_back(r.result);
    return got.size() >= size_t(kSends);
  });
  close(fd);
  std::vector<int64_t> all(kSends);
  std::iota(all.begin(), all.end(), 0);
  EXPECT_EQ(got, all);
}

TEST(Transport, GarbageDatagramsAreIgnoredAndTheWindowKeepsServing) {
  int calls = 0;
  MessagePort port([&](const Message& m) {
    ++calls;
    return int64_t(m.code);
  });
  const int32_t handle = port.handle();
  const int rc = InChild([handle] {
    std::mt19937 rng(1234);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    const SocketAddress addr(SocketNameForHandle(handle));
    if (connect(fd, addr.sockaddr(), addr.length()) != 0)
      return 1;
    for (int i = 0; i < 200; ++i) {
      unsigned char junk[64];
      std::generate(std::begin(junk), std::end(junk), rng);
      if (const size_t n = rng() % sizeof junk; n != sizeof(Frame))  // a frame is no garbage
        send(fd, junk, n, MSG_NOSIGNAL);
    }
    close(fd);
    MessageConnection c;
    int64_t r = 0;
    if (c.Connect(handle) != SendStatus::kOk)
      return 2;
    return c.Send({42, 0, 0}, 5s, &r) == SendStatus::kOk && r == 42 ? 0 : 3;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace quorvex::ipc
