#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quorvex::test {

// The built quorvex executable (what real server processes are started from).
std::string QuorvexExe();
// A generated test movie by file name, e.g. "h264-aac-16x9.mp4" (see tests/fixtures).
std::string Movie(const std::string& name);
// The same as the windows take it.
QString MoviePath(const std::string& name);
// An ASCII path as the engine and the channel take it.
std::u16string Utf16(const std::string& path);
// The start of every picture of the test movie `name`'s first picture stream as its container
// stores it, sorted, in ns: read by ffprobe, a demuxer independent of the one under test.
std::vector<int64_t> PictureTimes(const std::string& name);
// The standard output and exit status of `command` run by the shell.
std::pair<std::string, int> Capture(const std::string& command);
// Names of the channel `id` still present under /dev/shm (its semaphore and blocks).
// Other tests may be running channels of their own at the same time, so only one
// channel's names can be checked.
std::string LeftoverChannelNames(const std::string& id);

}  // namespace quorvex::test
