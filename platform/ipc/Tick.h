#pragma once

#include <cstdint>

namespace quorvex::ipc {

// Milliseconds since an arbitrary fixed point (CLOCK_MONOTONIC), truncated to 32 bits: the
// tick count that channel identifiers are formed from. Wraps after about 49.7 days.
uint32_t GetTickCount();

}  // namespace quorvex::ipc
