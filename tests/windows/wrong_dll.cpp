// A DLL built the wrong way on purpose, for the table checks to reject: its
// one export carries a stdcall-style @N suffix, and it links the GCC
// runtime as DLLs instead of statically.
#include <string>

extern "C" __declspec(dllexport) int wrongExport(const char* text) asm("Java_DatabaseMarshall_close@8");

int wrongExport(const char* text) { return static_cast<int>(std::string(text).size()); }
