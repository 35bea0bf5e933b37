#include "platform/ipc/Siblings.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace quorvex::ipc {
namespace {

// The parent's pid from /proc/<pid>/stat: the field after the command, which is in parentheses
// and may itself hold spaces and parentheses.
pid_t ParentOf(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(stat, line))
    return -1;
  const size_t close = line.rfind(')');
  if (close == std::string::npos)
    return -1;
  std::istringstream rest(line.substr(close + 1));
  char state = 0;
  long parent = -1;
  rest >> state >> parent;
  return rest ? pid_t(parent) : -1;
}

std::string FirstArgument(const std::string& pid) {
  std::ifstream cmdline("/proc/" + pid + "/cmdline", std::ios::binary);
  std::string program, first;
  if (!std::getline(cmdline, program, '\0') || !std::getline(cmdline, first, '\0'))
    return "";
  return first;
}

}  // namespace

int CountChildren(pid_t parent, const std::string& first_argument) {
  int count = 0;
  if (DIR* proc = opendir("/proc")) {
    while (const dirent* entry = readdir(proc)) {
      const std::string pid = entry->d_name;
      if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos)
        continue;
      if (ParentOf(pid) == parent && FirstArgument(pid) == first_argument)
        ++count;
    }
    closedir(proc);
  }
  return count;
}

int CountSiblings(const std::string& first_argument) {
  return std::max(CountChildren(getppid(), first_argument), 1);
}

size_t PhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  return pages > 0 && page > 0 ? size_t(pages) * size_t(page) : 0;
}

}  // namespace quorvex::ipc
