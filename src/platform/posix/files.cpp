#include <fcntl.h>
#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace zdb::platform {

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

long SendFromFile(Socket s, File& file, size_t n) {
  // sendfile takes no MSG_NOSIGNAL, and a peer that is gone would end a caller that keeps
  // SIGPIPE's default action. So the signal is blocked for this thread while the kernel sends,
  // and one that the sending raised is taken back before the mask is restored; one that was
  // pending already belongs to someone else and stays.
  sigset_t pipe, before, pending;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  if (pthread_sigmask(SIG_BLOCK, &pipe, &before) != 0) return kCopyYourself;
  sigemptyset(&pending);
  sigpending(&pending);
  const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;

  size_t sent = 0;
  long result = 0;
  while (sent < n) {
    // At most 1 GiB a call: sendfile moves less than 2 GiB at once anyway.
    const size_t step = n - sent < (size_t{1} << 30) ? n - sent : (size_t{1} << 30);
    const ssize_t r =
        ::sendfile(static_cast<int>(s), static_cast<int>(file.handle_), nullptr, step);
    if (r > 0) {
      sent += static_cast<size_t>(r);
      continue;
    }
    if (r == 0) break;  // the file ended early
    if (errno == EINTR) continue;
    // Files and sockets that sendfile does not take fail before moving a byte.
    if (sent == 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP))
      result = kCopyYourself;
    else
      result = -1;
    break;
  }
  const int error = errno;
  if (result == -1 && error == EPIPE && !pendingBefore) {
    const timespec now{0, 0};
    while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = error;
  return result == 0 ? static_cast<long>(sent) : result;
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
