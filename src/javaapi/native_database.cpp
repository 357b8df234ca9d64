// The native methods of org.mero.db.NativeDatabase: the packaged Java API's
// own binding over the engine, in a library of its own (mero_java), beside
// the thirteen exports of MERO_Database.
//
// A handle is the address of an open engine, owned by the Java Database
// that received it. The Java side never calls close while another call on
// the handle runs, nor any call after close, so a handle always names a live
// engine here. Every method works under the engine's lock, so what it
// answers (a position, a find and the records it found) is one consistent
// state. No C++ exception leaves this file; failures are return codes that
// NativeDatabase.java names.

#include <jni.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/closed_engine_release.h"
#include "engine/database.h"
#include "engine/file_names.h"
#include "engine/schema.h"
#include "foundation/modified_utf8.h"
#include "jni/call_frame.h"
#include "jni/java_conversions.h"
#include "platform/file.h"

using mero::Database;
using mero::DbArray;
using mero::DbString;
using mero::FieldValues;
using mero::LockGuard;
using mero::OpenFailure;
using mero::WriteStatus;
using mero::jni::BorrowedBuffers;
using mero::jni::guarded;
namespace conv = mero::jni;

namespace {

// Results of a change; NativeDatabase.java holds the same numbers.
constexpr jint kWrongFieldCount = -1;
constexpr jint kDuplicateKey = -2;
constexpr jint kNotStored = -3;
constexpr jint kNoRecord = -4;

// Why an open failed, as NativeDatabase.java numbers it.
enum OpenCode : jint {
  kOpened = 0,
  kFilesUnavailable = 1,
  kDamagedSchema = 2,
  kDamagedIndex = 3,
  kDamagedRecord = 4,
  kRepeatedPosition = 5,
  kTooLargeForMemory = 6,
  kRepairFailed = 7,
  kLocked = 8,
  kLockUnsupported = 9,
  kNoSchema = 20,       // none stored and none given
  kDefineRefused = 21,  // the schema could not be written
  kOutOfMemory = 22,
};

jint codeOf(OpenFailure failure) {
  switch (failure) {
    case OpenFailure::none:
      return kOpened;
    case OpenFailure::filesUnavailable:
      return kFilesUnavailable;
    case OpenFailure::damagedSchema:
      return kDamagedSchema;
    case OpenFailure::damagedIndex:
      return kDamagedIndex;
    case OpenFailure::damagedRecord:
      return kDamagedRecord;
    case OpenFailure::repeatedPosition:
      return kRepeatedPosition;
    case OpenFailure::tooLargeForMemory:
      return kTooLargeForMemory;
    case OpenFailure::repairFailed:
      return kRepairFailed;
    case OpenFailure::locked:
      return kLocked;
    case OpenFailure::lockUnsupported:
      return kLockUnsupported;
  }
  return kFilesUnavailable;
}

Database& engine(jlong handle) { return *reinterpret_cast<Database*>(handle); }

template <typename Result, typename Fn>
Result locked(jlong handle, Fn fn) {
  Database& db = engine(handle);
  LockGuard guard(db.lock());
  return fn(db);
}

// A schema file that is missing or empty holds no schema yet.
bool schemaStored(const std::string& path) {
  mero::File file;
  return mero::File::exists(path) && (!file.openReadWrite(path) || file.size() != 0);
}

bool isLive(const Database& db, jint position) {
  uint32_t slot = 0;
  return db.records().slotOf(position, slot);
}

// The record's position after the update, or a failure code. An update may
// not give a record the key of another live record: the key index would
// then lead only to one of them.
jint updateLive(Database& db, jint position, const FieldValues& values) {
  if (values.size() != db.fieldCount()) return kWrongFieldCount;
  if (!isLive(db, position)) return kNoRecord;
  if (db.keyIndexEnabled() && db.fieldCount() > 0) {
    const int32_t holder = db.getPos(values[0]);
    if (holder >= 0 && holder != position) return kDuplicateKey;
  }
  int32_t newPosition = -1;
  return db.updateRecord(position, values, &newPosition) ? newPosition : kNotStored;
}

// 1 deleted, 0 no live record there, kNotStored when the files refused.
jint deleteLive(Database& db, jint position) {
  if (!isLive(db, position)) return 0;
  return db.deleteRecord(position) ? 1 : kNotStored;
}

jint codeOf(WriteStatus status) {
  switch (status) {
    case WriteStatus::appended:
      return 0;
    case WriteStatus::wrongFieldCount:
      return kWrongFieldCount;
    case WriteStatus::duplicateKey:
      return kDuplicateKey;
    case WriteStatus::notStored:
      return kNotStored;
  }
  return kNotStored;
}

// Sync modes as NativeDatabase.java numbers them: the order of SyncMode.
mero::SyncMode syncModeOf(jint code) {
  switch (code) {
    case 0:
      return mero::SyncMode::off;
    case 2:
      return mero::SyncMode::full;
    default:
      return mero::SyncMode::close;
  }
}

jint codeOf(mero::SyncMode mode) {
  switch (mode) {
    case mero::SyncMode::off:
      return 0;
    case mero::SyncMode::close:
      return 1;
    case mero::SyncMode::full:
      return 2;
  }
  return 1;
}

void report(JNIEnv* env, jintArray failure, jint code) {
  if (failure != nullptr && env->GetArrayLength(failure) > 0) env->SetIntArrayRegion(failure, 0, 1, &code);
}

// The engine's words for a refusal, naming the file and the system's reason.
void explain(JNIEnv* env, jobjectArray message, const mero::OpenRefusal& refusal) {
  if (message == nullptr || env->GetArrayLength(message) == 0) return;
  // The file name came from Java as modified UTF-8, and the system text is ASCII.
  jstring text = env->NewStringUTF(mero::describe(refusal).c_str());
  if (text == nullptr) return;
  env->SetObjectArrayElement(message, 0, text);
  env->DeleteLocalRef(text);
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_org_mero_db_NativeDatabase_open(JNIEnv* env, jclass, jstring base, jstring key,
                                                             jboolean keyIndex, jint sync, jbooleanArray indexed,
                                                             jobjectArray names, jintArray failure,
                                                             jobjectArray message) {
  return guarded<jlong>(0, [&]() -> jlong {
    report(env, failure, kOutOfMemory);  // until something better is known
    std::string baseName;
    std::string keyBytes;
    if (!conv::copyString(env, base, baseName) || !conv::copyString(env, key, keyBytes)) return 0;
    if (!schemaStored(mero::schemaFileName(baseName))) {
      if (indexed == nullptr || names == nullptr) {
        report(env, failure, kNoSchema);
        return 0;
      }
      std::vector<uint8_t> flags;
      DbArray<DbString> fieldNames;
      if (!conv::copyBooleanArray(env, indexed, flags) || !conv::copyStringArray(env, names, fieldNames)) return 0;
      DbArray<uint8_t> flagArray(static_cast<int32_t>(flags.size()), 0);
      for (size_t i = 0; i < flags.size(); ++i) flagArray.at(static_cast<int32_t>(i)) = flags[i];
      if (flagArray.size() != fieldNames.size() || !mero::defineSchema(baseName, flagArray, fieldNames)) {
        report(env, failure, kDefineRefused);
        return 0;
      }
    }
    mero::OpenRefusal refusal;
    std::unique_ptr<Database> db = Database::open(baseName, keyBytes, keyIndex == JNI_TRUE, refusal, syncModeOf(sync));
    report(env, failure, db ? kOpened : codeOf(refusal.failure));
    if (db == nullptr) explain(env, message, refusal);
    return reinterpret_cast<jlong>(db.release());
  });
}

JNIEXPORT void JNICALL Java_org_mero_db_NativeDatabase_close(JNIEnv*, jclass, jlong handle) {
  guarded<int>(0, [&]() -> int {
    std::shared_ptr<Database> db(&engine(handle));
    {
      LockGuard guard(db->lock());
      db->shutdown();
    }
    releaseClosedEngine(std::move(db));
    return 0;
  });
}

JNIEXPORT jobjectArray JNICALL Java_org_mero_db_NativeDatabase_fieldNames(JNIEnv* env, jclass, jlong handle) {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    FieldValues names;
    for (const DbString& name : engine(handle).schema().fieldNames) names.add(name.view());
    return conv::newStringArray(env, names);
  });
}

