#include <dirent.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "zdb/platform.h"

namespace zdb::cli::os {
namespace {

mode_t CreateMode(bool folder) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return (folder ? 0777 : 0666) & ~mask;
}

}  // namespace

std::string ReadHiddenLine(const std::string& prompt) {
  std::string line;
  // The prompt comes once echo is off: what is typed after it is neither shown nor flushed.
  termios old{};
  const bool haveTerm = ::tcgetattr(STDIN_FILENO, &old) == 0;
  if (haveTerm) {
    termios quiet = old;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::fprintf(stderr, "%s", prompt.c_str());
  std::fflush(stderr);
  std::getline(std::cin, line);
  if (haveTerm) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
  return line;
}

std::string TempFolder() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/";
}

void SetBinary(std::FILE*) {}

bool MakeTempFolder(std::string& pattern) {
  return ::mkdtemp(pattern.data()) != nullptr;
}

bool MakeFolder(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0;
}

bool GiveCreateMode(int fd) {
  return ::fchmod(fd, CreateMode(false)) == 0;
}

bool GiveCreateMode(const std::string& folder) {
  return ::chmod(folder.c_str(), CreateMode(true)) == 0;
}

int64_t PositionReadIn(const std::string& path) {
  char want[PATH_MAX];
  if (!::realpath(path.c_str(), want)) return 0;
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return 0;
  int64_t pos = 0;
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string link = std::string("/proc/self/fd/") + e->d_name;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = 0;
    if (std::string(target) != want) continue;
    std::ifstream info(std::string("/proc/self/fdinfo/") + e->d_name);
    std::string key;
    long long value = 0;
    while (info >> key >> value)
      if (key == "pos:") pos = std::max<int64_t>(pos, value);
  }
  ::closedir(d);
  return pos;
}

}  // namespace zdb::cli::os
