// The channel between two real processes of the built program: handshake, block rules,
// close, and what happens when either side dies or hangs.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <thread>

#include "hosting/CMovieClient.h"
#include "hosting/Channel.h"
#include "platform/ipc/ChildProcess.h"
#include "platform/ipc/MessageConnection.h"
#include "platform/ipc/NamedEvent.h"
#include "platform/ipc/SharedBlock.h"
#include "tests/support/TestEnv.h"

namespace quorvex {
namespace {

using namespace std::chrono_literals;

ClientOptions TestOptions() {
  ClientOptions o;
  o.server_path = test::QuorvexExe();
  return o;
}

bool ProcessGone(pid_t pid) {
  return kill(pid, 0) != 0 && errno == ESRCH;
}

std::string Suffix(const std::string& id) {
  return id.substr(id.find('-'));
}

// The test plays the client by hand, so that it sees the server's side of the handshake.
class RawChannel {
 public:
  explicit RawChannel(const std::string& id) : id_(id) {
    event_ = ipc::NamedEvent::Create(channel::StartEventName(id));
    param_ = ipc::SharedBlock::Create(channel::ParamMapName(id), channel::kBlockBytes);
    ret_ = ipc::SharedBlock::Create(channel::ReturnMapName(id), channel::kBlockBytes);
  }
  ~RawChannel() {
    ipc::NamedEvent::Unlink(channel::StartEventName(id_));
    ipc::SharedBlock::Unlink(channel::ParamMapName(id_));
    ipc::SharedBlock::Unlink(channel::ReturnMapName(id_));
  }
  std::string id_;
  std::unique_ptr<ipc::NamedEvent> event_;
  std::unique_ptr<ipc::SharedBlock> param_, ret_;
};

TEST(Channel, ObjectsAreZeroFilledAndTheServerPublishesItsWindowBeforeSignalling) {
  RawChannel ch("test-" + std::to_string(getpid()));
  ASSERT_TRUE(ch.event_ && ch.param_ && ch.ret_);
  for (size_t i = 0; i < channel::kBlockBytes; ++i) {
    ASSERT_EQ(ch.param_->data()[i], 0);
    ASSERT_EQ(ch.ret_->data()[i], 0);
  }
  // Nothing else may create the same names while they exist.
  EXPECT_EQ(ipc::NamedEvent::Create(channel::StartEventName(ch.id_)), nullptr);
  EXPECT_EQ(ipc::SharedBlock::Create(channel::ParamMapName(ch.id_), 4096), nullptr);

  auto server = ipc::ChildProcess::Spawn(test::QuorvexExe(), {"quorvex", "/s", ch.id_});
  ASSERT_TRUE(server);
  ASSERT_TRUE(ch.event_->Wait(15s));
  const int32_t window = channel::ReadField<int32_t>(ch.ret_->data(), 0);
  ASSERT_GT(window, 0);
  // The published handle is the window that takes the commands: the close command ends it.
  ipc::MessageConnection conn;
  ASSERT_EQ(conn.Connect(window), ipc::SendStatus::kOk);
  ASSERT_EQ(conn.Attach(), ipc::SendStatus::kOk);
  ASSERT_EQ(conn.Send({channel::kClose, 0, 0}, 5s), ipc::SendStatus::kOk);
  const auto status = server->WaitForExit(5s);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST(Channel, ClientsGetConsecutiveIdentifiersAndLeaveNoNamesBehind) {
  CMovieClient first(TestOptions());
  CMovieClient second(TestOptions());
  // Each test runs in a fresh process, so the counter starts at 0.
  EXPECT_EQ(Suffix(first.identifier()), "-0");
  EXPECT_EQ(Suffix(second.identifier()), "-1");
  EXPECT_NE(first.server_window(), second.server_window());
  EXPECT_NE(first.server_pid(), second.server_pid());
  EXPECT_EQ(CMovieClient::server_index_, 2);
  EXPECT_EQ(test::LeftoverChannelNames(first.identifier()), "");
  EXPECT_EQ(test::LeftoverChannelNames(second.identifier()), "");
}

TEST(Channel, AShortRecordLeavesTheTailOfALongerOne) {
  CMovieClient client(TestOptions());
  std::array<unsigned char, 40> longer{};
  for (size_t i = 0; i < longer.size(); ++i)
    longer[i] = static_cast<unsigned char>(0xA0 + i);
  // A code outside the command range: the server ignores it, so only the block is observed.
  const int32_t code = channel::kFirstCommand - 1;
  std::memcpy(longer.data(), &code, 4);
  ASSERT_TRUE(client.SendCommand(code, longer.data(), int32_t(longer.size())));
  const int32_t shorter = channel::kLastCommand + 1;
  ASSERT_TRUE(client.SendCommand(shorter, &shorter, 4));
  EXPECT_EQ(channel::ReadField<int32_t>(client.param_view(), 0), shorter);
  EXPECT_EQ(std::memcmp(client.param_view() + 4, longer.data() + 4, 36), 0);
}

TEST(Channel, CodesOutsideTheCommandRangeChangeNeitherBlock) {
  CMovieClient client(TestOptions());
  std::array<unsigned char, channel::kBlockBytes> param{}, ret{};
  std::memcpy(param.data(), client.param_view(), param.size());
  std::memcpy(ret.data(), client.return_view(), ret.size());
  ipc::MessageConnection other;
  ASSERT_EQ(other.Connect(client.server_window()), ipc::SendStatus::kOk);
  for (uint32_t code : {0x8063u, uint32_t(channel::kLastCommand) + 1, 0x8001u, 0u, 0xFFFFFFFFu}) {
    ASSERT_EQ(other.Send({code, 7, 9}, 5s), ipc::SendStatus::kOk) << code;
  }
  EXPECT_EQ(std::memcmp(param.data(), client.param_view(), param.size()), 0);
  EXPECT_EQ(std::memcmp(ret.data(), client.return_view(), ret.size()), 0);
  // The server is still there and answers its client.
  const channel::CodeOnlyParam p{channel::kLastCommand + 1};
  EXPECT_TRUE(client.SendCommand(p.code, &p, 4));
}

TEST(Channel, DeletingTheClientEndsTheServerBeforeItReturns) {
  auto client = std::make_unique<CMovieClient>(TestOptions());
  const pid_t pid = client->server_pid();
  const std::string id = client->identifier();
  ASSERT_GT(pid, 0);
  ASSERT_FALSE(ProcessGone(pid));
  client.reset();
  EXPECT_TRUE(ProcessGone(pid));  // exited and reaped, not a zombie
  EXPECT_EQ(test::LeftoverChannelNames(id), "");
}

TEST(ChannelFaults, AServerKilledDuringACommandFailsTheSendAtOnce) {
  ClientOptions o = TestOptions();
  o.command_timeout = 60s;  // far longer than the test may take: only the death may end it
  CMovieClient client(o);
  const pid_t pid = client.server_pid();
  // Stop the server so that the command is surely in flight when it dies.
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  std::thread killer([pid] {
    std::this_thread::sleep_for(200ms);
    kill(pid, SIGKILL);
  });
  const auto t0 = std::chrono::steady_clock::now();
  const channel::CodeOnlyParam p{channel::kLastCommand + 1};
  const bool ok = client.SendCommand(p.code, &p, 4);
  const auto waited = std::chrono::steady_clock::now() - t0;
  killer.join();
  EXPECT_FALSE(ok);
  EXPECT_TRUE(client.lost());
  EXPECT_LT(waited, 30s);
  // Lost stays lost: nothing is sent, no stale reply is read.
  EXPECT_FALSE(client.SendCommand(p.code, &p, 4));
  EXPECT_EQ(test::LeftoverChannelNames(client.identifier()), "");
}

TEST(ChannelFaults, AHungServerIsKilledAfterTheTimeLimit) {
  ClientOptions o = TestOptions();
  o.command_timeout = 500ms;
  auto client = std::make_unique<CMovieClient>(o);
  const pid_t pid = client->server_pid();
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  const channel::CodeOnlyParam p{channel::kLastCommand + 1};
  EXPECT_FALSE(client->SendCommand(p.code, &p, 4));
  EXPECT_TRUE(client->lost());
  EXPECT_TRUE(ProcessGone(pid));
  client.reset();  // must not hang on the dead server
}

// A server that answers late, but answers, keeps its movie: the default limit is longer than
// any wait the server itself may make.
TEST(ChannelFaults, ASlowServerIsNotKilled) {
  auto client = std::make_unique<CMovieClient>(TestOptions());
  const pid_t pid = client->server_pid();
  ASSERT_EQ(client->GetRate(), 1.0) << "attached and answering before it is slowed down";
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  std::thread waker([pid] {
    std::this_thread::sleep_for(6s);
    kill(pid, SIGCONT);
  });
  EXPECT_EQ(client->GetRate(), 1.0);
  waker.join();
  EXPECT_FALSE(client->lost());
  EXPECT_FALSE(ProcessGone(pid));
}

TEST(ChannelFaults, AServerWhoseClientDiesExitsOnItsOwn) {
  // Orphans are re-parented to this process, so it can reap the server and see it end.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t ui = fork();
  ASSERT_GE(ui, 0);
  if (ui == 0) {
    CMovieClient client(TestOptions());
    const pid_t server = client.server_pid();
    (void)!write(fds[1], &server, sizeof server);
    (void)!write(fds[1], client.identifier().c_str(), client.identifier().size() + 1);
    pause();
    _exit(0);
  }
  pid_t server = -1;
  ASSERT_EQ(read(fds[0], &server, sizeof server), ssize_t(sizeof server));
  char id[64] = {};
  ASSERT_GT(read(fds[0], id, sizeof id - 1), 0);
  kill(ui, SIGKILL);
  waitpid(ui, nullptr, 0);
  // The server must be gone within a second; poll its exit without a busy loop.
  int status = 0;
  pid_t r = 0;
  for (int i = 0; i < 100 && r == 0; ++i) {
    r = waitpid(server, &status, WNOHANG);
    if (r == 0)
      std::this_thread::sleep_for(10ms);
  }
  if (r == 0)
    kill(server, SIGKILL);
  EXPECT_EQ(r, server) << "the server outlived its client by more than a second";
  EXPECT_EQ(test::LeftoverChannelNames(id), "");
}

TEST(ChannelFaults, AServerWithoutAChannelExitsNonZero) {
  auto server = ipc::ChildProcess::Spawn(test::QuorvexExe(), {"quorvex", "/s", "4294967295-999"});
  ASSERT_TRUE(server);
  const auto status = server->WaitForExit(10s);
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_NE(WEXITSTATUS(*status), 0);
}

TEST(ChannelFaults, AProgramThatIsNoServerIsReportedNotAwaited) {
  ClientOptions o = TestOptions();
  o.start_timeout = 60s;  // /bin/true starts, never signals and exits at once
  for (const char* path : {"/bin/true", "/nonexistent/quorvex"}) {
    o.server_path = path;
    const auto t0 = std::chrono::steady_clock::now();
    try {
      CMovieClient client(o);
      ADD_FAILURE() << path << " was taken for a server";
    } catch (const ServerStartError& e) {
      EXPECT_EQ(test::LeftoverChannelNames(e.id()), "") << path;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 30s) << path;
  }
  EXPECT_EQ(CMovieClient::server_index_, 0);  // failed starts do not count
}

}  // namespace
}  // namespace quorvex
