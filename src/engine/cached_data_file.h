#pragma once
// The open engine's data file together with its read cache. Every write and
// every shortening of the data file goes through here, and each one drops
// the cached blocks it touches, whether it succeeded or not (a failed write
// may have changed part of its bytes): that is how the cache's invariant
// (read_cache.h) is kept. Only read access to the File itself is handed out.

#include <cstdint>
#include <utility>

#include "engine/read_cache.h"
#include "platform/file.h"

namespace mero {

class CachedDataFile {
 public:
  CachedDataFile& operator=(File&& file) {
    file_ = std::move(file);
    cache_.clear();
    return *this;
  }
  operator const File&() const { return file_; }  // NOLINT: read-only view for scans

  bool writeAt(int64_t offset, const void* buffer, size_t n) {
    const bool written = file_.writeAt(offset, buffer, n);
    cache_.forget(offset, n);
    return written;
  }
  bool truncate(int64_t size) {
    const bool cut = file_.truncate(size);
    cache_.forgetFrom(size);
    return cut;
  }
  bool sync() { return file_.sync(); }
  int64_t size() const { return file_.size(); }
  int error() const { return file_.error(); }
  bool isOpen() const { return file_.isOpen(); }
  void close() {
    file_.close();
    cache_.clear();
  }
  // The cache fills on reads, which are const operations of the engine.
  ReadCache& cache() const { return cache_; }

 private:
  File file_;
  mutable ReadCache cache_;
};

}  // namespace mero
