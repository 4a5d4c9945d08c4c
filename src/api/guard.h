// What every exported entry point wraps around its operation: the calling thread's Session is
// found first, and no exception crosses the library boundary.
#pragma once

#include <cstdint>
#include <new>

#include "session/registry.h"
#include "session/session.h"

namespace zdb::api {

// Runs op() and maps escaping exceptions: out of memory is 2004, anything else 2001.
template <class Op>
int32_t Guarded(Op&& op) noexcept {
  try {
    return op();
  } catch (const std::bad_alloc&) {
    return kErrNoMemory;
  } catch (...) {
    return kErrComm;
  }
}

// Runs op(session) for the calling thread's Session; 2001 when the thread has none.
template <class Op>
int32_t WithSession(Op&& op) noexcept {
  return Guarded([&]() -> int32_t {
    Session* s = FindSessionForThread();
    if (!s) return kErrComm;
    return op(*s);
  });
}

}  // namespace zdb::api
