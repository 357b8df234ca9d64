#pragma once
// Freeing a closed engine's memory (its search structures run to many
// megabytes, and the kernel takes most of a close's time to take their pages
// back) happens off the closing thread, so a close returns promptly.
//
// Bound: at most one engine is being freed at a time. A close waits for the
// previous free to end before it hands its own over, and an open waits for
// it before it builds anything, so closing and reopening at once never holds
// two engines' memory. A free still running when the library is unloaded is
// waited for then.

#include <memory>

namespace mero {

class Database;

// Frees db (shut down already) off the caller's thread, or on it where no
// thread can be had. A call in flight that still holds db frees it when it
// ends, as before.
void releaseClosedEngine(std::shared_ptr<Database> db);
// Waits for the free in progress, if any.
void awaitClosedEngineRelease();

}  // namespace mero
