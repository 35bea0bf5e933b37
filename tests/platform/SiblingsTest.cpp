// Counting the movie servers of one user interface from /proc: real child processes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <vector>

#include "platform/ipc/ChildProcess.h"
#include "platform/ipc/Siblings.h"

namespace quorvex::ipc {
namespace {

TEST(Siblings, CountsTheChildrenWithTheirFirstArgument) {
  const std::string mark = "31." + std::to_string(getpid());  // a sleep no other test starts
  std::vector<ChildProcess> children;
  for (int i = 0; i < 3; ++i)
    children.push_back(*ChildProcess::Spawn("/bin/sleep", {"sleep", mark}));
  auto other = ChildProcess::Spawn("/bin/sleep", {"sleep", "32"});
  EXPECT_EQ(CountChildren(getpid(), mark), 3);
  children.back().Kill();
  children.pop_back();
  EXPECT_EQ(CountChildren(getpid(), mark), 2) << "one that has gone is not counted";
  EXPECT_EQ(CountSiblings(mark), 1) << "this process is not a sleep: at least itself";
  EXPECT_GT(PhysicalMemoryBytes(), size_t(64) << 20);
}

}  // namespace
}  // namespace quorvex::ipc
