// The client code page <-> OEM code page stage: the system's own conversion.
#include <windows.h>

#include "platform/platform.h"

namespace zdb::platform {
namespace {

constexpr size_t kChunk = 0x40000000;  // the calls count in DWORDs

}  // namespace

void ClientToOem(uint8_t* text, size_t n) {
  for (size_t done = 0; done < n; done += kChunk) {
    const DWORD len = static_cast<DWORD>(n - done < kChunk ? n - done : kChunk);
    auto* p = reinterpret_cast<char*>(text + done);
    ::CharToOemBuffA(p, p, len);
  }
}

void OemToClient(uint8_t* text, size_t n) {
  for (size_t done = 0; done < n; done += kChunk) {
    const DWORD len = static_cast<DWORD>(n - done < kChunk ? n - done : kChunk);
    auto* p = reinterpret_cast<char*>(text + done);
    ::OemToCharBuffA(p, p, len);
  }
}

}  // namespace zdb::platform
