#pragma once
// DatabaseRegistry: the process-wide table of registered databases. It turns
// a base file name into an id (1, 2, 3, ... in registration order, never
// reused while the library is loaded) and an id back into its database.
//
// Parallel tables, one entry per registered database: names, ids, open flags
// and engines. The engine is shared with calls in progress: a record
// operation takes its own reference under the registry lock, then works
// under the database's lock, so a close, reopen or unregister on another
// thread can never free an engine out from under it; the engine answers
// failure results once it has been shut down.
//
// The registry lock guards the tables alone and is never held together with
// a database's lock: an open rebuilds its engine, and a close shuts one down
// (and hands it to releaseClosedEngine to be freed), outside the registry lock, which is taken only to take an
// engine out of its entry or to put one in. So opening or closing a large
// database never stalls calls on the others.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/database.h"
#include "foundation/db_array.h"
#include "foundation/db_string.h"
#include "platform/lock.h"

namespace mero {

class DatabaseRegistry {
 public:
  static DatabaseRegistry& instance();

  int32_t registerName(std::string_view name);
  bool unregister(int32_t id);  // an open database is closed first
  bool define(int32_t id, const DbArray<uint8_t>& indexed, const DbArray<DbString>& names,
              SyncMode sync = SyncMode::close);
  bool open(int32_t id, std::string_view key, bool useKeyIndex,
            SyncMode sync = SyncMode::close);  // reopening closes first
  bool close(int32_t id);                      // false when id is unknown or the files could not be made durable
  // The open engine of id, or null.
  std::shared_ptr<Database> lookup(int32_t id);

  // The frame of every record operation: looks id up, takes the engine's
  // lock and calls fn(Database&). `failure` when id names no open database.
  template <typename Result, typename Fn>
  Result withOpen(int32_t id, Result failure, Fn fn) {
    const std::shared_ptr<Database> db = lookup(id);
    if (!db) return failure;
    LockGuard guard(db->lock());
    return fn(*db);
  }

  // Called by the platform's load and unload notifications.
  void attach();
  void detach();

 private:
  int32_t indexOf(int32_t id) const;  // -1 when absent; registry lock held
  // Takes entry i's engine out and clears its open flag; registry lock held.
  std::shared_ptr<Database> takeEngine(int32_t i);
  // Waits for the operation in progress on db to end, then closes its files;
  // registry lock not held. False when the closing sync failed.
  static bool shutdownEngine(const std::shared_ptr<Database>& db);

  DbArray<DbString> names_;
  DbArray<int32_t> ids_;
  DbArray<uint8_t> openFlags_;
  DbArray<std::shared_ptr<Database>> databases_;
  int32_t nextId_ = 1;
  std::unique_ptr<Lock> registryLock_;
};

}  // namespace mero
