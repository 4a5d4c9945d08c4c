// Local files and temporary names through the Win32 file API.
#include <windows.h>

#include "platform/platform.h"

namespace zdb::platform {
namespace {

HANDLE H(std::intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

}  // namespace

bool File::OpenRead(const char* name) {
  Close();
  HANDLE h = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error_ = static_cast<int>(::GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

bool File::Create(const char* name, bool exclusive) {
  Close();
  HANDLE h = ::CreateFileA(name, GENERIC_WRITE, exclusive ? 0 : FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error_ = static_cast<int>(::GetLastError());
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

int64_t File::Size() {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(H(handle_), &size)) {
    error_ = static_cast<int>(::GetLastError());
    return -1;
  }
  return size.QuadPart;
}

long File::Read(void* data, size_t n) {
  DWORD got = 0;
  const DWORD want = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(n);
  if (!::ReadFile(H(handle_), data, want, &got, nullptr)) {
    error_ = static_cast<int>(::GetLastError());
    return -1;
  }
  return static_cast<long>(got);
}

bool File::Write(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const DWORD want = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(n);
    DWORD put = 0;
    if (!::WriteFile(H(handle_), p, want, &put, nullptr) || put == 0) {
      error_ = static_cast<int>(::GetLastError());
      return false;
    }
    p += put;
    n -= put;
  }
  return true;
}

void File::Close() {
  if (handle_ != kClosed) {
    ::CloseHandle(H(handle_));
    handle_ = kClosed;
  }
}

std::string TempDirectory() {
  char path[MAX_PATH + 1] = {};
  DWORD n = ::GetTempPathA(sizeof path, path);
  if (n == 0 || n > MAX_PATH) return ".\\";
  std::string dir(path, n);
  if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
  return dir;
}

bool MakeTempFile(const std::string& dir, const char* prefix, std::string* name) {
  char path[MAX_PATH + 1] = {};
  // With 0 as the unique number the system picks a free name and creates the file.
  if (::GetTempFileNameA(dir.c_str(), prefix, 0, path) == 0) return false;
  *name = path;
  return true;
}

bool RemoveFile(const char* name) {
  return ::DeleteFileA(name) != 0;
}

}  // namespace zdb::platform
