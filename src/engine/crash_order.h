#pragma once
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
// Rule 4, in-place update: an image is rewritten in place only when it is no
//   longer than the one there and lies within one page, since a write
//   within a page is whole or absent; every other update follows rule 3.
// Rule 5, repair at open: a doubled entry is dropped, and the delete is
//   completed with the writes it would have finished with, before the
//   database is handed out. A kill during the repair leaves the same state.
// Rule 6, failures: memory changes only after every write has succeeded. A
//   write that fails part-way is undone where a reader could see it (an
//   in-place image, shifted entries), so memory and files agree on the state
//   before the call; bytes past the end of the data file are left unreferenced.
// Rule 7, define: the schema block goes out in one append, and only while
//   the index lists no record.
// Rule 8, rewrite: a tool that replaces the data and index files as a whole
//   writes and syncs new files, then a commit marker, then renames; open
//   finishes or rolls back what a kill left (rewrite_recovery.h).
// Rule 30, batch append: every record of the batch is checked first; then
//   all images go to the end of the data file in one write, all entries past
//   the count in one write, and the new count last. The count, one aligned
//   4-byte write, is the commit point: a kill leaves all of the batch or none.
