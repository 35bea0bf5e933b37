#include "platform/ipc/SharedBlock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvex::ipc {
namespace {

void* MapWhole(int fd, size_t size) {
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return view == MAP_FAILED ? nullptr : view;
}

}  // namespace

std::unique_ptr<SharedBlock> SharedBlock::Create(const std::string& name, size_t size_bytes) {
  const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0)
    return nullptr;
  // ftruncate of a fresh object gives zero-filled pages.
  void* view = ftruncate(fd, off_t(size_bytes)) == 0 ? MapWhole(fd, size_bytes) : nullptr;
  close(fd);
  if (view == nullptr) {
    shm_unlink(name.c_str());
    return nullptr;
  }
  return std::unique_ptr<SharedBlock>(new SharedBlock(view, size_bytes));
}

std::unique_ptr<SharedBlock> SharedBlock::Open(const std::string& name, size_t size_bytes) {
  const int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0)
    return nullptr;
  struct stat st {};
  // A smaller object would fault on access past its end instead of failing here.
  void* view = (fstat(fd, &st) == 0 && size_t(st.st_size) >= size_bytes) ? MapWhole(fd, size_bytes)
                                                                         : nullptr;
  close(fd);
  if (view == nullptr)
    return nullptr;
  return std::unique_ptr<SharedBlock>(new SharedBlock(view, size_bytes));
}

void SharedBlock::Unlink(const std::string& name) {
  shm_unlink(name.c_str());
}

SharedBlock::~SharedBlock() {
  munmap(view_, size_);
}

}  // namespace quorvex::ipc
