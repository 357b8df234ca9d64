#include "jni/database_registry.h"
#include "platform/library_hooks.h"

namespace mero {

void onLibraryAttach() { DatabaseRegistry::instance().attach(); }
void onLibraryDetach() { DatabaseRegistry::instance().detach(); }

}  // namespace mero
