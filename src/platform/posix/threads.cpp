#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <new>

#include "platform/platform.h"

namespace zdb::platform {

static_assert(sizeof(pthread_mutex_t) <= 64);

namespace {

// Asked of the kernel once per thread: every exported call needs it, and a system call
// costs more than the rest of a lookup. The child of a fork is a new thread under the
// same thread-local storage, so it asks again.
thread_local uint32_t t_threadId = 0;

void ForgetThreadId() {
  t_threadId = 0;
}

// Out of line, so that the usual call, which finds the number kept, sets up no frame for the
// once-only registration below.
[[gnu::noinline]] uint32_t AskThreadId() {
  static const bool forkHandled = ::pthread_atfork(nullptr, nullptr, ForgetThreadId) == 0;
  (void)forkHandled;
  t_threadId = static_cast<uint32_t>(::syscall(SYS_gettid));
  return t_threadId;
}

}  // namespace

uint32_t CurrentThreadId() {
  const uint32_t id = t_threadId;
  return id != 0 ? id : AskThreadId();
}

Mutex::Mutex() {
  new (native_) pthread_mutex_t(PTHREAD_MUTEX_INITIALIZER);
}

Mutex::~Mutex() {
  pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(native_));
}

void Mutex::Lock() {
  pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(native_));
}

void Mutex::Unlock() {
  pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(native_));
}

}  // namespace zdb::platform