JNIEXPORT jbooleanArray JNICALL Java_org_mero_db_NativeDatabase_indexedFields(JNIEnv* env, jclass, jlong handle) {
  return guarded<jbooleanArray>(nullptr, [&]() -> jbooleanArray {
    const mero::Schema& schema = engine(handle).schema();
    return conv::newBooleanArray(env, std::vector<uint8_t>(schema.indexed.begin(), schema.indexed.end()));
  });
}

JNIEXPORT jint JNICALL Java_org_mero_db_NativeDatabase_append(JNIEnv* env, jclass, jlong handle, jobjectArray values) {
  return guarded<jint>(kNotStored, [&]() -> jint {
    BorrowedBuffers buffers;
    FieldValues& copied = buffers.values();
    if (!conv::copyStringArray(env, values, copied)) return kWrongFieldCount;
    return locked<jint>(handle, [&](Database& db) -> jint {
      int32_t position = -1;
      const WriteStatus status = db.write(copied, &position);
      return status == WriteStatus::appended ? position : codeOf(status);
    });
  });
}

// Live records only: a position that an update moved away from or a delete
// emptied still holds the old image, which must not read as a record.
JNIEXPORT jobjectArray JNICALL Java_org_mero_db_NativeDatabase_read(JNIEnv* env, jclass, jlong handle, jint position) {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    BorrowedBuffers buffers;
    FieldValues& values = buffers.values();
    const bool found =
        locked<bool>(handle, [&](Database& db) { return isLive(db, position) && db.getRecord(position, values); });
    return found ? conv::newStringArray(env, values) : nullptr;
  });
}

