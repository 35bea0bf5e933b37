#include <gtest/gtest.h>

#include "app/Role.h"

namespace quorvex {
namespace {

// Only "/s <id>" alone, exactly so spelled, makes a movie server.
TEST(Role, ChoosesTheServerOnlyForSlashSAndAnIdentifier) {
  EXPECT_EQ(ChooseRole({"/s", "123-0"}), Role::kServer);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"/S", "123-0"}, {"/s"}, {"/s", "123-0", "x"}, {}, {"movie.mp4", "/s"}, {"-s", "1-0"}})
    EXPECT_EQ(ChooseRole(args), Role::kUserInterface) << testing::PrintToString(args);
}

}  // namespace
}  // namespace quorvex
