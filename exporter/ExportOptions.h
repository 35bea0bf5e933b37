#pragma once

// The export role's command line: `--export OUT LAPFILE [--rate R] [--size WxH] [--fps F]
// [--audio N|none]`. Pure parsing; any thread.

#include <optional>
#include <string>
#include <vector>

namespace quorvex::exporter {

inline constexpr int kZoomUnits = 65536;

struct ExportOptions {
  std::string output_path;
  std::string lap_file_path;
  double rate = 1.0;      // one of the panel's rates: 1, 1/2, 1/4, 1/8, 1/16
  int width = 1920;       // the whole output picture, even
  int height = 1080;      // even
  int fps = 30;           // output pictures per second
  // The movie the differences are taken against, 0-based (the lap table's base movie; a lap
  // file loads with the first).
  int base_movie = 0;
  // The movie whose sound is kept, 0-based; nullopt: the base movie's. `no_audio` keeps none.
  std::optional<int> audio_movie;
  bool no_audio = false;
  // Run to the end of the longest movie even when there are lap rows.
  bool to_end = false;
  // The part of a movie's picture shown, as the player showed it zoomed: fractions of the
  // upright picture. Movies without one are shown whole.
  struct Zoom {
    int movie = 0;  // 0-based
    double left = 0, top = 0, width = 1, height = 1;
  };
  std::vector<Zoom> zooms;

  // The movie whose sound is kept; nullopt for none.
  std::optional<int> SoundMovie() const {
    if (no_audio)
      return std::nullopt;
    return audio_movie.value_or(base_movie);
  }
};

// The outcome of parsing: the options, or a message saying what is wrong with the command line.
struct ParseResult {
  std::optional<ExportOptions> options;
  std::string error;
};

// `args` excludes the program path and starts with "--export". A rate is written as a decimal
// ("0.25") or a fraction ("1/4"); every value must be one of the panel's. `--audio` and
// `--base` take the movie's number as the user sees it ("No.2" is 2), `--audio` also "none";
// whether that movie exists is known only once the lap file is read. `--to end` runs to the
// end of the longest movie instead of 1 s past the last lap. `--zoom N:LEFT,TOP,WIDTH,HEIGHT`
// (repeatable) shows only that part of movie No.N, in kZoomUnits of its picture's width and
// height, as the player's zoom does: inside the picture, at most 8x.
ParseResult ParseExportArguments(const std::vector<std::string>& args);

// The usage lines of the export role, ending in a newline.
std::string ExportUsage();

}  // namespace quorvex::exporter