JNIEXPORT jobjectArray JNICALL Java_org_mero_db_NativeDatabase_readByKey(JNIEnv* env, jclass, jlong handle,
                                                                         jstring key) {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    BorrowedBuffers buffers;
    if (!conv::copyString(env, key, buffers.key())) return nullptr;
    FieldValues& values = buffers.values();
    const bool found = locked<bool>(handle, [&](Database& db) { return db.getRecordByKey(buffers.key(), values); });
    return found ? conv::newStringArray(env, values) : nullptr;
  });
}

JNIEXPORT jint JNICALL Java_org_mero_db_NativeDatabase_positionOf(JNIEnv* env, jclass, jlong handle, jstring key) {
  return guarded<jint>(-1, [&]() -> jint {
    BorrowedBuffers buffers;
    if (!conv::copyString(env, key, buffers.key())) return -1;
    return locked<jint>(handle, [&](Database& db) -> jint { return db.getPos(buffers.key()); });
  });
}

JNIEXPORT jint JNICALL Java_org_mero_db_NativeDatabase_update(JNIEnv* env, jclass, jlong handle, jint position,
                                                              jobjectArray values) {
  return guarded<jint>(kNotStored, [&]() -> jint {
    BorrowedBuffers buffers;
    FieldValues& copied = buffers.values();
    if (!conv::copyStringArray(env, values, copied)) return kWrongFieldCount;
    return locked<jint>(handle, [&](Database& db) { return updateLive(db, position, copied); });
  });
}

JNIEXPORT jint JNICALL Java_org_mero_db_NativeDatabase_delete(JNIEnv*, jclass, jlong handle, jint position) {
  return guarded<jint>(kNotStored, [&]() -> jint {
    return locked<jint>(handle, [&](Database& db) { return deleteLive(db, position); });
  });
}

JNIEXPORT jint JNICALL Java_org_mero_db_NativeDatabase_count(JNIEnv*, jclass, jlong handle) {
  return guarded<jint>(0, [&]() -> jint { return locked<jint>(handle, [](Database& db) { return db.numRecs(); }); });
}

namespace {
bool copyTerms(JNIEnv* env, jbooleanArray partial, jobjectArray terms, std::vector<uint8_t>& flags,
               FieldValues& texts) {
  return partial != nullptr && terms != nullptr && env->GetArrayLength(partial) == env->GetArrayLength(terms) &&
         conv::copyBooleanArray(env, partial, flags) && conv::copyStringArray(env, terms, texts);
}
}  // namespace

