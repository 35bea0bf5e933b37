#include "tests/support/TestEnv.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
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

QString MoviePath(const std::string& name) {
  return QString::fromStdString(Movie(name));
}

std::u16string Utf16(const std::string& path) {
  return std::u16string(path.begin(), path.end());
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

std::vector<int64_t> PictureTimes(const std::string& movie) {
  const auto read = [path = Movie(movie)](const std::string& entries) {
    return Capture("ffprobe -v error -select_streams v:0 -show_entries " + entries +
                   " -of csv=p=0 '" + path + "'").first;
  };
  int64_t num = 0, den = 0;
  std::sscanf(read("stream=time_base").c_str(), "%ld/%ld", &num, &den);
  std::vector<int64_t> times;
  const std::string pts = read("packet=pts");
  for (const char* at = pts.c_str(); *at;) {
    char* end = nullptr;
    const long long ticks = std::strtoll(at, &end, 10);
    if (end == at)
      break;
    if (den > 0)
      times.push_back(ticks * num * 1'000'000'000 / den);
    at = *end ? end + 1 : end;
  }
  std::sort(times.begin(), times.end());
  return times;
}

}  // namespace quorvex::test
