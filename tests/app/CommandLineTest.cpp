// The program's own switches answer through the built program, without a display.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestEnv.h"

namespace quorvex {
namespace {

TEST(CommandLineTest, HelpAndVersionAnswerWithoutADisplay) {
  const std::string run =
      "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb '" + test::QuorvexExe() + "' ";
  for (const auto& [args, answer] :
       {std::pair{"movie.mp4 --help", "Usage: quorvex"}, {"--version", "quorvex "}}) {
    const auto [out, status] = test::Capture(run + args);
    EXPECT_EQ(status, 0) << args;
    EXPECT_NE(out.find(answer), std::string::npos) << out;
  }
}

}  // namespace
}  // namespace quorvex
