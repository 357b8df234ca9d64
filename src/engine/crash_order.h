#pragma once

#include <cstdint>

// The crash order: the rules that let a database survive a process killed at
// any instant, with every acknowledged change present, no half-made change
// visible and no record twice. Each rule is kept where its writes are made,
// and the fault tests are named after the rule they check.
//
// Rule 1, append: the image goes to the end of the data file, then its index
//   entry, then the count. Until the count is written the record is not
//   live: a kill leaves at most bytes that nothing refers to.
// Rule 2, delete: the entries after the deleted one are shifted down, then
//   the smaller count is written. A kill in between (or inside the shift,
//   which is torn only at page boundaries, never inside a 4-byte entry)
//   leaves one entry doubled, which rule 5 repairs.
// Rule 3, moved update: the new image goes to the end of the data file,
//   then the record's one index entry is repointed; a 4-byte aligned write
//   is never torn.
// Rule 4, in-place update: an image no longer than the one there is
//   rewritten in place when it lies within one sector, which a kill or a
//   power cut leaves whole or absent (rule 20); when it has the old image's
//   layout (rule 16), through the rollback journal if it crosses a page
//   (rule 12); and in FULL whenever it fits, through the journal if it
//   crosses a sector (rule 12). Every other update follows rule 3.
// Rule 5, repair at open: a doubled entry is dropped, and the delete is
//   completed with the writes it would have finished with, before the
//   database is handed out. A kill during the repair leaves the same state.
// Rule 6, failures: memory changes only after every write has succeeded. A
//   write that fails part-way is undone where a reader could see it (an
//   in-place image, shifted entries), so memory and files agree on the state
//   before the call; bytes past the end of the data file are left unreferenced.
// Rule 7, define: the schema block goes out in one append, and only while
//   the index lists no record.
// Rule 8, rewrite: a rewrite that replaces the data and index files as a whole
//   (the tool's compact and rekey, Database::compact)
//   writes and syncs new files, then a commit marker, then renames; open
//   finishes or rolls back what a kill left (rewrite_recovery.h).
// Rule 30, batch append: every record of the batch is checked first; then
//   all images go to the end of the data file in one write, all entries past
//   the count in one write, and the new count last. The count, one aligned
//   4-byte write, is the commit point: a kill leaves all of the batch or none.
//
// Power cuts. Nothing is synced while records change (unless a sync mode
// asks for it), so after a power cut or an operating-system crash each file
// is any mix of its old and new 512-byte sectors, a file that grew may be
// zero-filled where its bytes never came, and a tail may be missing. Open
// takes that back (power_cut_recovery.h); the tests build such states from
// every write the engine made and open each one.
// Rule 20, sectors: a write within one sector is whole or absent; an index
//   entry or count (4 bytes at a multiple of 4) is never torn, so a negative
//   count or entry is not power-cut damage and is refused.
// Rule 21, what never arrived is dropped: an index count beyond the entries
//   the file holds, an entry of zeros past record 0 (position 0 is only ever
//   record 0's), an entry past the end of the data file, an image whose
//   length reads as zeros, the last image in the file cut by its end, or an
//   image whose fields stop chaining after a whole sector of zeros. Any
//   other image that does not read is refused: a power cut does not write
//   bytes that nobody wrote.
// Rule 22, repeated positions: a delete's shift cut anywhere leaves copies
//   of entries; the first copy is kept, the later ones dropped.
// Rule 23, repair: open writes the kept entries from the first one that
//   differs, then the count (rule 5's writes), syncs the index, and tells
//   what it dropped in Database::recovery(); the next open finds nothing to
//   do. `mero info` tells the same without writing.
// Rule 24, schema: define syncs its block before it returns, so no record
//   reaches the disk ahead of its schema. A first block that never arrived
//   whole (a define cut short by a full disk or a power cut) with no records
//   opens as undefined, and the next define cuts it off and writes its own;
//   a failed define takes its partial block back at once.
//
// Sync modes (sync_mode.h) carry these rules from a killed process to a
// power cut, which keeps of the writes since the last sync any subset, each
// whole, absent or torn at 512-byte sectors.
// Rule 9, OFF and CLOSE: no write is synced during an operation. CLOSE syncs
//   the data, index and schema files at shutdown, then removes the journal
//   file (rule 12) if one was made, and syncs the folder when open created a
//   file or a journal file came and went, before close returns. OFF removes
//   the journal file too, unsynced (rule 17).
// Rule 10, FULL append: the image is written and synced, then the entry is
//   written and synced, then the count. Past the count may lie entries a
//   delete left: a count on the disk before its entry would revive one.
// Rule 11, FULL moved update: the new image is synced before the entry is
//   repointed; the entry is synced before the call returns.
// Rule 12, rollback journal: an in-place write that a crash could tear (in
//   FULL one across sectors, which a power cut tears; in OFF and CLOSE one
//   across pages, which a kill tears) is preceded by a journal of the bytes
//   it overwrites, written whole in one write at the start of the journal
//   file, and followed by zeros written over the journal from its first
//   byte (rollback_journal.h). The file is made at the first such write and
//   kept, zeros only between them, until close removes it (rule 9); an
//   empty or zeroed file is no journal. A journal is only written over
//   zeros, the file cut to its length first: a kill that tears it leaves a
//   prefix and zeros, which never parse, where stale bytes of an older
//   journal could complete it into that older journal. A kill after the
//   journal's write leaves it whole in the operating system's hands, so open
//   rolls the write back; a kill during or after the zeroing leaves none (the
//   magic goes first). In FULL the file's folder entry is synced when it is
//   made, the journal is synced before the write, the write before the
//   zeroing, and the zeros before the call returns, so no journal ever
//   outlives an acknowledged write. A failed write puts the old bytes back,
//   and only then zeroes the journal; a file that cannot be zeroed or cut is
//   removed.
// Rule 13, FULL delete: a shift within one sector is synced, then the count
//   is written and synced (a torn count is within one sector too). A shift
//   across sectors can be torn anywhere by a power cut, which rule 5 cannot
//   repair: the old count and the entries it overwrites are journaled first
//   (rule 12).
// Rule 14, journal at open: under the lock, after a rewrite's recovery and
//   before anything is read, a complete journal's bytes are written back and
//   synced, then the journal file is removed and the folder synced; an empty,
//   zeroed or incomplete one (between guarded writes, or a crash before the
//   guarded write began) is removed the same way. A crash during this leaves
//   the journal for the next open. A complete journal fills its file exactly
//   however the file was kept, so a journal of any build rolls back.
// Rule 15, define: the block is synced in every mode (rule 24); in CLOSE
//   and FULL a schema file it created has its folder entry synced too.
// Rule 16, same layout: in OFF and CLOSE an image longer than a sector is
//   written in place only when it has the length of the image there and
//   the same length for every field. A power cut may leave any mix of the
//   two images' sectors; every length prefix is the same in both, so each
//   mix reads as a record (values may mix the two versions, which these
//   modes do not promise against) and open never refuses it. An image of
//   another layout, torn, could read as no record at all: it moves.
// Rule 17, the journal after a power cut in OFF and CLOSE, where nothing
//   of it is synced: the file's name, length and sectors each may or may
//   not have reached the disk. Open may find no file, an empty or a zeroed
//   one (the update is whole, or torn as rule 16 allows), an incomplete or
//   garbled journal, or one a later cut or write only partly reached (all
//   dropped: a checksum over the whole never matches a mix), this update's
//   journal (rolled back), or a complete journal of an earlier update whose
//   zeros never reached the disk. Rolling that back writes old bytes
//   of one record's image where that record stood: every later write at
//   that position was an in-place update within the journaled bytes
//   (appends go past the end; a rewrite, the tool's or Database::compact,
//   removes the journal file and syncs the folder, and so the removal,
//   before it renames), so the record reads as an earlier whole version, or
//   the bytes are ones nothing refers to any more. No other record is
//   touched and nothing is refused. Database::syncFiles syncs the zeroed
//   journal file with the others, so that no earlier journal outlives it.

namespace mero {

// The units a write is whole or absent in: a killed process stops a write
// between pages (the kernel copies page by page); a power cut, between
// sectors (kSectorBytes, power_cut_recovery.h).
inline constexpr int64_t kPageBytes = 4096;

inline bool isUntearableWrite(int64_t offset, uint64_t length, int64_t unit) {
  return length > 0 && offset / unit == (offset + static_cast<int64_t>(length) - 1) / unit;
}

}  // namespace mero
