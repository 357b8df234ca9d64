#include "platform/background_thread.h"

namespace mero {

// No thread: a library may not wait for its own threads while it is being
// unloaded, so the caller does the work, as it always did.
bool BackgroundThread::start(void (*)(void*), void*) { return false; }
void BackgroundThread::join() {}

}  // namespace mero
