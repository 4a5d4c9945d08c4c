#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <new>

#include "platform/platform.h"

namespace zdb::platform {

static_assert(sizeof(pthread_mutex_t) <= 64);

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(::syscall(SYS_gettid));
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