JNIEXPORT jintArray JNICALL Java_org_mero_db_NativeDatabase_find(JNIEnv* env, jclass, jlong handle,
                                                                 jbooleanArray partial, jobjectArray terms) {
  return guarded<jintArray>(nullptr, [&]() -> jintArray {
    BorrowedBuffers buffers;
    std::vector<uint8_t> flags;
    FieldValues& texts = buffers.values();
    if (!copyTerms(env, partial, terms, flags, texts)) return nullptr;
    const std::vector<int32_t> positions =
        locked<std::vector<int32_t>>(handle, [&](Database& db) { return db.find(flags, texts); });
    return conv::newIntArray(env, positions);
  });
}

// The find and the reads of what it found run under one hold of the lock,
// so the records are those of one moment: none is missed or read twice
// because another thread changed it meanwhile.
JNIEXPORT jobjectArray JNICALL Java_org_mero_db_NativeDatabase_findRecords(JNIEnv* env, jclass, jlong handle,
                                                                           jbooleanArray partial, jobjectArray terms) {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    BorrowedBuffers buffers;
    std::vector<uint8_t> flags;
    FieldValues& texts = buffers.values();
    if (!copyTerms(env, partial, terms, flags, texts)) return nullptr;
    return locked<jobjectArray>(handle, [&](Database& db) -> jobjectArray {
      const std::vector<int32_t> positions = db.find(flags, texts);
      FieldValues values;
      return conv::newRecordArray(env, static_cast<jsize>(positions.size()), values, [&](jsize i, FieldValues& values) {
        return db.getRecord(positions[static_cast<size_t>(i)], values);
      });
    });
  });
}

namespace {
enum BatchKind : int32_t { kAppend = 0, kUpdate = 1, kDelete = 2 };

// Runs a batch's operations in order, each run of consecutive appends as one
// batch append. Stops at the first failure: failedAt names the operation,
// code says why, and the `applied` operations before its step stand.
struct BatchRun {
  const std::vector<int32_t>& kinds;
  const std::vector<int32_t>& positions;
  const std::string& bytes;             // the values' modified UTF-8, one after another
  const std::vector<int32_t>& lengths;  // per value: fieldCount per append and update, in order
  std::vector<int32_t>& results;
  jint failedAt = -1;
  jint code = 0;
  jint applied = 0;  // operations before the step that failed

  void run(Database& db) {
    const auto width = static_cast<size_t>(db.fieldCount());
    size_t nextValue = 0;
    size_t nextByte = 0;
    const auto take = [&](FieldValues& record) {
      record.clear();
      if (nextValue + width > lengths.size()) return false;
      for (size_t f = 0; f < width; ++f) {
        const auto n = static_cast<size_t>(lengths[nextValue + f]);
        if (lengths[nextValue + f] < 0 || n > bytes.size() - nextByte) return false;
        record.add(std::string_view(bytes).substr(nextByte, n));
        nextByte += n;
      }
      nextValue += width;
      return true;
    };
    FieldValues record;
    for (size_t i = 0; i < kinds.size();) {
      if (kinds[i] == kAppend) {
        size_t end = i;
        std::vector<FieldValues> batch;
        for (; end < kinds.size() && kinds[end] == kAppend; ++end) {
          batch.emplace_back();
          if (!take(batch.back())) return fail(i, end, kWrongFieldCount);
        }
        std::vector<int32_t> appended;
        size_t refused = 0;
        const WriteStatus status = db.appendBatch(batch, appended, &refused);
        if (status != WriteStatus::appended) return fail(i, i + refused, codeOf(status));
        std::copy(appended.begin(), appended.end(), results.begin() + static_cast<std::ptrdiff_t>(i));
        i = end;
        continue;
      }
      jint result = 0;
      if (kinds[i] == kUpdate) {
        if (!take(record)) return fail(i, i, kWrongFieldCount);
        result = updateLive(db, positions[i], record);
      } else {
        result = deleteLive(db, positions[i]);
        if (result >= 0) result = result == 1 ? positions[i] : kNoRecord;
      }
      if (result == kNoRecord)
        result = -1;
      else if (result < 0)
        return fail(i, i, result);
      results[i] = result;
      ++i;
    }
  }
  void fail(size_t made, size_t at, jint failure) {
    applied = static_cast<jint>(made);
    failedAt = static_cast<jint>(at);
    code = failure;
  }
};
}  // namespace

