// Checks shared by the fault rings: the process's open descriptors, and caller buffers with
// guard bytes behind them that must survive whatever the server answers.
#pragma once

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace zdb::test {

// Entries of /proc/self/fd, not counting the one that reading the directory opens.
inline int OpenFdCount() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    --n;
  }
  return n;
}

// The count settles at `expected` once the peer's threads have closed their ends; a descriptor
// the library leaked keeps it above for good. Returns the last count seen.
inline int SettledFdCount(int expected, int ms = 2000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  int n = OpenFdCount();
  while (n != expected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    n = OpenFdCount();
  }
  return n;
}

// A caller buffer of `size` bytes followed by guard bytes; the library is told only `size`.
class GuardedBuffer {
 public:
  static constexpr uint8_t kGuard = 0xA5;
  static constexpr size_t kGuardBytes = 32;

  explicit GuardedBuffer(size_t size, uint8_t fill = 0) : size_(size) { Reset(fill); }
  void Reset(uint8_t fill = 0) {
    bytes_.assign(size_ + kGuardBytes, kGuard);
    std::fill(bytes_.begin(), bytes_.begin() + static_cast<long>(size_), fill);
  }
  uint8_t* data() { return bytes_.data(); }
  char* text() { return reinterpret_cast<char*>(bytes_.data()); }
  size_t size() const { return size_; }
  bool GuardIntact() const {
    for (size_t i = size_; i < bytes_.size(); ++i)
      if (bytes_[i] != kGuard) return false;
    return true;
  }
  std::vector<uint8_t> Contents() const {
    return std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + static_cast<long>(size_));
  }

 private:
  size_t size_;
  std::vector<uint8_t> bytes_;
};

}  // namespace zdb::test
