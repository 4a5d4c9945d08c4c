// Local files read and written through one fixed buffer each, so that byte-sized or
// record-sized steps cost a system call per buffer rather than per step. Memory stays bounded
// whatever the size of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace zdb {

// Collects small writes into one fixed buffer so that a stream of short records costs a write
// call per buffer, not per record. Flush before the file is closed or handed back.
class BufferedFileWriter {
 public:
  static constexpr size_t kCapacity = 256 * 1024;

  explicit BufferedFileWriter(platform::File& file)
      : file_(file), buffer_(new (std::nothrow) uint8_t[kCapacity]) {}
  bool ok() const { return buffer_ != nullptr && !failed_; }

  void Put(uint8_t c) {
    if (used_ == kCapacity && !Flush()) return;
    buffer_[used_++] = c;
  }

  void Append(const uint8_t* p, size_t n) {
    if (failed_) return;
    if (n >= kCapacity) {
      if (Flush()) failed_ = !file_.Write(p, n);
      return;
    }
    if (n > kCapacity - used_ && !Flush()) return;
    std::memcpy(buffer_.get() + used_, p, n);
    used_ += n;
  }

  bool Flush() {
    if (failed_) return false;
    if (used_ > 0 && !file_.Write(buffer_.get(), used_)) failed_ = true;
    used_ = 0;
    return !failed_;
  }

 private:
  platform::File& file_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t used_ = 0;
  bool failed_ = false;
};

class BufferedFileReader {
 public:
  static constexpr size_t kCapacity = 64 * 1024;
  static constexpr int kEnd = -1;
  static constexpr int kError = -2;

  explicit BufferedFileReader(platform::File& file)
      : file_(file), buffer_(new (std::nothrow) uint8_t[kCapacity]) {}
  bool ok() const { return buffer_ != nullptr; }

  // The next byte (0..255) without taking it, kEnd at the end of the file, kError when the
  // read failed.
  int Peek() {
    if (next_ == have_ && !Fill()) return failed_ ? kError : kEnd;
    return buffer_[next_];
  }
  int Get() {
    int c = Peek();
    if (c >= 0) ++next_;
    return c;
  }

 private:
  bool Fill() {
    if (failed_) return false;
    long r = file_.Read(buffer_.get(), kCapacity);
    if (r < 0) failed_ = true;
    next_ = 0;
    have_ = r > 0 ? static_cast<size_t>(r) : 0;
    return have_ > 0;
  }

  platform::File& file_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t next_ = 0;
  size_t have_ = 0;
  bool failed_ = false;
};

}  // namespace zdb
