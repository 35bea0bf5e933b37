#include "app/Role.h"

namespace quorvex {

Role ChooseRole(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "/s")
    return Role::kServer;
  return !args.empty() && args[0] == "--export" ? Role::kExport : Role::kUserInterface;
}

TerminalRequest ChooseTerminalRequest(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help")
      return TerminalRequest::kHelp;
    if (arg == "--version")
      return TerminalRequest::kVersion;
  }
  return TerminalRequest::kNone;
}

std::string TerminalAnswer(TerminalRequest request) {
  if (request == TerminalRequest::kVersion)
    return "quorvex " QUORVEX_VERSION "\n";
  return "Usage: quorvex [MOVIE...]\n"
         "       quorvex --export OUT.mp4 LAPFILE [--rate R] [--size WxH] [--fps F] "
         "[--audio N|none]\n"
         "Shows the movies side by side and plays them together; takes lap times.\n"
         "Every argument is the path of a movie to open. With --export, writes the lap file's\n"
         "movies side by side as one movie, without a window (see --export --help).\n"
         "\n"
         "  --help     show this text and exit\n"
         "  --version  show the version and exit\n";
}

}  // namespace quorvex
