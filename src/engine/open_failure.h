#pragma once
// Why an open refused, and the one table of messages that tells it: the tool
// and the packaged API's exceptions say the same, naming the file concerned
// and, when a file operation failed, the operating system's reason.

#include <cstdint>
#include <string>

#include "engine/record_image.h"

namespace mero {

// Each kind of damage has its own reason, so a test of damaged files cannot
// pass because open refused for another one.
enum class OpenFailure {
  none,
  filesUnavailable,   // a file could not be created or opened
  damagedSchema,      // a truncated block, or one announcing impossible fields
  damagedIndex,       // a negative count or entry
  damagedRecord,      // an entry that leads to an image no power cut leaves (power_cut_recovery.h)
  repeatedPosition,   // two entries name one record
  tooLargeForMemory,  // the indexed values would not fit the search structures
  repairFailed,       // a delete or a rewrite cut short could not be completed
  locked,             // another engine, in this process or another, or a tool holds the files
  lockUnsupported,    // the file system cannot lock the files, so they cannot be held
};

// A refusal in full: the reason, the file it concerns, and the operating
// system's error (File::error()) when a file operation failed, else 0.
struct OpenRefusal {
  OpenFailure failure = OpenFailure::none;
  std::string file;
  int systemError = 0;
  // For damagedRecord: the record (its number in the index file), where it
  // lies, and what is wrong with its image.
  int32_t record = -1;
  int64_t position = -1;
  ImageDamage damage;
};

// The message for a refusal, e.g. "cannot open or create db.dat for reading
// and writing: Permission denied", or "damaged data file db.dat: record 7 at
// position 140: field 2 length 99 runs past the end of the image, and no
// power cut explains it".
std::string describe(const OpenRefusal& refusal);

}  // namespace mero
