#include "app/Role.h"

namespace quorvex {

Role ChooseRole(const std::vector<std::string>& args) {
  return args.size() == 2 && args[0] == "/s" ? Role::kServer : Role::kUserInterface;
}

}  // namespace quorvex
