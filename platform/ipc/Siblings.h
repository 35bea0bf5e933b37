#pragma once

// What a process can learn of the other children of its parent: the movie servers of one user
// interface share budgets (memory for pictures) without a word between them.

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace quorvex::ipc {

// Processes whose parent is `parent` and whose first argument is `first_argument`, as /proc
// shows them.
int CountChildren(pid_t parent, const std::string& first_argument);
// The same among this process's parent's children (this one included); at least 1.
int CountSiblings(const std::string& first_argument);

// The machine's physical memory in bytes (0 when unknown).
size_t PhysicalMemoryBytes();

}  // namespace quorvex::ipc
