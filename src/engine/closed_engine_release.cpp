#include "engine/closed_engine_release.h"

#include "engine/database.h"
#include "platform/background_thread.h"
#include "platform/lock.h"

namespace mero {

namespace {

// The one free in progress. Its destructor, run when the library is
// unloaded, waits for the thread, so nothing outlives the library's code.
struct PendingRelease {
  ~PendingRelease() { thread.join(); }
  Lock lock;
  BackgroundThread thread;
  std::shared_ptr<Database> engine;  // written before the thread starts, dropped by it
};

PendingRelease& pending() {
  static PendingRelease release;
  return release;
}

void dropEngine(void* release) { static_cast<PendingRelease*>(release)->engine.reset(); }

}  // namespace

void releaseClosedEngine(std::shared_ptr<Database> db) {
  if (!db) return;
  PendingRelease& release = pending();
  LockGuard guard(release.lock);
  release.thread.join();
  release.engine = std::move(db);
  if (!release.thread.start(dropEngine, &release)) release.engine.reset();
}

void awaitClosedEngineRelease() {
  PendingRelease& release = pending();
  LockGuard guard(release.lock);
  release.thread.join();
}

}  // namespace mero
