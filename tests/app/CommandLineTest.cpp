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
  for (const auto& [args, answer] :
       {std::pair{"movie.mp4 --help", "Usage: quorvex"}, {"--version", "quorvex "}}) {
    const auto [out, status] = Capture(run + args);
    EXPECT_EQ(status, 0) << args;
    EXPECT_NE(out.find(answer), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace quorvex
