// Library entry on POSIX: a constructor/destructor pair stands in for the loader's process
// notifications, and a pthread key destructor for the thread detach notification. A
// thread_local object would not do: its destructor also runs for the main thread at exit(),
// where only the oldest Session may be destroyed.
#include <pthread.h>

#include "platform/entry.h"
#include "platform/platform.h"

namespace zdb::platform {
namespace {

pthread_key_t g_threadKey;
bool g_keyReady = false;

void ThreadEnds(void*) {
  zdb::OnThreadDetach();
}

__attribute__((constructor)) void LibraryAttach() {
  g_keyReady = pthread_key_create(&g_threadKey, ThreadEnds) == 0;
}

__attribute__((destructor)) void LibraryDetach() {
  zdb::OnProcessDetach();
  if (g_keyReady) {
    // Threads still holding Sessions must not call back into an unloaded library.
    pthread_key_delete(g_threadKey);
    g_keyReady = false;
  }
}

}  // namespace

void ArmThreadExitHook() {
  // Any non-null value makes the key's destructor run when the thread ends.
  if (g_keyReady) pthread_setspecific(g_threadKey, reinterpret_cast<void*>(1));
}

}  // namespace zdb::platform
