// The process-wide list of Sessions, one per thread, oldest first.
#pragma once

#include <cstdint>
#include <memory>

#include "session/session.h"

namespace zdb {

// The calling thread's Session, or null. The pointer stays valid while the thread does not
// select another host: only the owning thread and the library's unload remove a Session.
Session* FindSessionForThread();

// Destroys every Session of the new Session's thread, then appends it.
void RegisterSession(std::unique_ptr<Session> session);

// Destroys the first Session of the given thread, if any.
void RemoveSessionForThread(uint32_t threadId);

// Destroys the oldest Session, if any.
void RemoveFirstSession();

// Number of registered Sessions (for tests and the tracer).
size_t RegisteredSessionCount();

}  // namespace zdb
