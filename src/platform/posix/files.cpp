#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace zdb::platform {

// Files of 2 GiB and more, and files on file systems with 64-bit inode numbers, open and
// report their size in 32-bit builds too (_FILE_OFFSET_BITS=64, set by the build).
static_assert(sizeof(off_t) == 8, "32-bit builds need 64-bit file offsets");

bool File::OpenRead(const char* name) {
  Close();
  int fd = ::open(name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  handle_ = fd;
  return true;
}

bool File::Create(const char* name, bool /*exclusive: no sharing modes on POSIX*/) {
  Close();
  int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  handle_ = fd;
  return true;
}

int64_t File::Size() {
  struct stat st;
  if (::fstat(static_cast<int>(handle_), &st) != 0) {
    error_ = errno;
    return -1;
  }
  return static_cast<int64_t>(st.st_size);
}

long File::Read(void* data, size_t n) {
  ssize_t r;
  do {
    r = ::read(static_cast<int>(handle_), data, n);
  } while (r < 0 && errno == EINTR);
  if (r < 0) error_ = errno;
  return static_cast<long>(r);
}

bool File::Write(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t r = ::write(static_cast<int>(handle_), p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      error_ = r < 0 ? errno : EIO;
      return false;
    }
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

void File::Close() {
  if (handle_ != kClosed) {
    ::close(static_cast<int>(handle_));
    handle_ = kClosed;
  }
}

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = (dir && *dir) ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

bool MakeTempFile(const std::string& dir, const char* prefix, std::string* name) {
  std::string pattern = dir + prefix + "XXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) return false;
  ::close(fd);
  *name = pattern;
  return true;
}

bool RemoveFile(const char* name) {
  return ::unlink(name) == 0;
}

}  // namespace zdb::platform
