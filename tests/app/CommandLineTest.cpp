// The user-interface role's command line, through the built program: arguments that the
// window toolkit would take for itself are movie paths, and the program's own switches answer
// without a display.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/TestEnv.h"

namespace quorvex {
namespace {

namespace fs = std::filesystem;

// Output and exit status of `command` run by the shell.
std::pair<std::string, int> Capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return {out, -1};
  char buf[256];
  while (size_t n = std::fread(buf, 1, sizeof buf, pipe))
    out.append(buf, n);
  return {out, pclose(pipe)};
}

TEST(CommandLineTest, HelpAndVersionAnswerWithoutADisplay) {
  const std::string run =
      "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb '" + test::QuorvexExe() + "' ";
  const auto [help, help_status] = Capture(run + "movie.mp4 --help");
  EXPECT_EQ(help_status, 0);
  EXPECT_NE(help.find("Usage: quorvex"), std::string::npos) << help;
  const auto [version, version_status] = Capture(run + "--version");
  EXPECT_EQ(version_status, 0);
  EXPECT_EQ(version.rfind("quorvex ", 0), 0u) << version;
}

// The movie servers that process `pid` has started ("<exe> /s <id>").
int CountServers(pid_t pid) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string pid_field, name, state;
    pid_t parent = 0;
    if (!(stat >> pid_field >> name >> state >> parent) || parent != pid)
      continue;
    std::ifstream cmdline(entry.path() / "cmdline");
    std::string args((std::istreambuf_iterator<char>(cmdline)), {});
    count += args.find(std::string("\0/s\0", 4)) != std::string::npos ? 1 : 0;
  }
  return count;
}

TEST(CommandLineTest, ToolkitOptionsAreMoviePaths) {
  // Movies named like options of the toolkit; "-style" would also swallow "fusion".
  const fs::path dir = fs::temp_directory_path() / ("quorvex-args-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const char* names[] = {"-reverse", "-style", "fusion"};
  for (const char* name : names)
    fs::create_symlink(test::Movie("h264-noaudio.mp4"), dir / name);
  const std::string exe = test::QuorvexExe();
  const pid_t ui = fork();
  ASSERT_GE(ui, 0);
  if (ui == 0) {
    if (chdir(dir.c_str()) == 0)
      execl(exe.c_str(), exe.c_str(), names[0], names[1], names[2], nullptr);
    _exit(127);
  }
  int servers = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((servers = CountServers(ui)) < 3 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // Servers whose client has gone end by themselves.
  kill(ui, SIGKILL);
  waitpid(ui, nullptr, 0);
  fs::remove_all(dir);
  EXPECT_EQ(servers, 3);
}

}  // namespace
}  // namespace quorvex
