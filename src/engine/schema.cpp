#include "engine/schema.h"

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
// fields were interleaved with another writer's. A schema file this call
// made and could not fill (a full disk) is removed again: left empty or
// half written, it would read as no schema or a damaged one.
bool appendSchemaBlock(const std::string& path, const DbArray<uint8_t>& indexed,
                       const DbArray<DbString>& names) {
  bool created = false;
  if (!File::createIfMissing(path, &created)) return false;
  const std::string block = encodeSchemaBlock(indexed, names);
  File file;
  const bool written = file.openAppend(path) && file.append(block.data(), block.size());
  file.close();
  if (!written && created) File::remove(path);
  return written;
}

// Under the files' lock, so that no open engine (which holds a schema of no
// fields when none was defined) writes records that the new block would not
// match; the lock also makes the check and the append one step. A schema
// file this call made is removed again when the define fails (a full disk):
// left empty or half written, it would read as no schema or a damaged one.
bool defineSchema(const std::string& baseName, const DbArray<uint8_t>& indexed,
                  const DbArray<DbString>& names) {
  const std::string path = baseName + ".str";
  bool created = false;
  if (!File::createIfMissing(path, &created)) return false;
  File file;
  bool written = file.openReadWrite(path) && file.lockExclusive() == File::LockResult::taken &&
                 !indexListsRecords(baseName + ".idx");
  if (written) {
    const int64_t end = file.size();
    const std::string block = encodeSchemaBlock(indexed, names);
    written = end >= 0 && file.writeAt(end, block.data(), block.size());
  }
  file.close();
  if (!written && created) File::remove(path);
  return written;
}

bool readSchema(File& file, Schema& schema) {
  const int64_t size = file.size();
  if (size < 0) return false;
  schema = Schema{};
  if (size == 0) {
    schema.indexed.resize(0);
    schema.fieldNames.resize(0);
    return true;  // never defined: a database of no fields
  }
  std::string bytes(static_cast<size_t>(size), '\0');
  if (file.readAt(0, bytes.data(), bytes.size()) != size) return false;
  if (size < 4) return false;
  const int32_t count = decodeInt32(bytes.data());
  // Each field takes at least 5 bytes, which bounds any believable count.
  if (count < 0 || static_cast<uint64_t>(count) * 5 > static_cast<uint64_t>(size - 4)) return false;
  schema.fieldCount = count;
  schema.indexed.resize(count);
  schema.fieldNames.resize(count);
  size_t at = 4;
  for (int32_t i = 0; i < count; ++i) {
    if (bytes.size() - at < 5) return false;
    schema.indexed.at(i) = bytes[at] != 0 ? 1 : 0;
    const int32_t length = decodeInt32(bytes.data() + at + 1);
    at += 5;
    if (length < 0 || static_cast<uint64_t>(length) > bytes.size() - at) return false;
    schema.fieldNames.at(i) = DbString(std::string_view(bytes.data() + at, static_cast<size_t>(length)));
    at += static_cast<size_t>(length);
  }
  return true;
}

}  // namespace mero
