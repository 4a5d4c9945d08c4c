// Library entry on Windows: the loader's notifications drive the socket layer and the
// Session registry. A thread's end arrives as DLL_THREAD_DETACH, so nothing needs arming.
#include <windows.h>

#include "platform/entry.h"
#include "platform/platform.h"

namespace zdb::platform {

void ArmThreadExitHook() {}

}  // namespace zdb::platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      return zdb::platform::StartSockets() ? TRUE : FALSE;
    case DLL_THREAD_DETACH:
      zdb::OnThreadDetach();
      break;
    case DLL_PROCESS_DETACH:
      zdb::OnProcessDetach();
      zdb::platform::StopSockets();
      break;
    default:
      break;
  }
  return TRUE;
}
