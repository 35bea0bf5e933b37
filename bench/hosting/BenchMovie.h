#pragma once

// One movie in its own server process, as the player has it: drawn into a window of this
// process, paused after the open, driven through CMovieClient. The server's resident memory and
// processor time are read from /proc.

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/BenchServer.h"
#include "engine/ChannelTerms.h"
#include "hosting/CMovieClient.h"
#include "tests/support/XTestWindow.h"

namespace quorvex::bench {

constexpr double kUnitsPerSecond = double(media::kUnitsPerSecond);  // the channel's unit

inline int64_t Units(double seconds) {
  return int64_t(std::llround(seconds * kUnitsPerSecond));
}

inline double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

class BenchMovie {
 public:
  // by_seek: the server makes every step a flushing accurate seek (QUORVEX_STEPS_BY_SEEK=1),
  // without the picture cache and decoding on.
  BenchMovie(const std::string& movie, int width, int height, bool by_seek)
      : window_(width, height) {
    if (by_seek)
      setenv("QUORVEX_STEPS_BY_SEEK", "1", 1);
    else
      unsetenv("QUORVEX_STEPS_BY_SEEK");
    client_ = std::make_unique<CMovieClient>(ServerOptions());
    unsetenv("QUORVEX_STEPS_BY_SEEK");
    const std::u16string path(movie.begin(), movie.end());
    ok_ = !movie.empty() && client_->InitializeGraph(path.c_str(), window_.id());
    client_->SetVideoSize(width, height);
    client_->Pause();
  }

  bool ok() const { return ok_; }
  CMovieClient& client() { return *client_; }

  int64_t Position() {
    int64_t at = 0;
    client_->GetCurrentPosition(&at);
    return at;
  }
  int64_t Duration() {
    int64_t duration = 0;
    client_->GetDuration(&duration);
    return duration;
  }
  // An accurate seek, as the position bar and the lap table make it.
  void SeekTo(int64_t units) {
    client_->SetPositions(&units, media::AM_SEEKING_AbsolutePositioning, nullptr,
                          media::AM_SEEKING_NoPositioning);
  }
  // The control panel's step (its +0.03 ... buttons): from the position read back by
  // `seconds`, clamped to the movie, as a seek.
  void PanelStep(double seconds) {
    int64_t at = 0, duration = 0;
    client_->GetCurrentPosition(&at);
    client_->GetDuration(&duration);
    const int64_t target = at + int64_t(std::trunc(seconds * kUnitsPerSecond));
    SeekTo(target < 0 ? 0 : target > duration ? duration : target);
  }
  // Shows the middle 1/`scale` of the picture's width and height, as the movie window's zoom
  // does (1: the whole picture).
  void Zoom(int scale) {
    constexpr int32_t kWhole = channel::kZoomUnits;
    const int32_t size = kWhole / scale;
    client_->SetZoom((kWhole - size) / 2, (kWhole - size) / 2, size, size);
  }
  // The Left/Right keys: pictures of the movie's own rate.
  void StepFrames(int frames) { client_->StepFrames(frames); }

  // VmRSS and VmHWM of the server (resident now, and at most so far), in MiB; its
  // proportional share (Pss: pages shared with other processes, the libraries above all, count
  // in part, so that the shares of several servers add up to what they take together) and its
  // anonymous memory (what it allocated itself).
  struct Memory {
    double resident_mib = 0, peak_mib = 0, proportional_mib = 0, anonymous_mib = 0;
  };
  Memory ServerMemory() const {
    Memory memory;
    const std::string path = "/proc/" + std::to_string(client_->server_pid()) + "/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
      return memory;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f)) {
      if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
        memory.resident_mib = double(kib) / 1024;
      else if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1)
        memory.peak_mib = double(kib) / 1024;
    }
    std::fclose(f);
    const std::string rollup =
        "/proc/" + std::to_string(client_->server_pid()) + "/smaps_rollup";
    if (FILE* r = std::fopen(rollup.c_str(), "r")) {
      while (std::fgets(line, sizeof line, r)) {
        if (std::sscanf(line, "Pss: %ld kB", &kib) == 1)
          memory.proportional_mib = double(kib) / 1024;
        else if (std::sscanf(line, "Anonymous: %ld kB", &kib) == 1)
          memory.anonymous_mib = double(kib) / 1024;
      }
      std::fclose(r);
    }
    return memory;
  }

  // Processor time the server has used so far (user and system, all its threads), in s.
  double ServerCpuSeconds() const {
    const std::string path = "/proc/" + std::to_string(client_->server_pid()) + "/stat";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
      return 0;
    char buffer[1024] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    const std::string stat(buffer, n);
    // Fields 14 and 15, counted after the command name, which is in parentheses and may
    // hold spaces.
    const size_t close = stat.rfind(')');
    unsigned long utime = 0, stime = 0;
    if (close == std::string::npos ||
        std::sscanf(stat.c_str() + close + 2,
                    "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime,
                    &stime) != 2)
      return 0;
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
  }

 private:
  test::XTestWindow window_;
  std::unique_ptr<CMovieClient> client_;
  bool ok_ = false;
};

}  // namespace quorvex::bench
