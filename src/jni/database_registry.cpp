#include "jni/database_registry.h"

#include <utility>

#include "engine/closed_engine_release.h"
#include "engine/schema.h"

namespace mero {

DatabaseRegistry& DatabaseRegistry::instance() {
  static DatabaseRegistry registry;
  return registry;
}

void DatabaseRegistry::attach() {
  if (!registryLock_) registryLock_ = std::make_unique<Lock>();
}

void DatabaseRegistry::detach() { registryLock_.reset(); }

int32_t DatabaseRegistry::indexOf(int32_t id) const {
  for (int32_t i = 0; i < ids_.size(); ++i)
    if (ids_.at(i) == id) return i;
  return -1;
}

int32_t DatabaseRegistry::registerName(std::string_view name) {
  const DbString copied(name);
  LockGuard guard(*registryLock_);
  const int32_t id = nextId_;
  const int32_t n = ids_.size();
  names_.resize(n + 1);
  ids_.resize(n + 1);
  openFlags_.resize(n + 1);
  databases_.resize(n + 1);
  names_.at(n) = copied;
  ids_.at(n) = id;
  openFlags_.at(n) = 0;
  databases_.at(n) = nullptr;
  ++nextId_;
  return id;
}

std::shared_ptr<Database> DatabaseRegistry::takeEngine(int32_t i) {
  openFlags_.at(i) = 0;
  return std::exchange(databases_.at(i), nullptr);
}

bool DatabaseRegistry::shutdownEngine(const std::shared_ptr<Database>& db) {
  if (!db) return true;
  LockGuard guard(db->lock());
  return db->shutdown();
}

bool DatabaseRegistry::unregister(int32_t id) {
  std::shared_ptr<Database> engine;
  {
    LockGuard guard(*registryLock_);
    const int32_t i = indexOf(id);
    if (i < 0) return false;
    engine = takeEngine(i);
    const int32_t last = ids_.size() - 1;
    if (i != last) {
      names_.at(i) = names_.at(last);
      ids_.at(i) = ids_.at(last);
      openFlags_.at(i) = openFlags_.at(last);
      databases_.at(i) = databases_.at(last);
    }
    names_.resize(last);
    ids_.resize(last);
    openFlags_.resize(last);
    databases_.resize(last);
  }
  shutdownEngine(engine);
  releaseClosedEngine(std::move(engine));
  return true;
}

bool DatabaseRegistry::define(int32_t id, const DbArray<uint8_t>& indexed, const DbArray<DbString>& names,
                              SyncMode sync) {
  if (indexed.size() != names.size()) return false;
  std::string baseName;
  {
    LockGuard guard(*registryLock_);
    const int32_t i = indexOf(id);
    if (i < 0 || openFlags_.at(i) != 0) return false;
    baseName = names_.at(i).view();
  }
  return defineSchema(baseName, indexed, names, sync);
}

// Calls on id meanwhile find no engine and answer their failure results. Of
// two opens of one id racing, the later to finish keeps its engine.
bool DatabaseRegistry::open(int32_t id, std::string_view key, bool useKeyIndex, SyncMode sync) {
  std::string baseName;
  std::shared_ptr<Database> previous;
  {
    LockGuard guard(*registryLock_);
    const int32_t i = indexOf(id);
    if (i < 0) return false;
    baseName = names_.at(i).view();
    previous = takeEngine(i);
  }
  shutdownEngine(previous);
  previous.reset();
  std::shared_ptr<Database> db = Database::open(baseName, key, useKeyIndex, nullptr, sync);
  if (!db) return false;
  {
    LockGuard guard(*registryLock_);
    const int32_t i = indexOf(id);
    if (i >= 0) {
      previous = std::exchange(databases_.at(i), db);
      openFlags_.at(i) = 1;
      db = nullptr;
    }
  }
  shutdownEngine(previous);  // another open of this id finished first
  shutdownEngine(db);        // unregistered while opening
  return db == nullptr;
}

bool DatabaseRegistry::close(int32_t id) {
  std::shared_ptr<Database> engine;
  {
    LockGuard guard(*registryLock_);
    const int32_t i = indexOf(id);
    if (i < 0) return false;
    engine = takeEngine(i);
  }
  const bool durable = shutdownEngine(engine);
  releaseClosedEngine(std::move(engine));
  return durable;
}

std::shared_ptr<Database> DatabaseRegistry::lookup(int32_t id) {
  LockGuard guard(*registryLock_);
  const int32_t i = indexOf(id);
  return i < 0 ? nullptr : databases_.at(i);
}

}  // namespace mero
