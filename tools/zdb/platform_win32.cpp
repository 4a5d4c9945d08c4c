#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "zdb/platform.h"

namespace zdb::cli::os {

std::string ReadHiddenLine(const std::string& prompt) {
  std::string line;
  HANDLE console = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD old = 0;
  const bool haveTerm = ::GetConsoleMode(console, &old) != 0;
  if (haveTerm) ::SetConsoleMode(console, old & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  std::fprintf(stderr, "%s", prompt.c_str());
  std::fflush(stderr);
  std::getline(std::cin, line);
  if (haveTerm) ::SetConsoleMode(console, old);
  return line;
}

std::string TempFolder() {
  char tmp[MAX_PATH + 1];
  const DWORD n = ::GetTempPathA(sizeof tmp, tmp);  // ends in a backslash
  return n ? std::string(tmp, n) : std::string(".\\");
}

void SetBinary(std::FILE* stream) {
  ::_setmode(::_fileno(stream), _O_BINARY);
}

// The C runtime has no mkdtemp: the X's become a letter and the pid, and a letter whose name
// exists is passed over.
bool MakeTempFolder(std::string& pattern) {
  const std::string original = pattern;
  for (int attempt = 0; attempt < 26; ++attempt) {
    pattern = original;
    if (!::_mktemp(pattern.data())) return false;
    if (::_mkdir(pattern.c_str()) == 0) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

bool MakeFolder(const std::string& path) {
  return ::_mkdir(path.c_str()) == 0;
}

// Files and folders made here already have the ordinary access of their folder.
bool GiveCreateMode(int) {
  return true;
}
bool GiveCreateMode(const std::string&) {
  return true;
}

// No /proc to read another stream's position from: the bar shows no bytes.
int64_t PositionReadIn(const std::string&) {
  return 0;
}

}  // namespace zdb::cli::os
