#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace quorvex::ipc {

// A named block of shared memory, mapped whole for reading and writing. A new block is
// zero-filled. Names start with '/' and hold no other '/'.
class SharedBlock {
 public:
  // Creates a new block of `size_bytes` with mode 0600; null when the name exists (EEXIST)
  // or the block cannot be made.
  static std::unique_ptr<SharedBlock> Create(const std::string& name, size_t size_bytes);
  // Opens and maps an existing block of exactly `size_bytes`; null when there is none or it
  // is smaller.
  static std::unique_ptr<SharedBlock> Open(const std::string& name, size_t size_bytes);
  static void Unlink(const std::string& name);

  ~SharedBlock();
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  unsigned char* data() { return static_cast<unsigned char*>(view_); }
  const unsigned char* data() const { return static_cast<const unsigned char*>(view_); }
  size_t size() const { return size_; }

 private:
  SharedBlock(void* view, size_t size) : view_(view), size_(size) {}
  void* view_;
  size_t size_;
};

}  // namespace quorvex::ipc
