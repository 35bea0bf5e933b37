#pragma once

// The export role's command line: `--export OUT LAPFILE [--rate R] [--size WxH] [--fps F]
// [--audio N|none]`. Pure parsing; any thread.

#include <optional>
#include <string>
#include <vector>

namespace quorvex::exporter {

struct ExportOptions {
  std::string output_path;
  std::string lap_file_path;
  double rate = 1.0;      // one of the panel's rates: 1, 1/2, 1/4, 1/8, 1/16
  int width = 1920;       // the whole output picture, even
  int height = 1080;      // even
  int fps = 30;           // output pictures per second
  // The movie whose sound is kept, 0-based; nullopt keeps no sound. Defaults to the first movie
  // (the lap lists' base movie).
  std::optional<int> audio_movie = 0;
};

// The outcome of parsing: the options, or a message saying what is wrong with the command line.
struct ParseResult {
  std::optional<ExportOptions> options;
  std::string error;
};

// `args` excludes the program path and starts with "--export". A rate is written as a decimal
// ("0.25") or a fraction ("1/4"); every value must be one of the panel's. `--audio` takes the
// movie's number as the user sees it ("No.2" is 2) or "none"; whether that movie exists is
// known only once the lap file is read.
ParseResult ParseExportArguments(const std::vector<std::string>& args);

// The usage lines of the export role, ending in a newline.
std::string ExportUsage();

}  // namespace quorvex::exporter
