#pragma once
// The library's load and unload notifications. The platform layer calls these
// once when the library is loaded into the process and once when it is
// unloaded: from DllMain on Windows, from static initialisation elsewhere.
// The library defines them.

namespace mero {

void onLibraryAttach();
void onLibraryDetach();

}  // namespace mero
