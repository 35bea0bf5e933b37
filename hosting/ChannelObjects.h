#pragma once

// The kernel objects of one channel's handshake, made by the client and opened by the server
// under the same names, and the removal of those names, which both sides do: whoever comes
// second finds nothing, which is fine, and a side that dies during the handshake leaves no
// names behind. Both sides keep their mappings after the names are gone.

#include <memory>
#include <string>

#include "platform/ipc/NamedEvent.h"
#include "platform/ipc/SharedBlock.h"

namespace quorvex::channel {

struct Objects {
  std::unique_ptr<ipc::NamedEvent> start_event;
  std::unique_ptr<ipc::SharedBlock> param_map;   // kBlockBytes
  std::unique_ptr<ipc::SharedBlock> return_map;  // kBlockBytes

  // Creates the three objects of `id` (none may exist yet). On failure the names that were
  // made are removed again and the result is empty.
  static Objects Create(const std::string& id);
  // Opens the three existing objects of `id`; empty when any is missing.
  static Objects Open(const std::string& id);

  bool complete() const { return start_event && param_map && return_map; }
};

// Removes the three names of `id`; names already gone are ignored.
void RemoveNames(const std::string& id);

}  // namespace quorvex::channel
