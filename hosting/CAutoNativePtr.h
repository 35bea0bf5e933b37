#pragma once

#include <utility>

namespace quorvex {

// Owning holder of one native object (a movie client). Deleting the held object is what ends
// its server process, so every path that lets go of it deletes it exactly once. Not copyable;
// assignment from another holder moves the object over.
template <typename T>
class CAutoNativePtr {
 public:
  CAutoNativePtr() = default;
  explicit CAutoNativePtr(T* ptr) : _ptr(ptr) {}
  CAutoNativePtr(CAutoNativePtr&& other) noexcept : _ptr(other.Detach()) {}
  CAutoNativePtr(const CAutoNativePtr&) = delete;
  ~CAutoNativePtr() { Destroy(); }

  // Takes `ptr`, deleting the held object first. Null, or the object already held, is ignored.
  void Attach(T* ptr) {
    if (ptr == nullptr || ptr == _ptr)
      return;
    Destroy();
    _ptr = ptr;
  }
  // Gives up the held object without deleting it.
  T* Detach() { return std::exchange(_ptr, nullptr); }
  // Deletes the held object, if any; calling it again does nothing.
  void Destroy() { delete std::exchange(_ptr, nullptr); }

  CAutoNativePtr& operator=(CAutoNativePtr& other) {
    if (&other != this)
      Attach(other.Detach());
    return *this;
  }
  CAutoNativePtr& operator=(CAutoNativePtr&& other) noexcept {
    if (&other != this)
      Attach(other.Detach());
    return *this;
  }

  T* get() const { return _ptr; }
  T* operator->() const { return _ptr; }
  operator T*() const { return _ptr; }
  explicit operator bool() const { return _ptr != nullptr; }

 private:
  T* _ptr = nullptr;
};

}  // namespace quorvex
