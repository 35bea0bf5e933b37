#include <gtest/gtest.h>

#include "app/Role.h"

namespace quorvex {
namespace {

struct RoleCase {
  std::vector<std::string> args;
  Role role;
};

class RoleTest : public testing::TestWithParam<RoleCase> {};

TEST_P(RoleTest, ChoosesTheRoleFromTheArguments) {
  EXPECT_EQ(ChooseRole(GetParam().args), GetParam().role);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RoleTest,
    testing::Values(RoleCase{{"/s", "123-0"}, Role::kServer},
                    RoleCase{{"/S", "123-0"}, Role::kUserInterface},  // case-sensitive
                    RoleCase{{"/s"}, Role::kUserInterface},
                    RoleCase{{"/s", "123-0", "x"}, Role::kUserInterface},
                    RoleCase{{}, Role::kUserInterface},
                    RoleCase{{"movie.mp4", "/s"}, Role::kUserInterface},
                    RoleCase{{"-s", "1-0"}, Role::kUserInterface}),
    [](const testing::TestParamInfo<RoleCase>& info) { return std::to_string(info.index); });

}  // namespace
}  // namespace quorvex
