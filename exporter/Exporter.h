#pragma once

// Writes the comparison movie: the lap file's movies side by side from their bases, slowed to
// the rate, with the running times and laps over each tile and one movie's sound slowed in
// pitch, as H.264 and AAC in MP4. The movie is written to a temporary file beside the target
// and renamed over it only when complete: a failure or a cancel leaves no file behind.
// One thread (the caller's) drives everything; GStreamer's threads decode and encode.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "exporter/ExportOptions.h"

namespace quorvex::exporter {

// Called now and then with the output seconds written and the total.
using ProgressReport = std::function<void(double written_seconds, double total_seconds)>;

// Runs the export. Returns an empty text on success, otherwise what went wrong, worded for the
// user. `cancel` is polled between pictures; when it turns true the export stops and fails
// with "cancelled".
std::string RunExport(const ExportOptions& options, const ProgressReport& progress,
                      const std::atomic<bool>& cancel);

// The export role's entry point: `args` excludes the program path and starts with "--export".
// Progress and failures go to standard error; returns the process's exit code (0 on success,
// 2 for a wrong command line, 1 for any other failure). SIGINT and SIGTERM cancel cleanly.
int ExportMain(const std::vector<std::string>& args);

}  // namespace quorvex::exporter
