// The thirteen native methods of DatabaseMarshall. Each is a thin adapter:
// convert the arguments, call the registry or the engine, convert the result.
// No C++ exception leaves this file: anything thrown (memory exhaustion) turns
// into the method's failure result.

#include <jni.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/database.h"
#include "jni/call_frame.h"
#include "jni/database_registry.h"
#include "jni/java_conversions.h"

using mero::Database;
using mero::DatabaseRegistry;
using mero::DbArray;
using mero::DbString;
using mero::FieldValues;
using mero::jni::BorrowedBuffers;
using mero::jni::guarded;
namespace conv = mero::jni;

namespace {

DatabaseRegistry& registry() { return DatabaseRegistry::instance(); }

// The sync mode of define and open: MERO_SYNC=OFF, CLOSE or FULL, in any
// case; unset or anything else is CLOSE.
mero::SyncMode syncMode() { return mero::syncModeNamed(std::getenv("MERO_SYNC")); }

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_DatabaseMarshall_register(JNIEnv* env, jobject, jstring name) {
  return guarded<jint>(-1, [&]() -> jint {
    std::string bytes;
    if (!conv::copyString(env, name, bytes)) return -1;
    return registry().registerName(bytes);
  });
}

JNIEXPORT jboolean JNICALL Java_DatabaseMarshall_unregister(JNIEnv*, jobject, jint id) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean { return registry().unregister(id); });
}

JNIEXPORT jboolean JNICALL Java_DatabaseMarshall_define(JNIEnv* env, jobject, jint id, jbooleanArray indexed,
                                                        jobjectArray fieldNames) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    if (indexed == nullptr || fieldNames == nullptr) return JNI_FALSE;
    if (env->GetArrayLength(indexed) != env->GetArrayLength(fieldNames)) return JNI_FALSE;
    std::vector<uint8_t> flags;
    DbArray<DbString> names;
    if (!conv::copyBooleanArray(env, indexed, flags) || !conv::copyStringArray(env, fieldNames, names))
      return JNI_FALSE;
    DbArray<uint8_t> flagArray(static_cast<int32_t>(flags.size()), 0);
    for (size_t i = 0; i < flags.size(); ++i) flagArray.at(static_cast<int32_t>(i)) = flags[i];
    return registry().define(id, flagArray, names, syncMode());
  });
}

JNIEXPORT jboolean JNICALL Java_DatabaseMarshall_open(JNIEnv* env, jobject, jint id, jstring key,
                                                      jboolean useKeyIndex) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    std::string keyBytes;
    if (!conv::copyString(env, key, keyBytes)) return JNI_FALSE;
    return registry().open(id, keyBytes, useKeyIndex == JNI_TRUE, syncMode());
  });
}

JNIEXPORT jboolean JNICALL Java_DatabaseMarshall_close(JNIEnv*, jobject, jint id) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean { return registry().close(id); });
}

JNIEXPORT jint JNICALL Java_DatabaseMarshall_numRecs(JNIEnv*, jobject, jint id) {
  return guarded<jint>(
      0, [&]() -> jint { return registry().withOpen(id, jint{0}, [](Database& db) -> jint { return db.numRecs(); }); });
}

JNIEXPORT jobjectArray JNICALL Java_DatabaseMarshall_getRecord__II(JNIEnv* env, jobject, jint id, jint position) {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    BorrowedBuffers buffers;
    FieldValues& values = buffers.values();
    const bool found = registry().withOpen(id, false, [&](Database& db) { return db.getRecord(position, values); });
    return found ? conv::newStringArray(env, values) : nullptr;
  });
}

JNIEXPORT jobjectArray JNICALL Java_DatabaseMarshall_getRecord__ILjava_lang_String_2(JNIEnv* env, jobject, jint id,
                                                                                     jstring key) {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    BorrowedBuffers buffers;
    if (!conv::copyString(env, key, buffers.key())) return nullptr;
    FieldValues& values = buffers.values();
    const bool found =
        registry().withOpen(id, false, [&](Database& db) { return db.getRecordByKey(buffers.key(), values); });
    return found ? conv::newStringArray(env, values) : nullptr;
  });
}

JNIEXPORT jint JNICALL Java_DatabaseMarshall_getPos(JNIEnv* env, jobject, jint id, jstring key) {
  return guarded<jint>(-1, [&]() -> jint {
    BorrowedBuffers buffers;
    if (!conv::copyString(env, key, buffers.key())) return -1;
    return registry().withOpen(id, jint{-1}, [&](Database& db) -> jint { return db.getPos(buffers.key()); });
  });
}

JNIEXPORT jintArray JNICALL Java_DatabaseMarshall_find(JNIEnv* env, jobject, jint id, jbooleanArray partial,
                                                       jobjectArray terms) {
  const auto empty = [env]() { return env->NewIntArray(0); };
  return guarded<jintArray>(nullptr, [&]() -> jintArray {
    if (partial == nullptr || terms == nullptr) return empty();
    if (env->GetArrayLength(partial) != env->GetArrayLength(terms)) return empty();
    BorrowedBuffers buffers;
    std::vector<uint8_t> flags;
    FieldValues& termValues = buffers.values();
    if (!conv::copyBooleanArray(env, partial, flags) || !conv::copyStringArray(env, terms, termValues)) return empty();
    const std::vector<int32_t> positions =
        registry().withOpen(id, std::vector<int32_t>{}, [&](Database& db) { return db.find(flags, termValues); });
    return conv::newIntArray(env, positions);
  });
}

JNIEXPORT jint JNICALL Java_DatabaseMarshall_write(JNIEnv* env, jobject, jint id, jobjectArray values) {
  using mero::WriteStatus;
  return guarded<jint>(static_cast<jint>(WriteStatus::notStored), [&]() -> jint {
    BorrowedBuffers buffers;
    FieldValues& copied = buffers.values();
    if (!conv::copyStringArray(env, values, copied)) return static_cast<jint>(WriteStatus::wrongFieldCount);
    return static_cast<jint>(
        registry().withOpen(id, WriteStatus::notStored, [&](Database& db) { return db.write(copied); }));
  });
}

JNIEXPORT jboolean JNICALL Java_DatabaseMarshall_updateRecord(JNIEnv* env, jobject, jint id, jint position,
                                                              jobjectArray values) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    BorrowedBuffers buffers;
    FieldValues& copied = buffers.values();
    if (!conv::copyStringArray(env, values, copied)) return JNI_FALSE;
    return registry().withOpen(id, false, [&](Database& db) { return db.updateRecord(position, copied); });
  });
}

JNIEXPORT jboolean JNICALL Java_DatabaseMarshall_deleteRecord(JNIEnv*, jobject, jint id, jint position) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    return registry().withOpen(id, false, [&](Database& db) { return db.deleteRecord(position); });
  });
}

}  // extern "C"
