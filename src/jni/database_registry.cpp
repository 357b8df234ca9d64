#include "jni/database_registry.h"

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

void DatabaseRegistry::closeEntry(int32_t i) {
  if (std::shared_ptr<Database>& db = databases_.at(i)) {
    LockGuard guard(db->lock());  // waits for an operation in progress to finish
    db->shutdown();
  }
  databases_.at(i) = nullptr;
  openFlags_.at(i) = 0;
}

bool DatabaseRegistry::unregister(int32_t id) {
  LockGuard guard(*registryLock_);
  const int32_t i = indexOf(id);
  if (i < 0) return false;
  closeEntry(i);
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
  return true;
}

bool DatabaseRegistry::define(int32_t id, const DbArray<uint8_t>& indexed, const DbArray<DbString>& names) {
  if (indexed.size() != names.size()) return false;
  std::string path;
  {
    LockGuard guard(*registryLock_);
    const int32_t i = indexOf(id);
    if (i < 0 || openFlags_.at(i) != 0) return false;
    path = std::string(names_.at(i).view()) + ".str";
  }
  return appendSchemaBlock(path, indexed, names);
}

bool DatabaseRegistry::open(int32_t id, std::string_view key, bool useKeyIndex) {
  LockGuard guard(*registryLock_);
  const int32_t i = indexOf(id);
  if (i < 0) return false;
  closeEntry(i);
  std::unique_ptr<Database> db = Database::open(std::string(names_.at(i).view()), key, useKeyIndex);
  if (!db) return false;
  databases_.at(i) = std::move(db);
  openFlags_.at(i) = 1;
  return true;
}

bool DatabaseRegistry::close(int32_t id) {
  LockGuard guard(*registryLock_);
  const int32_t i = indexOf(id);
  if (i < 0) return false;
  closeEntry(i);
  return true;
}

std::shared_ptr<Database> DatabaseRegistry::lookup(int32_t id) {
  LockGuard guard(*registryLock_);
  const int32_t i = indexOf(id);
  return i < 0 ? nullptr : databases_.at(i);
}

}  // namespace mero
