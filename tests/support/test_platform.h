// What the tests themselves ask of the operating system beyond the library's platform layer:
// the listening side of a server socket, scratch directories, the variable the temporary
// directory comes from, peak memory, and the error numbers each system reports. One file per
// system implements it (test_platform_posix.cpp, test_platform_win32.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zdb::test {

// Error numbers as the library records them (errno / WSAGetLastError / GetLastError).
extern const int kErrConnectionRefused;  // a TCP connect to a port nobody listens on
extern const int kErrNoSuchPath;         // a file created in a directory that does not exist
// The separator the system's own temporary paths use ('/', '\\').
extern const char kPathSeparator;

// Starts the socket layer for code of the test program itself (the library's own start
// belongs to its entry, which a program linking the objects never runs).
void StartTestSockets();

// A TCP socket bound to `address` (host order) and a free port, listening.
platform::Socket ListenTcp(uint32_t address, bool reuseAddress);
uint16_t LocalPort(platform::Socket s);
// Accepts one connection with TCP_NODELAY set; kNoSocket on failure.
platform::Socket Accept(platform::Socket listening);
// Ends both directions of a connection, waking a thread blocked in a receive on it.
void ShutdownBoth(platform::Socket s);

// A new, empty directory under the system's temporary directory; empty on failure. The
// returned path has no trailing separator.
std::string MakeScratchDirectory();
std::vector<std::string> ListDirectory(const std::string& dir);
bool RemoveEmptyDirectory(const std::string& dir);
bool PathExists(const std::string& path);

// The environment variable the library's temporary directory comes from (TMPDIR, TMP).
const char* TempDirectoryVariable();
std::optional<std::string> GetEnvironment(const char* name);
void SetEnvironment(const char* name, const std::optional<std::string>& value);

// True inside Wine (its ntdll exports wine_get_version), for the few differences of Wine from
// Windows that a test has to step around.
bool RunningUnderWine();

// Peak memory of this process so far, in KiB (resident set / peak working set).
long PeakMemoryKiB();

}  // namespace zdb::test

namespace zdb::test {

// The shared library loaded at run time, as applications load it (dlopen / LoadLibrary), so
// that its entry runs: attach on load, thread ends, detach on unload.
class LoadedLibrary {
 public:
  explicit LoadedLibrary(const char* path);
  ~LoadedLibrary() { Unload(); }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  bool loaded() const { return handle_ != nullptr; }
  void* Symbol(const char* name) const;
  // True when the system reports the library unloaded.
  bool Unload();

 private:
  void* handle_ = nullptr;
};

}  // namespace zdb::test
