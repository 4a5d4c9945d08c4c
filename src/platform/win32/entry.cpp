// Library entry on Windows: the loader's notifications drive the socket layer and the
// Session registry. A thread's end arrives as DLL_THREAD_DETACH, so nothing needs arming.
//
// Windows calls DllMain under its loader lock, where network I/O is discouraged. What runs
// there is kept to what the library promises (docs/choices.md, "Windows: the DLL's start and
// stop"): WSAStartup at attach; at a thread's end, the logout of that thread's own Session;
// at FreeLibrary, the logout of the oldest Session and WSACleanup. At process exit the other
// threads are already gone, possibly in the middle of a socket call that holds WinSock's own
// locks, so there the library touches neither the network nor WinSock: the process's end
// closes its sockets and the server expires the Session.
#include <windows.h>

#include "platform/entry.h"
#include "platform/platform.h"

namespace zdb::platform {

void ArmThreadExitHook() {}

}  // namespace zdb::platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      return zdb::platform::StartSockets() ? TRUE : FALSE;
    case DLL_THREAD_DETACH:
      zdb::OnThreadDetach();
      break;
    case DLL_PROCESS_DETACH:
      if (reserved != nullptr) break;  // process exit
      zdb::OnProcessDetach();
      zdb::platform::StopSockets();
      break;
    default:
      break;
  }
  return TRUE;
}
