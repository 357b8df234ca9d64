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
// Lock order: the registry lock may be held while a database's lock is
// taken (close shuts an engine down), never the other way round.

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
  bool define(int32_t id, const DbArray<uint8_t>& indexed, const DbArray<DbString>& names);
  bool open(int32_t id, std::string_view key, bool useKeyIndex);  // reopening closes first
  bool close(int32_t id);
  // The open engine of id, or null.
  std::shared_ptr<Database> lookup(int32_t id);

  // Called by the platform's load and unload notifications.
  void attach();
  void detach();

 private:
  int32_t indexOf(int32_t id) const;  // -1 when absent; registry lock held
  void closeEntry(int32_t i);         // registry lock held

  DbArray<DbString> names_;
  DbArray<int32_t> ids_;
  DbArray<uint8_t> openFlags_;
  DbArray<std::shared_ptr<Database>> databases_;
  int32_t nextId_ = 1;
  std::unique_ptr<Lock> registryLock_;
};

}  // namespace mero
