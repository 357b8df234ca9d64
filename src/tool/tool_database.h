#pragma once
// A database as the tool sees it: its three files opened directly (no
// search structures are built), under the advisory lock on the schema file
// that engines take when they open it. Readers (info, check, export) take it
// shared, so they never read a database that an engine or a rewrite holds
// exclusively and may be changing; with --live they read anyway and check
// their own answer for consistency (see LiveView). Rewriters (compact,
// rekey) take it exclusively, so they never run while anyone has the files
// open. Opening also finishes or undoes a rewrite that a killed tool left.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/schema.h"
#include "platform/file.h"

namespace mero::tool {

class ToolDatabase {
 public:
  // untouched: shared, and nothing is ever written, not even the repair of
  // an interrupted rewrite (recover, which salvages without changing BASE).
  enum class Access { shared, live, exclusive, untouched };

  // Returns an exit status; kSuccess when the files are open (and locked,
  // unless live and the lock was taken). The data and index files may be
  // missing (a database that was defined but never opened): they then read
  // as empty.
  int open(const std::string& base, Access access, std::string& error);

  // The schema block; false with a message when it cannot be read.
  bool readSchema(std::string& error);
  // The live positions as open would load them, then the data file's size:
  // taken after the index, so that every record the index names was in the
  // data file before its size was taken. False with a message when the
  // index file is damaged.
  bool loadPositions(std::string& error);
  // Reads the files' sizes again (live readers, before a retry).
  void refreshSizes();
  // Whether the index and data files are still as they were at the last
  // loadPositions or refreshSizes (a live reader's answer is then whole).
  bool unchangedSinceLoad() const;
  // The files as the last loadPositions or refreshSizes saw them.
  std::pair<FileIdentity, FileIdentity> seen() const { return {indexSeen_, dataSeen_}; }

  const std::string& base() const { return base_; }
  bool indexMissing() const { return !index_.isOpen(); }
  bool readingLive() const { return live_; }
  File& dataFile() { return data_; }
  File& indexFile() { return index_; }
  File& schemaFile() { return schemaFile_; }
  int64_t dataSize() const { return dataSize_; }
  int64_t indexSize() const { return indexSize_; }
  const Schema& schema() const { return schema_; }
  const std::vector<int32_t>& positions() const { return positions_; }
  // Closes the data and index files (before a rewrite renames over them).
  void closeDataAndIndex() {
    data_.close();
    index_.close();
  }

 private:
  std::string base_;
  File schemaFile_;
  File data_;
  File index_;
  int64_t dataSize_ = 0;
  int64_t indexSize_ = 0;
  FileIdentity dataSeen_{};
  FileIdentity indexSeen_{};
  bool live_ = false;
  Schema schema_;
  std::vector<int32_t> positions_;
};

// Why the lock on base's schema file is taken: another mero rewriting the
// database (its drafts are there) or an application that has it open.
std::string holderOf(const std::string& base);

}  // namespace mero::tool
