#pragma once
// A database of sample records in its own temporary directory, written once
// and shared by every benchmark that asks for the same size, since writing
// 100,000 records takes far longer than one benchmark should. The directory
// goes when the program ends.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/database.h"

namespace mero::bench {

class ScratchDatabase {
 public:
  static constexpr const char* kKey = "bench-key-7";

  // The database of `records` sample records, created on first use.
  static const ScratchDatabase& shared(int32_t records);

  ~ScratchDatabase();
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;

  const std::string& baseName() const { return baseName_; }
  // Opens the files afresh with the key index on, as the Java side would.
  std::unique_ptr<Database> open() const;

 private:
  explicit ScratchDatabase(int32_t records);

  std::string dir_;
  std::string baseName_;
};

}  // namespace mero::bench
