#include "platform/background_thread.h"

namespace mero {

// No thread: a library may not wait for its own threads while it is being
// unloaded, so the caller does the work, as it always did.
struct BackgroundThread::State {};

BackgroundThread::~BackgroundThread() = default;
bool BackgroundThread::run(void (*)(void*), void*) { return false; }
void BackgroundThread::wait() {}

}  // namespace mero
