#include <windows.h>

#include "platform/library_hooks.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);  // thread notifications have nothing to do
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
