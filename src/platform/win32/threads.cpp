#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace zdb::platform {

static_assert(sizeof(SRWLOCK) <= 64);

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(::GetCurrentThreadId());
}

Mutex::Mutex() {
  new (native_) SRWLOCK(SRWLOCK_INIT);
}

Mutex::~Mutex() {}  // a slim lock holds no resources

void Mutex::Lock() {
  ::AcquireSRWLockExclusive(reinterpret_cast<SRWLOCK*>(native_));
}

void Mutex::Unlock() {
  ::ReleaseSRWLockExclusive(reinterpret_cast<SRWLOCK*>(native_));
}

}  // namespace zdb::platform
