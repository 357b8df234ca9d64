#pragma once
// The schema file (<base>.str): one block at offset 0, possibly followed by later
// blocks that are never read.
//   N (int32 field count)
//   per field: indexed flag (1 byte, nonzero = indexed), L (int32), L name bytes
// Only the first define fixes a database's schema; later ones append blocks.

#include <cstdint>
#include <string>

#include "engine/sync_mode.h"
#include "foundation/db_array.h"
#include "foundation/db_string.h"

namespace mero {

class File;

struct Schema {
  int32_t fieldCount = 0;
  DbArray<uint8_t> indexed;  // 1 where the field's values are searched in memory
  DbArray<DbString> fieldNames;
};

// The block for these fields, exactly as it is stored.
std::string encodeSchemaBlock(const DbArray<uint8_t>& indexed, const DbArray<DbString>& names);

// Appends the block to the schema file at path, creating the file when it is
// missing. False when the file cannot be opened or the write fails; a block
// written in part is then taken back off the file's end.
bool appendSchemaBlock(const std::string& path, const DbArray<uint8_t>& indexed, const DbArray<DbString>& names);

// Defines the database at baseName: appends the block to its schema file,
// unless its index file lists records or an engine holds the files. Records written before a schema
// existed (as records of no fields) would no longer match the schema, and
// the database would never open again. A first block that never arrived
// whole (an earlier define cut short) is the only thing in the file a define
// replaces: the file is cut back to nothing before the new block goes out.
bool defineSchema(const std::string& baseName, const DbArray<uint8_t>& indexed, const DbArray<DbString>& names,
                  SyncMode sync = SyncMode::close);

enum class SchemaBlock {
  whole,       // the block at offset 0 is complete
  incomplete,  // a define's block that never arrived whole (see readSchemaBlock)
  damaged,     // bytes no define writes: a negative count or name length
};

// Reads the block at offset 0. An empty file is a schema of no fields.
// `incomplete`: the file is 1 to 3 bytes long, holds only zeros past a 4-byte
// block (a define whose bytes never reached the disk), or ends before the
// fields its count announces while every field before the end is sound
// (a define cut short by a full disk or a power cut). The schema is then
// left as no fields.
SchemaBlock readSchemaBlock(File& file, Schema& schema);
// True only for a whole block.
bool readSchema(File& file, Schema& schema);

}  // namespace mero
