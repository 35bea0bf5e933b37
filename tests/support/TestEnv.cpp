#include "tests/support/TestEnv.h"

#include <unistd.h>

#include <cstdlib>

namespace quorvex::test {

std::string QuorvexExe() {
  if (const char* env = std::getenv("QUORVEX_EXE"))
    return env;
  return QUORVEX_TEST_EXE;
}

std::string Movie(const std::string& name) {
  const char* env = std::getenv("QUORVEX_TEST_MOVIES");
  return std::string(env ? env : QUORVEX_TEST_MOVIES) + "/" + name;
}

std::string LeftoverChannelNames(const std::string& id) {
  std::string found;
  for (const std::string& name :
       {"sem.QuorvexServerStartEvent" + id, "QuorvexParameterMap" + id, "QuorvexReturnMap" + id}) {
    if (access(("/dev/shm/" + name).c_str(), F_OK) == 0)
      found += name + " ";
  }
  return found;
}

}  // namespace quorvex::test
