#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2.h, which must come before windows.h
#include <psapi.h>
#include <windows.h>

#include <cstdio>

#include "support/test_platform.h"

namespace zdb::test {

const int kErrConnectionRefused = WSAECONNREFUSED;
const int kErrNoSuchPath = ERROR_PATH_NOT_FOUND;
const char kPathSeparator = '\\';

namespace {
// Before any test runs: programs that link the library's objects never run its DllMain.
// Balanced by the process's end; WinSock counts its starts.
const bool g_socketsStarted = platform::StartSockets();
}  // namespace

void StartTestSockets() {
  if (!g_socketsStarted) platform::StartSockets();
}

platform::Socket ListenTcp(uint32_t address, bool) {
  // SO_REUSEADDR on Windows lets another socket take a port in use: never wanted here.
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return platform::kNoSocket;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 64) != 0) {
    ::closesocket(s);
    return platform::kNoSocket;
  }
  return static_cast<platform::Socket>(s);
}

uint16_t LocalPort(platform::Socket s) {
  sockaddr_in a{};
  int len = sizeof a;
  if (::getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

platform::Socket Accept(platform::Socket listening) {
  SOCKET s = ::accept(static_cast<SOCKET>(listening), nullptr, nullptr);
  if (s == INVALID_SOCKET) return platform::kNoSocket;
  platform::SetNoDelay(static_cast<platform::Socket>(s));
  return static_cast<platform::Socket>(s);
}

void ShutdownBoth(platform::Socket s) {
  ::shutdown(static_cast<SOCKET>(s), SD_BOTH);
}

std::string MakeScratchDirectory() {
  const std::string base = platform::TempDirectory();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    std::snprintf(name, sizeof name, "zdb_test_%lu_%lu_%d",
                  static_cast<unsigned long>(::GetCurrentProcessId()),
                  static_cast<unsigned long>(::GetTickCount()), attempt);
    const std::string dir = base + name;
    if (::CreateDirectoryA(dir.c_str(), nullptr)) return dir;
  }
  return std::string();
}

std::vector<std::string> ListDirectory(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA e;
  HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &e);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    std::string n = e.cFileName;
    if (n != "." && n != "..") names.push_back(n);
  } while (::FindNextFileA(h, &e));
  ::FindClose(h);
  return names;
}

bool RemoveEmptyDirectory(const std::string& dir) {
  return ::RemoveDirectoryA(dir.c_str()) != 0;
}

bool PathExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

const char* TempDirectoryVariable() {
  return "TMP";  // GetTempPath looks at TMP first
}

std::optional<std::string> GetEnvironment(const char* name) {
  char value[32768];
  DWORD n = ::GetEnvironmentVariableA(name, value, sizeof value);
  if (n == 0 || n >= sizeof value) return std::nullopt;
  return std::string(value, n);
}

void SetEnvironment(const char* name, const std::optional<std::string>& value) {
  ::SetEnvironmentVariableA(name, value ? value->c_str() : nullptr);
}

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

long PeakMemoryKiB() {
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof c;
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &c, sizeof c)) return 0;
  return static_cast<long>(c.PeakWorkingSetSize / 1024);
}

}  // namespace zdb::test

namespace zdb::test {

LoadedLibrary::LoadedLibrary(const char* path) : handle_(::LoadLibraryA(path)) {}

void* LoadedLibrary::Symbol(const char* name) const {
  return handle_ ? reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name))
                 : nullptr;
}

bool LoadedLibrary::Unload() {
  if (!handle_) return false;
  const bool ok = ::FreeLibrary(static_cast<HMODULE>(handle_)) != 0;
  handle_ = nullptr;
  return ok;
}

}  // namespace zdb::test
