#pragma once
// The rollback journal (<base>.journal): the old bytes of a write that
// could be torn, kept beside the database only while that write is under
// way (crash_order.h, rules 12 to 14 and 17). An in-place update longer
// than the unit a write is whole in (a page against a kill, a sector against
// a power cut) and, in FULL, an index shift across sectors are journaled:
//   1. the journal file, zeros only (made at the first guarded write, with
//      its folder entry synced in FULL), is cut to the journal's length
//      when an earlier, longer journal left it longer, and the journal is
//      written whole over its zeros in one write (and in FULL synced);
//   2. the write is made (and in FULL synced);
//   3. the journal's bytes are overwritten with zeros, from its first byte
//      on (and in FULL synced).
// The file stays open, holding zeros, until close removes it. Zeros are
// written rather than the file cut to length 0: a cut costs the file system
// several times the few-hundred-byte write it guards. Open, under the
// files' lock and before anything is read, writes a complete journal's bytes
// back, syncs them and removes the file; an empty, zeroed or incomplete
// journal (cut short before step 2 began, or between guarded writes) is
// removed. Outside FULL nothing of this is synced: after a power cut, a
// journal whose zeros never reached the disk may be found, and rolling it
// back is sound too (rule 17). The file's bytes:
//   "MEROJRNL", target (u32: 0 data file, 1 index file), region count (u32),
//   per region: offset (i64), length (u64), the old bytes;
//   a checksum (u64) of everything before it.
// Integers are little-endian. A journal is complete when it parses to the
// file's last byte and its checksum matches. A torn or partial one never
// does: past a torn write's prefix lie zeros or nothing, never the bytes of
// an earlier journal that could complete the prefix into that journal.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "engine/file_names.h"  // rollbackJournalPath
#include "platform/file.h"

namespace mero {

enum class JournalTarget : uint32_t { dataFile = 0, indexFile = 1 };

// Bytes of the target file as they stand before the write: at `offset`.
struct JournalRegion {
  int64_t offset;
  std::string_view bytes;
};

// The journal of one open database. Its file is made at the first guarded
// write and kept open, zeros only between guarded writes, until close
// removes it: making and removing a file per write, or cutting it, would
// cost file-system metadata work many times the write it guards.
class RollbackJournal {
 public:
  explicit RollbackJournal(std::string path) : path_(std::move(path)) {}
  RollbackJournal(const RollbackJournal&) = delete;
  RollbackJournal& operator=(const RollbackJournal&) = delete;

  // Step 1: writes the journal whole, in one write, over the file's zeros,
  // the file cut to its length first, and made at the first call. With
  // `durable`, the bytes (and, for a file made now, its folder entry) reach
  // the disk before this returns. False when a write failed; no journal is
  // then left to trust.
  bool write(JournalTarget target, std::initializer_list<JournalRegion> regions, bool durable);
  // Step 3: overwrites the journal with zeros, so that the file holds none;
  // with `durable`, the zeros reach the disk. When they cannot be written,
  // the file goes and the result is false.
  bool clear(bool durable);
  // At close: closes and removes the file; true when it is gone. The
  // removal reaches the disk only with a later sync of the folder.
  bool remove();
  // Makes the file's zeros durable (crash order rule 17).
  bool sync() { return !file_.isOpen() || file_.sync(); }
  // Whether the file was made since open (its removal changes the folder).
  bool made() const { return made_; }

 private:
  // Closes and removes the file, for when it cannot be trusted to hold no
  // journal; true when it is gone (and, with `durable`, its removal synced).
  bool discard(bool durable);

  std::string path_;
  File file_;
  bool made_ = false;
  int64_t length_ = 0;         // the open file's length; every byte is zero unless holdsJournal_
  bool holdsJournal_ = false;  // a journal was written and not yet zeroed
};

// Rolls back the write a complete journal guards and removes the journal's
// file; removes an empty or incomplete one. The data and index files are opened here.
// True when there was none, or it is handled; false when a file could not
// be written, synced or removed (the journal then stays for the next open).
bool recoverRollbackJournal(const std::string& baseName);

}  // namespace mero
