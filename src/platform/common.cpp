// The parts of the platform layer that are the same on every system.
#include <utility>

#include "platform/platform.h"

namespace zdb::platform {
namespace {
Mutex g_sourceMutex;
LocalAddressSource g_source;
}  // namespace

bool LocalAddresses(std::vector<uint32_t>* out) {
  LocalAddressSource source;
  {
    MutexLock lock(g_sourceMutex);
    source = g_source;
  }
  return source ? source(out) : SystemLocalAddresses(out);
}

void SetLocalAddressSource(LocalAddressSource source) {
  MutexLock lock(g_sourceMutex);
  g_source = std::move(source);
}

File::~File() {
  Close();
}

File::File(File&& other) noexcept : handle_(other.handle_), error_(other.error_) {
  other.handle_ = kClosed;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    error_ = other.error_;
    other.handle_ = kClosed;
  }
  return *this;
}

}  // namespace zdb::platform