namespace {
// Record number of the live record at position, or -1.
int32_t recordNumberAt(const Database& db, int32_t position) {
  uint32_t slot = 0;
  return db.records().slotOf(position, slot) ? db.records().recordNumberOf(slot) : -1;
}

// Where a scan resumes: after the latest record of the previous chunk that
// is still live where it was read (record numbers shift down when records
// before it are deleted; a record an update moved is not found at its old
// position, so the scan resumes before it and reads it again). When none
// is, at the record number the previous chunk ended at.
int32_t resumeAt(const Database& db, const std::vector<int32_t>& anchors, int32_t fallback) {
  for (size_t i = anchors.size(); i-- > 0;) {
    const int32_t r = recordNumberAt(db, anchors[i]);
    if (r >= 0) return r + 1;
  }
  return fallback;
}

// The record numbers from `from` on that match any branch (each a partial
// flag and a term per field), ascending, at most max.
std::vector<int32_t> matchingFrom(Database& db, const std::vector<std::vector<uint8_t>>& partial,
                                  const std::vector<FieldValues>& terms, int32_t from, size_t max) {
  std::vector<int32_t> numbers;
  const auto records = static_cast<size_t>(db.records().count());
  bool everything = false;
  for (const FieldValues& branch : terms) {
    bool none = true;
    for (int32_t t = 0; t < branch.size(); ++t) none = none && branch[t].empty();
    everything = everything || none;
  }
  if (everything) {
    for (auto r = static_cast<size_t>(std::max(from, 0)); r < records && numbers.size() < max; ++r)
      numbers.push_back(static_cast<int32_t>(r));
    return numbers;
  }
  for (size_t b = 0; b < terms.size(); ++b)
    for (const int32_t position : db.find(partial[b], terms[b])) {
      const int32_t r = recordNumberAt(db, position);
      if (r >= from) numbers.push_back(r);
    }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  if (numbers.size() > max) numbers.resize(max);
  return numbers;
}

bool copyBranches(JNIEnv* env, jobjectArray partial, jobjectArray terms, std::vector<std::vector<uint8_t>>& flags,
                  std::vector<FieldValues>& texts) {
  if (partial == nullptr || terms == nullptr || env->GetArrayLength(partial) != env->GetArrayLength(terms))
    return false;
  const jsize n = env->GetArrayLength(partial);
  flags.resize(static_cast<size_t>(n));
  texts.resize(static_cast<size_t>(n));
  for (jsize b = 0; b < n; ++b) {
    auto branchFlags = static_cast<jbooleanArray>(env->GetObjectArrayElement(partial, b));
    auto branchTerms = static_cast<jobjectArray>(env->GetObjectArrayElement(terms, b));
    const bool copied =
        copyTerms(env, branchFlags, branchTerms, flags[static_cast<size_t>(b)], texts[static_cast<size_t>(b)]);
    env->DeleteLocalRef(branchFlags);
    env->DeleteLocalRef(branchTerms);
    if (!copied) return false;
  }
  return true;
}
}  // namespace

