#pragma once
// RecordTable: the live records of an open database.
//
// A record has two numbers. Its record number is its index in `positions`
// (and in the index file): dense, in append order, shifted down by a delete.
// `positions` is chunked (position_chunks.h), so a delete moves the entries
// of one chunk in memory however many records follow.
// Its slot is given when it joins (at open or by an append) and stays while
// the record lives, so per-record data that is indexed by slot (search text
// offsets, value lists) does not move when records are deleted. Slots grow in
// append order, so ascending slot order is record-number order. Slots of
// deleted records are reclaimed together, once they outnumber the live ones:
// every structure indexed by slot is renumbered at once (renumberSlots), each
// live slot becoming its record number, so memory follows the live records.
//
// Finding a record by position: every new image goes to the end of the data
// file, so positions handed out while the database is open only ever grow.
// `byPosition` is therefore kept sorted by appending alone; entries of
// records that were deleted or moved stay behind and are recognised by their
// slot no longer being at that position.
//
// Invariants: positions.size() == number of live slots; for a live slot s,
// positions.at(recordNumberOf(s)) == positionOfSlot(s), and byPosition holds
// {positionOfSlot(s), s}; byPosition is sorted by position, no position twice.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/position_chunks.h"

namespace mero {

class RecordTable {
 public:
  void clear();
  void reserve(size_t records);

  // Adds a live record at a position not yet used, and returns its slot.
  uint32_t append(int32_t position);
  // After the records of an index file were appended in record order (their
  // positions in any order): false when one position is listed twice.
  bool finishLoading();
  void move(uint32_t slot, int32_t newPosition);  // newPosition: the end of the data file
  void remove(uint32_t slot);

  // Whether deleted slots outnumber the live ones by enough to reclaim them.
  bool mostlyDeadSlots() const { return slotCount() - positions_.size() > positions_.size() + kDeadSlotFloor; }
  // The new number of each slot when the dead ones are reclaimed: its record
  // number, or kNoSlot for a dead slot. Ascending, like the slots.
  std::vector<uint32_t> slotRenumbering() const;
  // Every live slot becomes its record number.
  void renumberSlots(const std::vector<uint32_t>& renumbering);
  static constexpr uint32_t kNoSlot = UINT32_MAX;

  int32_t count() const { return static_cast<int32_t>(positions_.size()); }
  int32_t positionAt(int32_t record) const { return positions_.at(static_cast<size_t>(record)); }
  int32_t lastPosition() const { return positions_.back(); }
  // The positions by record number, copied out.
  std::vector<int32_t> positionList() const { return positions_.toVector(); }
  // The positions of records from..count()-1 as runs of consecutive entries,
  // for writing them to the index file without gathering them first.
  void positionRuns(int32_t from, std::vector<PositionChunks::Run>& out) const {
    positions_.runsFrom(static_cast<size_t>(from), out);
  }

  bool slotOf(int32_t position, uint32_t& slot) const;  // once loading has finished
  bool loading() const { return !sorted_; }
  uint32_t slotCount() const { return static_cast<uint32_t>(slotPositions_.size()); }
  bool isLive(uint32_t slot) const { return slotPositions_[slot] >= 0; }
  int32_t positionOfSlot(uint32_t slot) const { return slotPositions_[slot]; }
  int32_t recordNumberOf(uint32_t slot) const;  // slot must be live
  // Asserts the invariants above (debug builds; after each change there).
  void checkInvariants() const;

 private:
  static constexpr size_t kDeadSlotFloor = 4096;  // a few dead slots are not worth a pass
  struct Entry {
    int32_t position;
    uint32_t slot;
  };
  void addLive(uint32_t slot, int delta);
  void noteEntry(int32_t position, uint32_t slot);
  void dropStaleEntries();

  PositionChunks positions_;            // by record number
  std::vector<int32_t> slotPositions_;  // by slot; -1 once deleted
  std::vector<int32_t> liveTree_;       // Fenwick tree over slots' liveness, 1-based
  std::vector<Entry> byPosition_;
  bool sorted_ = true;
  [[maybe_unused]] uint32_t changesUnchecked_ = 0;  // debug builds: changes since the last full check
};

}  // namespace mero
