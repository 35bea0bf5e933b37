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

// Consecutive identifiers per process; deleting a client ends its server before it returns
// (exited and reaped, not a zombie) and leaves none of the channel's names behind.
TEST(Channel, ClientsGetConsecutiveIdentifiersAndLeaveNothingBehind) {
  auto first = std::make_unique<CMovieClient>(TestOptions());
  CMovieClient second(TestOptions());
  // Each test runs in a fresh process, so the counter starts at 0.
  EXPECT_EQ(Suffix(first->identifier()), "-0");
  EXPECT_EQ(Suffix(second.identifier()), "-1");
  EXPECT_NE(first->server_window(), second.server_window());
  const pid_t pid = first->server_pid();
  const std::string id = first->identifier();
  ASSERT_FALSE(ProcessGone(pid));
  first.reset();
  EXPECT_TRUE(ProcessGone(pid));
  EXPECT_EQ(test::LeftoverChannelNames(id), "");
  EXPECT_EQ(test::LeftoverChannelNames(second.identifier()), "");
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

TEST(ChannelFaults, AServerKilledDuringACommandFailsTheSendAtOnce) {
  // A limit far longer than the test may take: only the death may end the command.
  CMovieClient client({.server_path = test::QuorvexExe(), .command_timeout = 60s});
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
  auto client = std::make_unique<CMovieClient>(
      ClientOptions{.server_path = test::QuorvexExe(), .command_timeout = 500ms});
  const pid_t pid = client->server_pid();
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  const channel::CodeOnlyParam p{channel::kLastCommand + 1};
  EXPECT_FALSE(client->SendCommand(p.code, &p, 4));
  EXPECT_TRUE(client->lost());
  EXPECT_TRUE(ProcessGone(pid));
  client.reset();  // must not hang on the dead server
}

// A server that answers late, but answers, keeps its movie: the default limit is longer than the
// server's deadline for any command.
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
  EXPECT_GT(ClientOptions{}.command_timeout, channel::kCommandBudget);
  EXPECT_GT(ClientOptions{}.open_timeout, channel::kOpenBudget);
}

TEST(ChannelFaults, AServerWhoseClientDiesExitsOnItsOwn) {
  // Orphans are re-parented to this process, so it can reap the server and see it end.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t ui = fork();
  if (ui == 0) {
    CMovieClient client(TestOptions());
    const pid_t server = client.server_pid();
    (void)!write(fds[1], &server, sizeof server);
    pause();
  }
  pid_t server = -1;
  ASSERT_EQ(read(fds[0], &server, sizeof server), ssize_t(sizeof server));
  kill(ui, SIGKILL);
  waitpid(ui, nullptr, 0);
  pid_t r = 0;
  for (int i = 0; i < 100 && r == 0; ++i, std::this_thread::sleep_for(10ms))
    r = waitpid(server, nullptr, WNOHANG);
  if (r == 0)
    kill(server, SIGKILL);
  EXPECT_EQ(r, server) << "the server outlived its client by more than a second";
}

TEST(ChannelFaults, AProgramThatIsNoServerIsReportedNotAwaited) {
  ClientOptions o{.start_timeout = 60s};  // /bin/true starts, never signals and exits at once
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
  // The server itself, given no channel, ends with a failure.
  auto server = ipc::ChildProcess::Spawn(test::QuorvexExe(), {"quorvex", "/s", "4294967295-999"});
  ASSERT_TRUE(server);
  const auto status = server->WaitForExit(10s);
  ASSERT_TRUE(status && WIFEXITED(*status));
  EXPECT_NE(WEXITSTATUS(*status), 0);
}

}  // namespace
}  // namespace quorvex
