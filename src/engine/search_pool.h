#pragma once
// SearchPool: the in-memory copy of every indexed value, upper-cased and then
// enciphered, one after another in one growing byte array. Per field, two
// lists give each record's value as an offset and a length; they are indexed
// by record slot (see RecordTable), so a delete leaves them untouched and a
// deleted slot's entry is simply never read again.
//
// Invariants: for a live slot s of indexed field f, the bytes
// pool[valueOffsets[f][s] .. + valueLengths[f][s]) are
// encode(upperCase(plain value)), and lie below poolUsed. Ranges of different
// entries never overlap. A removed slot's entries are empty. deadBytes counts
// the bytes below poolUsed that no entry covers (left by replace and remove);
// once they outnumber the live bytes the pool is rebuilt from the entries
// alone, so its size stays within a small factor of the live values. The
// lists of fields that are not indexed stay empty.
//
// Growth: before each value is placed, the pool doubles when less than a
// quarter of it is free, and keeps doubling while the value still would not
// fit. Sizes are 64-bit; the pool stops at kMaxCapacity, and a record whose
// values would not fit is refused by its caller (canHold).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/field_cipher.h"
#include "engine/field_values.h"
#include "foundation/db_array.h"

namespace mero {

class SearchPool {
 public:
  static constexpr uint64_t kInitialCapacity = 1u << 20;
  static constexpr uint64_t kMaxCapacity = uint64_t{1} << 32;  // offsets are 32-bit

  explicit SearchPool(const DbArray<uint8_t>& indexed);

  // Whether `extra` more bytes of values can still be placed.
  bool canHold(uint64_t extra) const { return extra <= kMaxCapacity - poolUsed_; }
  // Bytes of the indexed fields of these values.
  uint64_t indexedBytes(const FieldValues& values) const;

  void reserve(size_t records) {
    for (size_t f = 0; f < indexed_.size(); ++f)
      if (indexed_[f]) {
        valueOffsets_[f].reserve(records);
        valueLengths_[f].reserve(records);
      }
  }

  // Appends one entry per indexed field for the record in `slot`, which must
  // be the next slot (the lists' current size).
  void poolAdd(uint32_t slot, const FieldValues& values, const FieldCipher& cipher);
  // Replaces slot's entry of indexed field f: in place when the new value is
  // not longer, else at the end of the pool.
  void poolReplace(int32_t field, uint32_t slot, std::string_view value, const FieldCipher& cipher);
  // Empties slot's entries: the record was deleted.
  void poolRemove(uint32_t slot);
  // Stored bytes of slot's entry of indexed field f (upper-cased, enciphered).
  std::string_view poolEntry(int32_t field, uint32_t slot) const {
    return {pool_.get() + valueOffsets_[field][slot], valueLengths_[field][slot]};
  }

  bool isIndexed(int32_t field) const { return indexed_[static_cast<size_t>(field)] != 0; }
  uint64_t poolCapacity() const { return poolCapacity_; }
  uint64_t poolUsed() const { return poolUsed_; }
  uint64_t deadBytes() const { return deadBytes_; }
  uint32_t longestValue() const { return longestValue_; }
  size_t entries(int32_t field) const { return valueOffsets_[field].size(); }

 private:
  void makeRoom(uint64_t valueLength);
  uint32_t place(std::string_view value, const FieldCipher& cipher, uint64_t at);
  void compactIfMostlyDead();

  std::vector<uint8_t> indexed_;
  std::unique_ptr<char[]> pool_;
  uint64_t poolCapacity_ = kInitialCapacity;
  uint64_t poolUsed_ = 0;
  uint64_t deadBytes_ = 0;
  uint32_t longestValue_ = 0;
  std::vector<std::vector<uint32_t>> valueOffsets_;
  std::vector<std::vector<uint32_t>> valueLengths_;
};

}  // namespace mero
