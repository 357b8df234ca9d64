#include "engine/closed_engine_release.h"

#include "engine/database.h"
#include "platform/background_thread.h"
#include "platform/lock.h"

namespace mero {

namespace {

// The one free in progress. The thread's destructor, run when the library
// is unloaded, waits for it and ends it, so nothing outlives the library's
// code.
struct PendingRelease {
  Lock lock;
  std::shared_ptr<Database> engine;  // written before the task is handed over, dropped by it
  BackgroundThread thread;           // last, so that it ends first
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
  release.thread.wait();
  release.engine = std::move(db);
  if (!release.thread.run(dropEngine, &release)) release.engine.reset();
}

void awaitClosedEngineRelease() {
  PendingRelease& release = pending();
  LockGuard guard(release.lock);
  release.thread.wait();
}

}  // namespace mero
