#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "support/test_platform.h"

namespace zdb::test {

const int kErrConnectionRefused = ECONNREFUSED;
const int kErrNoSuchPath = ENOENT;
const char kPathSeparator = '/';

void StartTestSockets() {}

platform::Socket ListenTcp(uint32_t address, bool reuseAddress) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return platform::kNoSocket;
  int one = 1;
  if (reuseAddress) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) {
    ::close(fd);
    return platform::kNoSocket;
  }
  return fd;
}

uint16_t LocalPort(platform::Socket s) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

platform::Socket Accept(platform::Socket listening) {
  int fd = ::accept4(static_cast<int>(listening), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return platform::kNoSocket;
  platform::SetNoDelay(fd);
  return fd;
}

void ShutdownBoth(platform::Socket s) {
  ::shutdown(static_cast<int>(s), SHUT_RDWR);
}

std::string MakeScratchDirectory() {
  std::string pattern = platform::TempDirectory() + "zdb_test_XXXXXX";
  return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

std::vector<std::string> ListDirectory(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
  }
  return names;
}

bool RemoveEmptyDirectory(const std::string& dir) {
  return ::rmdir(dir.c_str()) == 0;
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

const char* TempDirectoryVariable() {
  return "TMPDIR";
}

std::optional<std::string> GetEnvironment(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::optional<std::string>(v) : std::nullopt;
}

void SetEnvironment(const char* name, const std::optional<std::string>& value) {
  if (value) {
    ::setenv(name, value->c_str(), 1);
  } else {
    ::unsetenv(name);
  }
}

bool RunningUnderWine() {
  return false;
}

long PeakMemoryKiB() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace zdb::test

#include <dlfcn.h>

namespace zdb::test {

LoadedLibrary::LoadedLibrary(const char* path) : handle_(::dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}

void* LoadedLibrary::Symbol(const char* name) const {
  return handle_ ? ::dlsym(handle_, name) : nullptr;
}

bool LoadedLibrary::Unload() {
  if (!handle_) return false;
  const bool ok = ::dlclose(handle_) == 0;
  handle_ = nullptr;
  return ok;
}

}  // namespace zdb::test
