#pragma once
// Power-cut recovery: which damage in the index and data files a power cut
// or an operating-system crash can leave, and which it cannot. Nothing is
// synced while records change (in the default modes), so after a power cut
// each file is a mix of old and new 512-byte sectors: a tail missing, or
// zero-filled where the file grew and its bytes never came; an index count or
// entry ahead of the records it names, or behind them; a delete's shift cut
// anywhere. That damage is taken back, the database comes up at a consistent
// point, and the report says what went (crash_order.h, rules 20 to 24).
// Everything else is refused, as before:
//   - a negative count or entry (4-byte writes within a sector are whole);
//   - an image with a length prefix that is not zero but is too small for
//     the schema, or runs past the end of the file while a later record
//     starts inside it, or whose fields fill it inside the file;
//   - an image inside the file whose fields do not chain, with no sector of
//     zeros to explain it.
//
// The same functions serve open (which then writes the repair) and the
// tool's analysis (which writes nothing), so both draw the same line.

#include <cstdint>
#include <vector>

#include "engine/database.h"
#include "engine/record_image.h"
#include "engine/recovery_report.h"

namespace mero {

class File;

// A power cut tears writes between sectors of this size, never inside one.
constexpr int64_t kSectorBytes = 512;

// The index entries as stored, and those that survive the index's own checks.
struct IndexEntries {
  std::vector<int32_t> stored;     // entries as the file holds them, up to the count
  std::vector<int32_t> positions;  // the entries kept, in record order
  std::vector<int32_t> numbers;    // their record numbers in `stored`
  int64_t lastStart = -1;          // the highest kept position that starts inside the data file
};

// Reads the index file: drops entries past the file's end, zero entries past
// the first, and repeats of an earlier position (the first stays).
// OpenFailure::damagedIndex for a negative count or entry.
OpenFailure analyseIndex(const File& index, int64_t dataSize, IndexEntries& entries, RecoveryReport& report);

// The verdict on an image that did not read as a well-formed record, or whose
// fields do not fill it: kept, dropped (with the reason) or refused (with
// what is wrong with the image in `damage`).
enum class ImageVerdict { keep, drop, refuse };
ImageVerdict judgeImage(const File& data, int64_t dataSize, int32_t fieldCount, int64_t position, int64_t lastStart,
                        DropReason& reason, ImageDamage& damage);

// Writes the kept entries from the first that differs from the file's, then
// the count, and syncs: a delete's own finishing writes (rule 5). Nothing is
// written when the file already lists exactly the kept entries.
bool writeRecoveredIndex(File& index, const IndexEntries& entries, const std::vector<int32_t>& kept,
                         RecoveryReport& report);

// Reads the three files as open would and fills the report with what open
// would drop, writing nothing. Returns the reason open would refuse, or
// OpenFailure::none.
OpenFailure analyseFiles(File& schemaFile, const File& indexFile, const File& dataFile, RecoveryReport& report);

}  // namespace mero
