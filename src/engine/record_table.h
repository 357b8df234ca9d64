#pragma once
// RecordTable: the live records of an open database.
//
// A record has two numbers. Its record number is its index in `positions`
// (and in the index file): dense, in append order, shifted down by a delete.
// Its slot is given when it joins (at open or by an append) and never changes
// or gets reused while the database is open, so per-record data that is
// indexed by slot (search pool lists, hash chains) never has to move. Slots
// grow in append order, so ascending slot order is record-number order.
//
// Invariants: positions.size() == number of live slots; for a live slot s,
// positions[recordNumberOf(s)] == positionOfSlot(s); positionMap maps every
// live position to its slot and nothing else.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/position_map.h"

namespace mero {

class RecordTable {
 public:
  void clear();
  void reserve(size_t records);

  // Adds a live record and returns its slot; false when position is live already.
  bool append(int32_t position, uint32_t& slot);
  void move(uint32_t slot, int32_t newPosition);
  void remove(uint32_t slot);

  int32_t count() const { return static_cast<int32_t>(positions_.size()); }
  const std::vector<int32_t>& positions() const { return positions_; }

  bool slotOf(int32_t position, uint32_t& slot) const { return positionMap_.find(position, slot); }
  uint32_t slotCount() const { return static_cast<uint32_t>(slotPositions_.size()); }
  bool isLive(uint32_t slot) const { return slotPositions_[slot] >= 0; }
  int32_t positionOfSlot(uint32_t slot) const { return slotPositions_[slot]; }
  int32_t recordNumberOf(uint32_t slot) const;  // slot must be live

 private:
  void addLive(uint32_t slot, int delta);

  std::vector<int32_t> positions_;      // by record number
  std::vector<int32_t> slotPositions_;  // by slot; -1 once deleted
  std::vector<int32_t> liveTree_;       // Fenwick tree over slots' liveness, 1-based
  PositionMap positionMap_;
};

}  // namespace mero
