#include "engine/schema.h"

#include "engine/file_names.h"
#include "engine/index_file.h"
#include "foundation/int32_codec.h"
#include "platform/file.h"

namespace mero {

std::string encodeSchemaBlock(const DbArray<uint8_t>& indexed, const DbArray<DbString>& names) {
  std::string block;
  char number[4];
  encodeInt32(names.size(), number);
  block.append(number, 4);
  for (int32_t i = 0; i < names.size(); ++i) {
    block.push_back(indexed.at(i) != 0 ? 1 : 0);
    const DbString& name = names.at(i);
    encodeInt32(name.length(), number);
    block.append(number, 4);
    block.append(name.view());
  }
  return block;
}

// The block is written with one append, so a reader never sees a block whose
// fields were interleaved with another writer's. The block is synced before
// success is reported: records written after it must never reach the disk
// ahead of the schema they are read with. A failed write (a full disk) is
// taken back: a schema file this call made goes again, and a block written
// in part is cut off, so the file reads as it did.
bool appendSchemaBlock(const std::string& path, const DbArray<uint8_t>& indexed, const DbArray<DbString>& names) {
  bool created = false;
  if (!File::createIfMissing(path, &created)) return false;
  const std::string block = encodeSchemaBlock(indexed, names);
  File file;
  int64_t before = -1;
  bool written = file.openAppend(path) && (before = file.size()) >= 0 && file.append(block.data(), block.size());
  file.close();
  // A handle open for appending only may not sync or cut (Windows): a
  // read-write one does both.
  File whole;
  if (whole.openReadWrite(path)) {
    written = written && whole.sync();
    if (!written && before >= 0 && whole.size() > before) whole.truncate(before);
  } else {
    written = false;
  }
  whole.close();
  if (!written && created) File::remove(path);
  return written;
}

// Under the files' lock, so that no open engine (which holds a schema of no
// fields when none was defined) writes records that the new block would not
// match; the lock also makes the check and the append one step. A schema
// file this call made is removed again when the define fails (a full disk):
// left empty or half written, it would read as no schema or a damaged one.
// In CLOSE and FULL the block and the file's name are durable before define
// returns: it is the whole of the change, as a close would leave it.
bool defineSchema(const std::string& baseName, const DbArray<uint8_t>& indexed, const DbArray<DbString>& names,
                  SyncMode sync) {
  const std::string path = schemaFileName(baseName);
  bool created = false;
  if (!File::createIfMissing(path, &created)) return false;
  File file;
  bool written = file.openReadWrite(path) && file.lockExclusive() == File::LockResult::taken &&
                 !indexListsRecords(indexFileName(baseName));
  // A first block that never arrived whole is our own write cut short: it
  // goes, and the new block takes its place at offset 0.
  Schema current;
  if (written && readSchemaBlock(file, current) == SchemaBlock::incomplete) written = file.truncate(0);
  if (written) {
    const int64_t end = file.size();
    const std::string block = encodeSchemaBlock(indexed, names);
    written = end >= 0 && file.writeAt(end, block.data(), block.size()) && file.sync() &&
              (sync == SyncMode::off || !created || File::syncDirectoryOf(path));
    if (!written && end >= 0 && file.size() > end) file.truncate(end);  // take back a part written
  }
  file.close();
  if (!written && created) File::remove(path);
  return written;
}

namespace {
SchemaBlock noFields(Schema& schema, SchemaBlock verdict) {
  schema = Schema{};
  schema.indexed.resize(0);
  schema.fieldNames.resize(0);
  return verdict;
}
}  // namespace

SchemaBlock readSchemaBlock(File& file, Schema& schema) {
  const int64_t size = file.size();
  if (size < 0) return SchemaBlock::damaged;
  if (size == 0) return noFields(schema, SchemaBlock::whole);  // never defined
  if (size < 4) return noFields(schema, SchemaBlock::incomplete);
  std::string bytes(static_cast<size_t>(size), '\0');
  if (file.readAt(0, bytes.data(), bytes.size()) != size) return SchemaBlock::damaged;
  // A file grown by a define whose bytes never arrived reads as zeros. A
  // count of 0 followed by nothing but zeros is that, not a define of no
  // fields (which writes 4 bytes).
  if (size > 4 && bytes.find_first_not_of('\0') == std::string::npos) return noFields(schema, SchemaBlock::incomplete);
  const int32_t count = decodeInt32(bytes.data());
  if (count < 0) return SchemaBlock::damaged;
  // The fields are walked first, so that no room is made for a count that
  // the file cannot hold (each field takes at least 5 bytes).
  size_t at = 4;
  for (int32_t i = 0; i < count; ++i) {
    if (bytes.size() - at < 5) return noFields(schema, SchemaBlock::incomplete);
    const int32_t length = decodeInt32(bytes.data() + at + 1);
    if (length < 0) return SchemaBlock::damaged;
    if (static_cast<uint64_t>(length) > bytes.size() - at - 5) return noFields(schema, SchemaBlock::incomplete);
    at += 5 + static_cast<size_t>(length);
  }
  schema = Schema{};
  schema.fieldCount = count;
  schema.indexed.resize(count);
  schema.fieldNames.resize(count);
  at = 4;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t length = decodeInt32(bytes.data() + at + 1);
    schema.indexed.at(i) = bytes[at] != 0 ? 1 : 0;
    schema.fieldNames.at(i) = DbString(std::string_view(bytes.data() + at + 5, static_cast<size_t>(length)));
    at += 5 + static_cast<size_t>(length);
  }
  return SchemaBlock::whole;
}

bool readSchema(File& file, Schema& schema) { return readSchemaBlock(file, schema) == SchemaBlock::whole; }

}  // namespace mero
