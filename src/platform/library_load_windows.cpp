#include <windows.h>

#include "platform/library_hooks.h"

// Thread notifications are left on: the C++ runtime's thread-exit handling
// (thread_local destructors, emulated TLS) runs on them, and turning them off
// would leak each exiting thread's buffers.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      mero::onLibraryAttach();
      break;
    case DLL_PROCESS_DETACH:
      mero::onLibraryDetach();
      break;
    default:
      break;
  }
  return TRUE;
}
