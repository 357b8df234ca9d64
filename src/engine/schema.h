#pragma once
// The schema file (".str"): one block at offset 0, possibly followed by later
// blocks that are never read.
//   N (int32 field count)
//   per field: indexed flag (1 byte, nonzero = indexed), L (int32), L name bytes
// Only the first define fixes a database's schema; later ones append blocks.

#include <cstdint>
#include <string>

#include "foundation/db_array.h"
#include "foundation/db_string.h"

namespace mero {

class File;

struct Schema {
  int32_t fieldCount = 0;
  DbArray<uint8_t> indexed;       // 1 where the field's values are searched in memory
  DbArray<DbString> fieldNames;
};

// The block for these fields, exactly as it is stored.
std::string encodeSchemaBlock(const DbArray<uint8_t>& indexed, const DbArray<DbString>& names);

// Appends the block to the schema file at path, creating the file when it is
// missing. False when the file cannot be opened or the write fails.
bool appendSchemaBlock(const std::string& path, const DbArray<uint8_t>& indexed,
                       const DbArray<DbString>& names);

// Defines the database at baseName: appends the block to its schema file,
// unless its index file lists records or an engine holds the files. Records written before a schema
// existed (as records of no fields) would no longer match the schema, and
// the database would never open again.
bool defineSchema(const std::string& baseName, const DbArray<uint8_t>& indexed,
                  const DbArray<DbString>& names);

// Reads the block at offset 0. An empty file is a schema of no fields. False
// for a block that is truncated or announces more fields than the file holds.
bool readSchema(File& file, Schema& schema);

}  // namespace mero
