#pragma once
// PositionMap: data-file position -> record slot, an open-addressing hash
// table with linear probing. Update and delete name a record by position;
// this finds it without scanning the positions list. Eight bytes per entry,
// at most half full.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mero {

class PositionMap {
 public:
  void clear();
  void reserve(size_t entries);
  // Adds position -> slot; false (and nothing changed) when position is present.
  bool insert(int32_t position, uint32_t slot);
  bool find(int32_t position, uint32_t& slot) const;
  void erase(int32_t position);
  size_t size() const { return size_; }

 private:
  struct Entry {
    int32_t position;  // kEmpty when unused
    uint32_t slot;
  };
  static constexpr int32_t kEmpty = -1;

  size_t home(int32_t position) const;
  void rehash(size_t buckets);

  std::vector<Entry> table_;
  size_t size_ = 0;
};

}  // namespace mero
