#include "exporter/ExportOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace quorvex::exporter {

namespace {

constexpr int kMaxSide = 7680;
constexpr int kMaxFps = 240;

// A whole decimal number without sign or spaces, within [low, high].
std::optional<int> ParseInt(const std::string& text, int low, int high) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const int value = std::atoi(text.c_str());
  if (value < low || value > high)
    return std::nullopt;
  return value;
}

std::optional<double> ParseDecimal(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
    return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size())
    return std::nullopt;
  return value;
}

// Only the panel's rates: the pitch filter stretches by whole factors, and a rate between
// them would slow the picture and the sound differently.
std::optional<double> ParseRate(const std::string& text) {
  std::optional<double> value;
  const size_t slash = text.find('/');
  if (slash == std::string::npos) {
    value = ParseDecimal(text);
  } else {
    const auto num = ParseInt(text.substr(0, slash), 1, 1);
    const auto den = ParseInt(text.substr(slash + 1), 1, 16);
    if (num && den)
      value = double(*num) / *den;
  }
  if (!value)
    return std::nullopt;
  for (double allowed : {1.0, 0.5, 0.25, 0.125, 0.0625}) {
    if (*value == allowed)
      return allowed;
  }
  return std::nullopt;
}

bool ParseSize(const std::string& text, int& width, int& height) {
  const size_t x = text.find('x');
  if (x == std::string::npos)
    return false;
  const auto w = ParseInt(text.substr(0, x), 16, kMaxSide);
  const auto h = ParseInt(text.substr(x + 1), 16, kMaxSide);
  // The encoder's 4:2:0 pictures need even sides.
  if (!w || !h || *w % 2 != 0 || *h % 2 != 0)
    return false;
  width = *w;
  height = *h;
  return true;
}

// "N:LEFT,TOP,WIDTH,HEIGHT": movie number, then the part in kZoomUnits, as the channel's zoom.
std::optional<ExportOptions::Zoom> ParseZoom(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos)
    return std::nullopt;
  const auto number = ParseInt(text.substr(0, colon), 1, 999);
  int part[4] = {};
  size_t from = colon + 1;
  for (int i = 0; i < 4; ++i) {
    const size_t comma = i < 3 ? text.find(',', from) : text.size();
    if (comma == std::string::npos)
      return std::nullopt;
    const auto value = ParseInt(text.substr(from, comma - from), 0, kZoomUnits);
    if (!value)
      return std::nullopt;
    part[i] = *value;
    from = comma + 1;
  }
  constexpr int kSmallest = kZoomUnits / 8;
  if (!number || part[2] < kSmallest || part[3] < kSmallest || part[0] + part[2] > kZoomUnits ||
      part[1] + part[3] > kZoomUnits)
    return std::nullopt;
  constexpr double kUnits = kZoomUnits;
  return ExportOptions::Zoom{*number - 1, part[0] / kUnits, part[1] / kUnits, part[2] / kUnits,
                             part[3] / kUnits};
}

ParseResult Fail(std::string message) {
  return {std::nullopt, std::move(message)};
}

}  // namespace

ParseResult ParseExportArguments(const std::vector<std::string>& args) {
  ExportOptions options;
  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool is_option = arg == "--rate" || arg == "--size" || arg == "--fps" ||
                           arg == "--audio" || arg == "--base" || arg == "--to" || arg == "--zoom";
    if (!is_option) {
      if (arg.size() > 2 && arg.compare(0, 2, "--") == 0)
        return Fail("unknown option " + arg);
      positional.push_back(arg);
      continue;
    }
    if (i + 1 >= args.size())
      return Fail(arg + " needs a value");
    const std::string& value = args[++i];
    if (arg == "--rate") {
      const auto rate = ParseRate(value);
      if (!rate)
        return Fail("--rate " + value + ": use 1, 1/2, 1/4, 1/8 or 1/16 (or 0.5, 0.25, ...)");
      options.rate = *rate;
    } else if (arg == "--size") {
      if (!ParseSize(value, options.width, options.height))
        return Fail("--size " + value + ": use WIDTHxHEIGHT, even numbers from 16 to 7680");
    } else if (arg == "--fps") {
      const auto fps = ParseInt(value, 1, kMaxFps);
      if (!fps)
        return Fail("--fps " + value + ": use a whole number from 1 to 240");
      options.fps = *fps;
    } else if (arg == "--to") {
      if (value != "laps" && value != "end")
        return Fail("--to " + value + ": use laps or end");
      options.to_end = value == "end";
    } else if (arg == "--zoom") {
      const auto zoom = ParseZoom(value);
      if (!zoom)
        return Fail("--zoom " + value +
                    ": use N:LEFT,TOP,WIDTH,HEIGHT in 65536ths of the picture, inside it and at "
                    "least an eighth of it");
      options.zooms.push_back(*zoom);
    } else if (arg == "--base") {
      const auto number = ParseInt(value, 1, 999);
      if (!number)
        return Fail("--base " + value + ": use a movie number (1 for No.1)");
      options.base_movie = *number - 1;
    } else if (value == "none") {
      options.no_audio = true;
    } else {
      const auto number = ParseInt(value, 1, 999);
      if (!number)
        return Fail("--audio " + value + ": use a movie number (1 for No.1) or none");
      options.audio_movie = *number - 1;
      options.no_audio = false;
    }
  }
  if (positional.size() != 2)
    return Fail("expected the output movie and the lap file");
  options.output_path = positional[0];
  options.lap_file_path = positional[1];
  return {options, {}};
}

std::string ExportUsage() {
  return "Usage: quorvex --export OUT.mp4 LAPFILE [--rate R] [--size WxH] [--fps F] "
         "[--audio N|none]\n"
         "Writes the lap file's movies side by side, each from its base, slowed to R (1, 1/2, "
         "1/4,\n"
         "1/8, 1/16; default 1), with running times and laps, as H.264 and AAC in MP4.\n"
         "  --size WxH       the picture's size (default 1920x1080)\n"
         "  --fps F          pictures per second (default 30)\n"
         "  --audio N|none   the sound of movie No.N (default: the base movie's), or none\n"
         "  --base N         the movie the differences are taken against (default 1)\n"
         "  --to laps|end    1 s past the last lap (default) or to the end of the longest movie\n"
         "  --zoom N:L,T,W,H only the part L,T,W,H (in 65536ths of the picture) of movie No.N\n";
}

}  // namespace quorvex::exporter
