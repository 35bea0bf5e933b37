#pragma once

#include <string>
#include <vector>

namespace quorvex {

enum class Role { kUserInterface, kServer, kExport };

// The arguments exclude the program path. The server role is exactly "/s" (case-sensitive)
// followed by one channel identifier; "--export" as the first argument is the headless export
// role; anything else is the user interface with movie paths.
Role ChooseRole(const std::vector<std::string>& args);

// The user-interface role's own switches. Every other argument is a movie path exactly as the
// user gave it, even when it looks like an option of the window toolkit ("-style", "-reverse").
enum class TerminalRequest { kNone, kHelp, kVersion };

// `--help` or `--version` anywhere among the arguments (the first one wins): the program
// answers on standard output and opens no window. A movie named like that opens as "./--help".
TerminalRequest ChooseTerminalRequest(const std::vector<std::string>& args);
// The text printed for `request` (not kNone), ending in a newline.
std::string TerminalAnswer(TerminalRequest request);

}  // namespace quorvex
