#include "session/registry.h"

#include <list>
#include <vector>

#include "platform/entry.h"
#include "platform/platform.h"

namespace zdb {
namespace {

// The lock covers list operations only: a Session is destroyed (which may send a logout)
// after it has been unlinked and the lock released, so a slow server never blocks other
// threads' lookups.
platform::Mutex& RegistryMutex() {
  static auto* m = new platform::Mutex();
  return *m;
}

std::list<std::unique_ptr<Session>>& Sessions() {
  // Never destroyed: the library's unload handler may run after static destructors.
  static auto* list = new std::list<std::unique_ptr<Session>>();
  return *list;
}

}  // namespace

Session* FindSessionForThread() {
  const uint32_t tid = platform::CurrentThreadId();
  platform::MutexLock lock(RegistryMutex());
  for (auto& s : Sessions())
    if (s->threadId == tid) return s.get();
  return nullptr;
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
