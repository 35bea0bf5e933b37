// The window-message transport inside one process and across a fork: delivery through the
// event loop, replies (also to a sender that does not read them at once), posting that never
// blocks, the owner's departure, the private socket directory, another user, garbage; and a
// child process that cannot be reaped after its kill.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <future>
#include <numeric>
#include <random>
#include <tuple>
#include <vector>

#include "platform/ipc/ChildProcess.h"
#include "platform/ipc/MessageConnection.h"
#include "platform/ipc/MessagePort.h"
#include "platform/ipc/SocketAddress.h"
#include "platform/ipc/SocketDirectory.h"

namespace quorvex::ipc {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `done` holds or ten seconds have passed.
template <typename F>
bool SpinUntil(F done) {
  return QTest::qWaitFor(done, 10000);
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

TEST(Transport, TheOwnersDepartureIsReportedOthersAreNot) {
  MessagePort port([](const Message&) { return 0; });
  int lost = 0, attached = 0;
  QObject::connect(&port, &MessagePort::ownerLost, [&] { ++lost; });
  QObject::connect(&port, &MessagePort::ownerAttached, [&] { ++attached; });
  const int32_t handle = port.handle();
  // A stranger that sends and goes is not the owner.
  EXPECT_EQ(InChild([handle] {
              MessageConnection stranger;
              return stranger.Connect(handle) == SendStatus::kOk &&
                             stranger.Send({1, 0, 0}, 5s) == SendStatus::kOk
                         ? 0
                         : 1;
            }),
            0);
  QTest::qWait(200);
  EXPECT_EQ(lost, 0);
  {
    MessageConnection owner;
    ASSERT_EQ(owner.Connect(port.handle()), SendStatus::kOk);
    ASSERT_EQ(owner.Attach(), SendStatus::kOk);
    ASSERT_TRUE(SpinUntil([&] { return attached == 1; }));
  }
  EXPECT_TRUE(SpinUntil([&] { return lost == 1; }));
}

// The sockets' directory is this user's alone: the one handed down when it is private, else
// "quorvex" in the runtime directory (narrowed to 0700 when found wider), else a new one under
// /tmp; never a link or a directory others may enter.
TEST(Transport, SocketsLiveInADirectoryOnlyThisUserCanEnter) {
  const std::string runtime = std::getenv("XDG_RUNTIME_DIR") ? std::getenv("XDG_RUNTIME_DIR") : "";
  char base_name[] = "/tmp/quorvex-test-XXXXXX";
  ASSERT_NE(mkdtemp(base_name), nullptr);
  const std::string base = base_name, own = base + "/quorvex", wide = base + "/wide",
                    theirs = base + "/theirs", mine = base + "/mine";
  for (const std::string& d : {wide, theirs, mine})
    ASSERT_EQ(mkdir(d.c_str(), 0700), 0);
  ASSERT_EQ(chmod(wide.c_str(), 0750), 0);  // the group may enter
  const bool root = geteuid() == 0;
  if (root)
    ASSERT_EQ(chown(theirs.c_str(), 65534, 65534), 0);
  const auto choose = [](const std::string& runtime_dir, const std::string& handed) {
    setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);
    handed.empty() ? unsetenv(kSocketDirectoryVariable)
                   : setenv(kSocketDirectoryVariable, handed.c_str(), 1);
    bool temporary = false;
    const std::string dir = MakeSocketDirectory(&temporary);
    EXPECT_TRUE(IsPrivateDirectory(dir)) << dir;
    if (temporary)
      rmdir(dir.c_str());
    return temporary ? std::string("temporary") : dir;
  };
  EXPECT_EQ(choose(base, ""), own);
  ASSERT_EQ(chmod(own.c_str(), 0711), 0);
  EXPECT_EQ(choose(base, own), own);  // handed down, once narrowed again
  for (const std::string& refused : {wide, base + "/missing", root ? theirs : wide})
    EXPECT_EQ(choose("", refused), "temporary") << refused;
  rmdir(own.c_str());
  ASSERT_EQ(symlink(mine.c_str(), own.c_str()), 0);  // a link in its place is not followed
  EXPECT_EQ(choose(base, ""), "temporary");
  EXPECT_EQ(choose("", own), "temporary");
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  unsetenv(kSocketDirectoryVariable);
  std::system(("rm -rf " + base).c_str());
  // The windows of this process are files in its own directory, gone with them.
  auto port = std::make_unique<MessagePort>([](const Message&) { return 0; });
  const std::string file = SocketNameForHandle(port->handle());
  EXPECT_EQ(file.rfind(SocketDirectory() + "/", 0), 0u);
  EXPECT_EQ(access(file.c_str(), F_OK), 0);
  port.reset();
  EXPECT_NE(access(file.c_str(), F_OK), 0);
}

// Another user can neither reach a window nor take its name first: the names it would squat
// on (every handle of this process, in the abstract namespace too) leave new windows free, and
// its connections get nowhere.
TEST(Transport, AnotherUserCanNeitherReachNorSquatTheWindows) {
  if (geteuid() != 0)
    GTEST_SKIP() << "needs root to become another user";
  bool called = false;
  MessagePort port([&](const Message&) {
    called = true;
    return 0;
  });
  const int32_t handle = port.handle();
  const std::string dir = SocketDirectory();
  int squat[2];
  ASSERT_EQ(pipe(squat), 0);
  const pid_t squatter = fork();
  if (squatter == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0)
      _exit(3);
    std::vector<int> held;
    for (int32_t n = 0; n < 256; ++n) {
      const int32_t h = (handle & ~0xFF) | n;
      for (const std::string& name : {std::string(1, '\0') + "quorvex-window-" + std::to_string(h),
                                      dir + "/" + std::to_string(h)}) {
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
        const SocketAddress addr(name);
        if (bind(fd, addr.sockaddr(), addr.length()) == 0 && listen(fd, 1) == 0 && name[0] == '/')
          _exit(4);  // a file in our directory: it is not private
        held.push_back(fd);
      }
    }
    MessageConnection c;
    const bool reached =
        c.Connect(handle) == SendStatus::kOk && c.Send({1, 0, 0}, 5s) == SendStatus::kOk;
    const char done = reached ? 'r' : 'n';
    if (write(squat[1], &done, 1) != 1)
      _exit(5);
    pause();
    _exit(0);
  }
  char done = 0;
  const bool told = read(squat[0], &done, 1) == 1;
  close(squat[0]);
  close(squat[1]);
  std::vector<std::unique_ptr<MessagePort>> more;
  if (told) {
    for (int i = 0; i < 20; ++i)  // the squatter holds the names now: new windows are still made
      EXPECT_NO_THROW(
          more.push_back(std::make_unique<MessagePort>([](const Message&) { return 0; })));
  }
  kill(squatter, SIGKILL);
  int status = 0;
  waitpid(squatter, &status, 0);
  ASSERT_TRUE(told) << "squatter exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  EXPECT_EQ(done, 'n');
  // Even with the directory and the socket opened to everyone, the window takes nothing from
  // another user: it checks who connects.
  const std::string file = SocketNameForHandle(handle), parent = dir.substr(0, dir.rfind('/'));
  struct stat parent_st {};
  ASSERT_EQ(stat(parent.c_str(), &parent_st), 0);
  // The runtime directory above ours is opened too, but never a shared one such as /tmp.
  const bool open_parent = IsPrivateDirectory(parent);
  for (const std::string& d : open_parent ? std::vector{parent, dir} : std::vector{dir})
    ASSERT_EQ(chmod(d.c_str(), 0711), 0);
  ASSERT_EQ(chmod(file.c_str(), 0777), 0);
  const int rc = InChild([handle] {
    if (setgid(65534) != 0 || setuid(65534) != 0)
      return 3;
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    const Frame f{FrameKind::kPost, 1, 0, 0, 0};
    const SocketAddress addr(SocketNameForHandle(handle));
    if (connect(fd, addr.sockaddr(), addr.length()) != 0)
      return 4;  // the window must be reachable for this check
    send(fd, &f, sizeof f, MSG_NOSIGNAL);
    close(fd);
    return 0;
  });
  chmod(dir.c_str(), 0700);
  if (open_parent)
    chmod(parent.c_str(), parent_st.st_mode & 07777);
  chmod(file.c_str(), 0755);
  EXPECT_EQ(rc, 0);
  QTest::qWait(100);
  EXPECT_FALSE(called);
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

// A killed child whose exit a tracer holds back stands for one stuck in the kernel: the kill
// gives up after its time limit instead of hanging, and the child is reaped once it goes.
TEST(ChildProcessTest, AKillThatCannotReapGivesUpInTimeAndReapsLater) {
  std::optional<ChildProcess> child = ChildProcess::Spawn("/bin/sleep", {"sleep", "60"});
  ASSERT_TRUE(child);
  const pid_t pid = child->pid();
  int seized[2];
  ASSERT_EQ(pipe(seized), 0);
  const pid_t tracer = fork();
  if (tracer == 0) {
    const char ok = ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) == 0;
    if (write(seized[1], &ok, 1) == 1)
      pause();
    _exit(0);
  }
  char ok = 0;
  const bool told = read(seized[0], &ok, 1) == 1;
  close(seized[0]);
  close(seized[1]);
  auto end_tracer = [tracer] {  // lets the child's exit through
    kill(tracer, SIGKILL);
    waitpid(tracer, nullptr, 0);
  };
  if (!told || !ok) {
    end_tracer();
    GTEST_SKIP() << "no permission to trace";
  }
  auto kill_child = std::async(std::launch::async, [&] { return child->Kill(100ms); });
  const bool returned = kill_child.wait_for(60s) == std::future_status::ready;
  end_tracer();
  ASSERT_TRUE(returned);
  EXPECT_FALSE(kill_child.get().has_value());
  EXPECT_FALSE(child->running());
  EXPECT_TRUE(SpinUntil([&] { return kill(pid, 0) != 0; }));  // gone, zombie included
}

}  // namespace
}  // namespace quorvex::ipc
