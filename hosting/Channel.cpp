#include "hosting/Channel.h"

#include <cstdio>

namespace quorvex::channel {

std::string FormatIdentifier(uint32_t tick_ms, int32_t index) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u-%d", tick_ms, index);
  return buf;
}

std::string StartEventName(const std::string& id) {
  return "/QuorvexServerStartEvent" + id;
}
std::string ParamMapName(const std::string& id) {
  return "/QuorvexParameterMap" + id;
}
std::string ReturnMapName(const std::string& id) {
  return "/QuorvexReturnMap" + id;
}

}  // namespace quorvex::channel