// One chunk of a stream: the records, in record order, that match any
// branch, from where the previous chunk left off (see resumeAt), at most
// `max`. Their positions go to positionsOut, and next[0] receives the record
// number after the last one. Null when an argument is malformed or memory
// ran out.
JNIEXPORT jobjectArray JNICALL Java_org_mero_db_NativeDatabase_scan(JNIEnv* env, jclass, jlong handle,
                                                                    jobjectArray partial, jobjectArray terms,
                                                                    jintArray anchors, jint fallback, jint max,
                                                                    jintArray positionsOut, jintArray next) {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    std::vector<std::vector<uint8_t>> flags;
    std::vector<FieldValues> texts;
    std::vector<int32_t> anchorList;
    if (!copyBranches(env, partial, terms, flags, texts) || !conv::copyIntArray(env, anchors, anchorList) ||
        positionsOut == nullptr || next == nullptr || max < 0 || env->GetArrayLength(positionsOut) < max ||
        env->GetArrayLength(next) < 1)
      return nullptr;
    return locked<jobjectArray>(handle, [&](Database& db) -> jobjectArray {
      const int32_t from = resumeAt(db, anchorList, fallback);
      const std::vector<int32_t> numbers = matchingFrom(db, flags, texts, from, static_cast<size_t>(max));
      std::vector<int32_t> positions;
      for (const int32_t r : numbers) positions.push_back(db.records().positionAt(r));
      const jint after = numbers.empty() ? from : numbers.back() + 1;
      env->SetIntArrayRegion(next, 0, 1, &after);
      if (!positions.empty())
        env->SetIntArrayRegion(positionsOut, 0, static_cast<jsize>(positions.size()),
                               reinterpret_cast<const jint*>(positions.data()));
      FieldValues values;
      return conv::newRecordArray(env, static_cast<jsize>(positions.size()), values, [&](jsize i, FieldValues& out) {
        return db.getRecord(positions[static_cast<size_t>(i)], out);
      });
    });
  });
}

// The whole batch runs under one hold of the lock, so other threads see it
// all or not at all; what survives a crash is said in Database.java.
JNIEXPORT jintArray JNICALL Java_org_mero_db_NativeDatabase_batch(JNIEnv* env, jclass, jlong handle, jintArray kinds,
                                                                  jintArray positions, jbyteArray bytes,
                                                                  jintArray lengths, jintArray failure) {
  return guarded<jintArray>(nullptr, [&]() -> jintArray {
    std::vector<int32_t> kindList;
    std::vector<int32_t> positionList;
    std::string byteList;
    std::vector<int32_t> lengthList;
    if (!conv::copyIntArray(env, kinds, kindList) || !conv::copyIntArray(env, positions, positionList) ||
        positionList.size() != kindList.size() || !conv::copyByteArray(env, bytes, byteList) ||
        !conv::copyIntArray(env, lengths, lengthList))
      return nullptr;
    std::vector<int32_t> results(kindList.size(), 0);
    BatchRun batch{kindList, positionList, byteList, lengthList, results};
    locked<int>(handle, [&](Database& db) {
      batch.run(db);
      return 0;
    });
    const jint outcome[3] = {batch.failedAt, batch.code, batch.applied};
    if (failure != nullptr && env->GetArrayLength(failure) >= 3) env->SetIntArrayRegion(failure, 0, 3, outcome);
    return conv::newIntArray(env, results);
  });
}

JNIEXPORT jint JNICALL Java_org_mero_db_NativeDatabase_syncMode(JNIEnv*, jclass, jlong handle) {
  return guarded<jint>(1, [&]() -> jint { return codeOf(engine(handle).syncMode()); });
}

JNIEXPORT jboolean JNICALL Java_org_mero_db_NativeDatabase_sync(JNIEnv*, jclass, jlong handle) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    return locked<bool>(handle, [](Database& db) { return db.syncFiles(); }) ? JNI_TRUE : JNI_FALSE;
  });
}

// out: records, live bytes, data, index and schema file sizes.
JNIEXPORT jboolean JNICALL Java_org_mero_db_NativeDatabase_stats(JNIEnv* env, jclass, jlong handle, jlongArray out) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    if (out == nullptr || env->GetArrayLength(out) < 5) return JNI_FALSE;
    Database::Usage usage;
    if (!locked<bool>(handle, [&](Database& db) { return db.usage(usage); })) return JNI_FALSE;
    const jlong values[5] = {usage.records, usage.liveBytes, usage.dataBytes, usage.indexBytes, usage.schemaBytes};
    env->SetLongArrayRegion(out, 0, 5, values);
    return JNI_TRUE;
  });
}

