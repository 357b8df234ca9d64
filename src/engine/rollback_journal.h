#pragma once
// The rollback journal (<base>.journal): the old bytes of a write that
// could be torn, kept beside the database only while that write is under
// way (crash_order.h, rules 12 to 14). An in-place update longer than the
// unit a write is whole in (a page against a kill, a sector against a power
// cut) and, in FULL, an index shift across sectors are journaled:
//   1. the journal is written whole (and in FULL synced, with its folder);
//   2. the write is made (and in FULL synced);
//   3. the journal is removed (and in FULL the removal synced).
// Open, under the files' lock and before anything is read, writes a complete
// journal's bytes back, syncs them and removes it; an incomplete journal
// (cut short before step 2 began) is removed. Outside FULL nothing of this
// is synced: after a power cut, a journal whose removal never reached the
// disk may be found, and rolling it back is sound too (rule 17). The file's bytes:
//   "MEROJRNL", target (u32: 0 data file, 1 index file), region count (u32),
//   per region: offset (i64), length (u64), the old bytes;
//   a checksum (u64) of everything before it.
// Integers are little-endian. A journal is complete when it parses to its
// last byte and its checksum matches; a torn or partial one never does.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "engine/file_names.h"  // rollbackJournalPath

namespace mero {

class File;

enum class JournalTarget : uint32_t { dataFile = 0, indexFile = 1 };

// Bytes of the target file as they stand before the write: at `offset`.
struct JournalRegion {
  int64_t offset;
  std::string_view bytes;
};

// Writes the journal whole, replacing any left behind; with `durable`, it
// and its directory entry reach the disk before this returns. False (and no
// journal left to trust) when a write fails.
bool writeRollbackJournal(const std::string& baseName, JournalTarget target,
                          std::initializer_list<JournalRegion> regions, bool durable);
// Removes the journal; with `durable`, the removal reaches the disk.
bool removeRollbackJournal(const std::string& baseName, bool durable);

// Rolls back the write a complete journal guards and removes the journal;
// removes an incomplete one. The data and index files are opened here.
// True when there was none, or it is handled; false when a file could not
// be written, synced or removed (the journal then stays for the next open).
bool recoverRollbackJournal(const std::string& baseName);

}  // namespace mero
