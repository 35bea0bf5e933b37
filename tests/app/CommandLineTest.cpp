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
#include <vector>

#include "laps/LapFile.h"
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

// Starts the program in `dir` with `args`, and returns how many movie servers it has started
// once it has started `expected` of them or a minute has gone.
int ServersStarted(const fs::path& dir, const std::vector<std::string>& args, int expected) {
  const std::string exe = test::QuorvexExe();
  std::vector<char*> argv{const_cast<char*>(exe.c_str())};
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t ui = fork();
  if (ui < 0)
    return -1;
  if (ui == 0) {
    if (chdir(dir.c_str()) == 0)
      execv(exe.c_str(), argv.data());
    _exit(127);
  }
  int servers = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while ((servers = CountServers(ui)) < expected && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // Servers whose client has gone end by themselves.
  kill(ui, SIGKILL);
  waitpid(ui, nullptr, 0);
  return servers;
}

struct TempDir {
  TempDir() : path(fs::temp_directory_path() / ("quorvex-args-" + std::to_string(getpid()))) {
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

// "Open with" a lap file: its movies are opened, not the file itself as a movie.
TEST(CommandLineTest, ALapFileOpensItsMovies) {
  TempDir dir;
  laps::LapFile file;
  for (int m = 0; m < 2; ++m) {
    file.file_names << QString::fromStdString(test::Movie("h264-noaudio.mp4"));
    file.time_list.push_back({0.5, 1.5});
  }
  const std::string path = (dir.path / "laps.xml").string();
  ASSERT_EQ(laps::WriteLapFile(QString::fromStdString(path), file), std::nullopt);
  EXPECT_EQ(ServersStarted(dir.path, {path}, 2), 2);
}

}  // namespace
}  // namespace quorvex