// What open took back after a power cut: stored count, missing entries,
// kept count, whether the schema block was incomplete, then per dropped
// entry its record number, position and reason (DropReason's order).
// summary[0] receives the one-line summary.
JNIEXPORT jintArray JNICALL Java_org_mero_db_NativeDatabase_recovery(JNIEnv* env, jclass, jlong handle,
                                                                     jobjectArray summary) {
  return guarded<jintArray>(nullptr, [&]() -> jintArray {
    const mero::RecoveryReport& report = engine(handle).recovery();
    std::vector<int32_t> packed = {report.storedCount, report.missingEntries, report.keptCount,
                                   report.schemaIncomplete ? 1 : 0};
    for (const mero::DroppedEntry& entry : report.dropped) {
      packed.push_back(entry.recordNumber);
      packed.push_back(entry.position);
      packed.push_back(static_cast<int32_t>(entry.reason));
    }
    if (summary != nullptr && env->GetArrayLength(summary) > 0) {
      jstring line = env->NewStringUTF(report.summary().c_str());
      if (line == nullptr) return nullptr;
      env->SetObjectArrayElement(summary, 0, line);
      env->DeleteLocalRef(line);
    }
    return conv::newIntArray(env, packed);
  });
}

// Compaction replaces the engine: the Java side holds the handle alone
// meanwhile (no other call runs on it), so the engine's own lock is not
// taken; the engine it hands back took over the files' lock. Any exception
// has consumed the old engine, so the handle is gone then too.
JNIEXPORT jlong JNICALL Java_org_mero_db_NativeDatabase_compact(JNIEnv* env, jclass, jlong handle,
                                                                jobjectArray positions, jobjectArray error,
                                                                jintArray failure) {
  report(env, failure, kOutOfMemory);
  return guarded<jlong>(0, [&]() -> jlong {
    if (positions == nullptr || env->GetArrayLength(positions) < 2 || error == nullptr ||
        env->GetArrayLength(error) < 1)
      return handle;
    Database::Compaction result;
    std::unique_ptr<Database> db = Database::compact(std::unique_ptr<Database>(&engine(handle)), result);
    report(env, failure, db ? kOpened : codeOf(result.reopen));
    const auto after = reinterpret_cast<jlong>(db.release());
    if (after == 0) return 0;
    if (result.committed) {
      jintArray before = conv::newIntArray(env, result.oldPositions);
      jintArray now = before != nullptr ? conv::newIntArray(env, result.newPositions) : nullptr;
      if (now != nullptr) {
        env->SetObjectArrayElement(positions, 0, before);
        env->SetObjectArrayElement(positions, 1, now);
      }
      if (before != nullptr) env->DeleteLocalRef(before);
      if (now != nullptr) env->DeleteLocalRef(now);
    } else {
      std::string text = result.error;
      mero::makeValidModifiedUtf8(text);
      jstring why = env->NewStringUTF(text.c_str());
      if (why != nullptr) {
        env->SetObjectArrayElement(error, 0, why);
        env->DeleteLocalRef(why);
      }
    }
    return after;
  });
}

// Copies the files under the engine's lock into a new database at target.
// Returns 0 when copied, else 1 target exists, 2 target is this database,
// 3 another maker holds target, 4 failed; error[0] receives why.
JNIEXPORT jint JNICALL Java_org_mero_db_NativeDatabase_backup(JNIEnv* env, jclass, jlong handle, jstring target,
                                                              jobjectArray error) {
  return guarded<jint>(4, [&]() -> jint {
    std::string targetBase;
    if (!conv::copyString(env, target, targetBase) || error == nullptr || env->GetArrayLength(error) < 1) return 4;
    std::string why;
    const Database::BackupOutcome outcome =
        locked<Database::BackupOutcome>(handle, [&](Database& db) { return db.backupTo(targetBase, why); });
    if (outcome == Database::BackupOutcome::copied) return 0;
    mero::makeValidModifiedUtf8(why);
    jstring text = env->NewStringUTF(why.c_str());
    if (text != nullptr) {
      env->SetObjectArrayElement(error, 0, text);
      env->DeleteLocalRef(text);
    }
    switch (outcome) {
      case Database::BackupOutcome::targetExists:
        return 1;
      case Database::BackupOutcome::targetIsSource:
        return 2;
      case Database::BackupOutcome::targetInUse:
        return 3;
      default:
        return 4;
    }
  });
}

}  // extern "C"
