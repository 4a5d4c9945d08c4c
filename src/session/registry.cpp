#include "session/registry.h"

#include <atomic>
#include <list>
#include <new>
#include <vector>

#include "platform/entry.h"
#include "platform/platform.h"

namespace zdb {
namespace {

// The lock covers list operations only: a Session is destroyed (which may send a logout)
// after it has been unlinked and the lock released, so a slow server never blocks other
// threads' lookups.
// Never destroyed, since the library's unload handler may run after static destructors; and
// built in the library's own static storage rather than on the heap, so that unloading the
// library leaves nothing behind once its last Session is gone.
template <typename T>
T& Immortal() {
  alignas(T) static unsigned char storage[sizeof(T)];
  static T* object = new (storage) T();
  return *object;
}

platform::Mutex& RegistryMutex() {
  return Immortal<platform::Mutex>();
}

std::list<std::unique_ptr<Session>>& Sessions() {
  return Immortal<std::list<std::unique_ptr<Session>>>();
}

// Every change of the list counts up, under the lock and before any Session leaves it. A
// thread remembers the answer of its last walk together with the count it was valid for, so
// that its lookups take neither the lock nor a walk while the list stays as it was. 32 bits
// keep the counter lock-free on every target; a stale answer would need exactly 2^32 changes
// between two calls of one thread.
std::atomic<uint32_t> g_generation{1};

struct LookupCache {
  uint32_t generation = 0;  // 0: never valid
  uint32_t threadId = 0;    // differs from the thread's own in the child of a fork
  Session* session = nullptr;
};
thread_local LookupCache t_lookup;

// Called with the lock held, by every operation that unlinks or appends.
void ListChanged() {
  uint32_t next = g_generation.load(std::memory_order_relaxed) + 1;
  if (next == 0) next = 1;
  g_generation.store(next, std::memory_order_release);
}

}  // namespace

Session* FindSessionForThread() {
  LookupCache& cache = t_lookup;
  const uint32_t tid = platform::CurrentThreadId();
  if (cache.generation == g_generation.load(std::memory_order_acquire) && cache.threadId == tid)
    return cache.session;
  platform::MutexLock lock(RegistryMutex());
  Session* found = nullptr;
  for (auto& s : Sessions()) {
    if (s->threadId == tid) {
      found = s.get();
      break;
    }
  }
  cache.session = found;
  cache.threadId = tid;
  cache.generation = g_generation.load(std::memory_order_relaxed);
  return found;
}

void RegisterSession(std::unique_ptr<Session> session) {
  std::vector<std::unique_ptr<Session>> doomed;
  {
    platform::MutexLock lock(RegistryMutex());
    auto& list = Sessions();
    for (auto it = list.begin(); it != list.end();) {
      if ((*it)->threadId == session->threadId) {
        doomed.push_back(std::move(*it));
        it = list.erase(it);
      } else {
        ++it;
      }
    }
    list.push_back(std::move(session));
    ListChanged();
  }
  doomed.clear();
  platform::ArmThreadExitHook();
}

void RemoveSessionForThread(uint32_t threadId) {
  std::unique_ptr<Session> doomed;
  {
    platform::MutexLock lock(RegistryMutex());
    auto& list = Sessions();
    for (auto it = list.begin(); it != list.end(); ++it) {
      if ((*it)->threadId == threadId) {
        doomed = std::move(*it);
        list.erase(it);
        ListChanged();
        break;
      }
    }
  }
}

void RemoveFirstSession() {
  std::unique_ptr<Session> doomed;
  {
    platform::MutexLock lock(RegistryMutex());
    auto& list = Sessions();
    if (list.empty()) return;
    doomed = std::move(list.front());
    list.pop_front();
    ListChanged();
  }
}

size_t RegisteredSessionCount() {
  platform::MutexLock lock(RegistryMutex());
  return Sessions().size();
}

void OnThreadDetach() {
  try {
    RemoveSessionForThread(platform::CurrentThreadId());
  } catch (...) {
  }
}

void OnProcessDetach() {
  try {
    RemoveFirstSession();
  } catch (...) {
  }
}

}  // namespace zdb
