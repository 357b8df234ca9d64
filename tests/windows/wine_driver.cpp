// Runs MERO_Database.dll as a Windows program would load it: LoadLibraryA,
// the thirteen exports bound with GetProcAddress, and every call made
// through a stand-in JNI environment that reports any misuse.
//
// Usage: wine_driver.exe [child]
// Database files are created in the current directory; the DLL is loaded
// from the directory this program lives in. "child" is the second-process
// half of the sharing scenario, started by the driver itself.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "fake_jni.h"
#include "marshall_client.h"
#include "scenarios.h"
#include "test_report.h"

namespace {

LONG WINAPI reportCrash(EXCEPTION_POINTERS* info) {
  std::printf("FAIL: unhandled exception 0x%08lx at %p\n", info->ExceptionRecord->ExceptionCode,
              info->ExceptionRecord->ExceptionAddress);
  report::summary();
  std::fflush(stdout);
  return EXCEPTION_EXECUTE_HANDLER;
}

std::string driverPath() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n);
}

std::string besideDriver(const std::string& fileName) {
  const std::string self = driverPath();
  return self.substr(0, self.find_last_of("\\/") + 1) + fileName;
}

}  // namespace

int main(int argc, char** argv) {
  SetUnhandledExceptionFilter(reportCrash);
  const bool child = argc > 1 && std::strcmp(argv[1], "child") == 0;
  const char* label = child ? "child: " : "";

  const std::string dllPath = besideDriver("MERO_Database.dll");
  HMODULE library = LoadLibraryA(dllPath.c_str());
  report::check(library != nullptr, "LoadLibraryA(%s) failed with error %lu", dllPath.c_str(), GetLastError());
  NativeMethods native;
  if (library == nullptr || !native.bind(library)) return report::summary(label) == 0 ? 0 : 1;

  if (child) {
    scenario::runChild(native);
  } else {
    fakejni::selfCheck();
    scenario::runLifecycle(native);
    scenario::runBinaryFileBytes(native);
    scenario::runTwoThreads(native);
    scenario::runThreadExit(native);
    scenario::runSecondOpen(native);
    scenario::runSecondProcess(native, driverPath());
  }
  report::check(FreeLibrary(library) != 0, "FreeLibrary failed");
  return report::summary(label) == 0 ? 0 : 1;
}
