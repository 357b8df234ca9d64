#pragma once
// A database as the tool sees it: its three files opened directly (no
// search structures are built), under the advisory lock that engines share.
// Readers (info, check, export) share it with engines; rewriters (compact,
// rekey) take it exclusively, so they never run while anyone has the files
// open. Opening also finishes or undoes a rewrite that a killed tool left.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/schema.h"
#include "platform/file.h"

namespace mero::tool {

class ToolDatabase {
 public:
  enum class Access { shared, exclusive };

  // Returns an exit status; kSuccess when the files are open and locked.
  // The data and index files may be missing (a database that was defined
  // but never opened): they then read as empty.
  int open(const std::string& base, Access access, std::string& error);

  // The schema block; false with a message when it cannot be read.
  bool readSchema(std::string& error);
  // The live positions as open would load them. False with a message when
  // the index file is damaged.
  bool loadPositions(std::string& error);

  const std::string& base() const { return base_; }
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
  Schema schema_;
  std::vector<int32_t> positions_;
};

}  // namespace mero::tool
