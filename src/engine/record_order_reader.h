#pragma once
// RecordOrderReader reads the images of a list of positions in record
// order: open's rebuild, the scans of find and compact, and the tool's
// check, export and rewrites. Record order is the data file's order except
// for records that an update moved to the end of the file. Read where they
// come, each such record would cost a read of its own and break the stream
// for the records around it. So the images lying after a later record's
// image are read first, in position order and while they fit a budget, into
// one buffer; everything else streams through one window. What the budget
// leaves out is read on its own, without disturbing the window.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/data_file_reader.h"
#include "engine/record_image.h"

namespace mero {

class File;

// The most a reader holds of moved records' images: a few hundred thousand
// records' worth, far less than the database itself.
constexpr size_t kReadAheadBytes = size_t{64} << 20;

class RecordOrderReader {
 public:
  // positions: the records' positions in record order; the reader keeps a
  // reference, so they must outlive it. The moved records are read at once.
  RecordOrderReader(const File& file, int64_t fileSize, const std::vector<int32_t>& positions, int32_t fieldCount,
                    size_t aheadBudget = kReadAheadBytes);
  RecordOrderReader(const RecordOrderReader&) = delete;
  RecordOrderReader& operator=(const RecordOrderReader&) = delete;

  // The image of record r (length prefix included), or an empty view with
  // `damage` (when given) telling why, as DataFileReader::rawImage does.
  // Calls come in ascending record order; a record may be asked again.
  std::string_view rawImage(size_t record, ImageDamage* damage = nullptr);
  // Record r's fields, deciphered; false when its image is not whole, as
  // DataFileReader::readRecord.
  bool readRecord(size_t record, const FieldCipher& cipher, FieldValues& out, const uint8_t* wanted = nullptr,
                  bool* filled = nullptr);
  // What is wrong with record r's image, all of it walked; ok when whole.
  ImageDamage damageAt(size_t record);

 private:
  struct Ahead {
    uint32_t record;
    uint32_t length;
    size_t start;  // in aheadBytes_
  };
  void readAhead(const File& file, int64_t fileSize, size_t budget);
  // The read-ahead image of record r, if it has one.
  const Ahead* aheadOf(size_t record);

  const std::vector<int32_t>& positions_;
  int32_t fieldCount_;
  DataFileReader stream_;       // the records in file order
  DataFileReader jumps_;        // moved records the budget left out
  std::vector<uint8_t> moved_;  // by record: lies after a later record's image
  std::vector<Ahead> ahead_;    // by record number
  std::string aheadBytes_;
  size_t nextAhead_ = 0;
};

}  // namespace mero
