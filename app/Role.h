#pragma once

#include <string>
#include <vector>

namespace quorvex {

enum class Role { kUserInterface, kServer };

// The arguments exclude the program path. The server role is exactly "/s" (case-sensitive)
// followed by one channel identifier; anything else is the user interface with movie paths.
Role ChooseRole(const std::vector<std::string>& args);

}  // namespace quorvex
