#include "zdb/common.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "wire/result_codes.h"
#include "zdb/admin.h"
#include "zdb/platform.h"
#include "zdb_api.h"

namespace zdb::cli {

Globals& G() {
  static Globals g;
  return g;
}

namespace {

void VPrint(const char* fmt, va_list ap) {
  std::fputs("zdb: ", stderr);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
}

std::string Parent(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void Info(const char* fmt, ...) {
  if (G().quiet) return;
  va_list ap;
  va_start(ap, fmt);
  VPrint(fmt, ap);
  va_end(ap);
}

void Error(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  VPrint(fmt, ap);
  va_end(ap);
}

int Usage(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "zdb %s: %s\nRun 'zdb %s --help' for more information.\n", command.c_str(),
               message.c_str(), command.c_str());
  return kExitUsage;
}

bool TakeHost(const std::string& command, std::vector<std::string>& args, size_t wanted,
              std::string* host) {
  if (args.size() == wanted + 1) {
    *host = args.front();
    args.erase(args.begin());
  } else if (args.size() == wanted && !G().host.empty()) {
    *host = G().host;
  } else if (args.size() == wanted) {
    Usage(command, "no server given: name HOST[:PORT], use --host or set ZDB_HOST");
    return false;
  } else {
    Usage(command, args.size() > wanted ? "too many arguments" : "missing arguments");
    return false;
  }
  if (host->empty()) {
    Usage(command, "the host is empty");
    return false;
  }
  // Checked here, where a person typed it: the library would wrap a port to 16 bits.
  if (std::string why; !CheckHostPort(*host, &why)) {
    Usage(command, why);
    return false;
  }
  return true;
}

bool IsLibraryCode(int32_t code) {
  return code == ZDB_UDP_FAILURE || (code > ZDB_OK && code < 4000);
}

std::string LibraryText(int32_t code) {
  const char* text = LibraryCodeText(code);
  return text ? text : "Unknown library result";
}

std::string ResultText(int32_t code) {
  std::string text;
  if (IsLibraryCode(code) || code == ZDB_OK) {
    text = LibraryText(code);
  } else {
    char buf[160] = {};
    if (ZDB_GetError(static_cast<uint32_t>(code), buf) == ZDB_OK && buf[0]) {
      text = buf;
    } else {
      text = "(the server's text could not be fetched)";
    }
  }
  return std::to_string(code) + " " + text;
}

std::string AskPassword(const std::string& prompt) {
  std::string line;
  if (!::isatty(STDIN_FILENO)) {
    std::getline(std::cin, line);
    return line;
  }
  line = os::ReadHiddenLine(prompt);
  std::fputc('\n', stderr);
  return line;
}

ServerLogin::~ServerLogin() {
  if (open_) ZDB_Finish();
}

bool ServerLogin::Open(const std::string& host, bool persistent) {
  int32_t r = ZDB_SelHost(host.c_str());
  if (r == ZDB_PROBE_SILENT) {
    Error("no server answers at %s", host.c_str());
    return false;
  }
  if (r != ZDB_OK) {
    Error("cannot use host %s: %s", host.c_str(), ResultText(r).c_str());
    return false;
  }
  if (persistent && ZDB_Connection(1) != ZDB_OK) {
    Error("cannot keep one connection to %s", host.c_str());
    return false;
  }
  r = ZDB_Init(G().user.c_str(), G().password.c_str());
  if (r != ZDB_OK) {
    Error("login to %s refused: %s", host.c_str(), ResultText(r).c_str());
    return false;
  }
  open_ = true;
  return true;
}

bool Check(const char* what, int32_t result) {
  if (result == ZDB_OK) return true;
  Error("%s: %s", what, ResultText(result).c_str());
  return false;
}

bool CheckOutputFile(const std::string& path, const char* role) {
  if (path == "-") return true;
  if (path.empty()) {
    Error("the %s file name is empty", role);
    return false;
  }
  if (path.size() > 255) {
    Error("%s file %s: the path is longer than 255 characters", role, path.c_str());
    return false;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    Error("%s file %s: is a directory", role, path.c_str());
    return false;
  }
  const std::string dir = Parent(path);
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    Error("%s file %s: the directory %s does not exist", role, path.c_str(), dir.c_str());
    return false;
  }
  if (::access(dir.c_str(), W_OK) != 0 ||
      (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0)) {
    Error("%s file %s: not writable (%s)", role, path.c_str(), std::strerror(EACCES));
    return false;
  }
  return true;
}

bool CheckInputFile(const std::string& path, const char* role) {
  if (path == "-") return true;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    Error("%s file %s: %s", role, path.c_str(), std::strerror(errno));
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    Error("%s file %s: is a directory", role, path.c_str());
    return false;
  }
  if (::access(path.c_str(), R_OK) != 0) {
    Error("%s file %s: not readable", role, path.c_str());
    return false;
  }
  if (path.size() > 255) {
    Error("%s file %s: the path is longer than 255 characters", role, path.c_str());
    return false;
  }
  return true;
}

TempFile::TempFile(const std::string& prefix) {
  std::string pattern = os::TempFolder() + "zdb-" + prefix + "-XXXXXX";
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    Error("cannot make a temporary file %s: %s", pattern.c_str(), std::strerror(errno));
    return;
  }
  ::close(fd);
  path_ = pattern;
}

TempFile::~TempFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

bool CopyToStdout(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    Error("cannot read %s: %s", path.c_str(), std::strerror(errno));
    return false;
  }
  char buf[65536];
  size_t n;
  bool ok = true;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    if (std::fwrite(buf, 1, n, stdout) != n) ok = false;
  std::fclose(f);
  if (std::fflush(stdout) != 0) ok = false;
  if (!ok) Error("writing to standard output failed");
  return ok;
}

bool CopyFromStdin(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    Error("cannot write %s: %s", path.c_str(), std::strerror(errno));
    return false;
  }
  char buf[65536];
  size_t n;
  bool ok = true;
  os::SetBinary(stdin);
  while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0)
    if (std::fwrite(buf, 1, n, f) != n) ok = false;
  if (std::fclose(f) != 0) ok = false;
  if (!ok) Error("copying standard input to %s failed", path.c_str());
  return ok;
}

int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

}  // namespace zdb::cli
