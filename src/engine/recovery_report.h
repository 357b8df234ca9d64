#pragma once
// What an open took back after a power cut or an operating-system crash: the
// index entries whose records never reached the disk whole, each with its
// record number as stored, its position and why it went. Open keeps the
// report (Database::recovery()); the tool's analysis fills the same report
// without writing anything.

#include <cstdint>
#include <string>
#include <vector>

namespace mero {

enum class DropReason {
  zeroFilledEntry,   // an entry of zeros past the first: the index grew, its bytes never came
  repeatedPosition,  // a position listed earlier too: a delete's shift cut short
  pastDataEnd,       // the image starts, or runs, past the end of the data file
  zeroFilledImage,   // the image's length, or a whole sector it needs, reads as zeros
};

inline const char* describeDropReason(DropReason reason) {
  switch (reason) {
    case DropReason::zeroFilledEntry:
      return "index entry never written (zeros)";
    case DropReason::repeatedPosition:
      return "position listed twice (a delete cut short)";
    case DropReason::pastDataEnd:
      return "record bytes past the end of the data file";
    case DropReason::zeroFilledImage:
      return "record bytes never written (zeros)";
  }
  return "";
}

struct DroppedEntry {
  int32_t recordNumber;  // in the index file as stored
  int32_t position;
  DropReason reason;
};

struct RecoveryReport {
  int32_t storedCount = 0;            // the count in the index file
  int32_t missingEntries = 0;         // entries that count names past the end of the index file
  std::vector<DroppedEntry> dropped;  // in record order
  int32_t keptCount = 0;              // records live after the recovery
  bool schemaIncomplete = false;      // no records and a first schema block that never arrived whole
  bool indexRepaired = false;         // open wrote the kept entries and the count back

  bool empty() const { return missingEntries == 0 && dropped.empty() && !schemaIncomplete; }
  int32_t droppedFor(DropReason reason) const {
    int32_t n = 0;
    for (const DroppedEntry& entry : dropped) n += entry.reason == reason ? 1 : 0;
    return n;
  }
  // One line: how many entries went, and why.
  std::string summary() const {
    std::string line = std::to_string(keptCount) + " of " + std::to_string(storedCount) + " records kept";
    if (missingEntries > 0) line += "; " + std::to_string(missingEntries) + " index entries never written";
    for (const DropReason reason : {DropReason::zeroFilledEntry, DropReason::repeatedPosition, DropReason::pastDataEnd,
                                    DropReason::zeroFilledImage})
      if (const int32_t n = droppedFor(reason); n > 0)
        line += "; " + std::to_string(n) + " dropped: " + describeDropReason(reason);
    if (schemaIncomplete) line += "; schema block incomplete: undefined until the next define";
    return line;
  }
};

}  // namespace mero
