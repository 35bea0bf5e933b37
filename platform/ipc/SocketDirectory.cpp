#include "platform/ipc/SocketDirectory.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quorvex::ipc {
namespace {

// Room left in sun_path for "/" and a handle of up to ten digits, and the terminator.
constexpr size_t kMaxDirectoryLength = sizeof(sockaddr_un::sun_path) - 13;

bool Usable(const std::string& path) {
  return !path.empty() && path.front() == '/' && path.size() <= kMaxDirectoryLength &&
         IsPrivateDirectory(path);
}

std::string* g_temporary = nullptr;  // the directory made under /tmp, removed at exit

void RemoveTemporary() {
  if (g_temporary)
    rmdir(g_temporary->c_str());  // fails while a socket is left in it, which is fine
}

}  // namespace

bool IsPrivateDirectory(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0;
}

std::string MakeSocketDirectory(bool* made_temporary) {
  if (made_temporary)
    *made_temporary = false;
  if (const char* given = std::getenv(kSocketDirectoryVariable); given && Usable(given))
    return given;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/') {
    const std::string dir = std::string(runtime) + "/quorvex";
    // A directory of our own left with wider permissions is narrowed; one of another user (or a
    // link) is never used.
    if (mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) {
      struct stat st {};
      if (lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
          (st.st_mode & 077) != 0)
        chmod(dir.c_str(), 0700);
      if (Usable(dir))
        return dir;
    }
  }
  // mkdtemp makes a new directory of mode 0700 under a name nobody could have taken before us.
  std::string name = "/tmp/quorvex-XXXXXX";
  if (mkdtemp(name.data()) == nullptr)
    return {};
  if (made_temporary)
    *made_temporary = true;
  return name;
}

const std::string& SocketDirectory() {
  static const std::string dir = [] {
    bool temporary = false;
    std::string made = MakeSocketDirectory(&temporary);
    if (temporary) {
      g_temporary = new std::string(made);
      std::atexit(RemoveTemporary);
    }
    return made;
  }();
  return dir;
}

}  // namespace quorvex::ipc
