#include "platform/library_hooks.h"

namespace {

// Constructed when the shared library is loaded, destroyed when it is unloaded.
struct LibraryLifetime {
  LibraryLifetime() { mero::onLibraryAttach(); }
  ~LibraryLifetime() { mero::onLibraryDetach(); }
};

LibraryLifetime lifetime;

}  // namespace
