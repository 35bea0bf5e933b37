// The program's own switches answer through the built program, without a display.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/TestEnv.h"

namespace quorvex {
namespace {

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

}  // namespace
}  // namespace quorvex
