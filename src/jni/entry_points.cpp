// The thirteen native methods of DatabaseMarshall. Each is a thin adapter:
// convert the arguments, call the registry or the engine, convert the result.
// No C++ exception leaves this file: anything thrown (memory exhaustion) turns
// into the method's failure result.

#include <jni.h>

#include <string>
#include <vector>

#include "engine/database.h"
#include "jni/database_registry.h"
#include "jni/java_conversions.h"

using mero::Database;
using mero::DatabaseRegistry;
using mero::DbArray;
using mero::DbString;
using mero::FieldValues;
using mero::LockGuard;
namespace conv = mero::jni;

namespace {

template <typename Result, typename Body>
Result guarded(Result failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

DatabaseRegistry& registry() { return DatabaseRegistry::instance(); }

// Per-thread buffers for the values of one call, so that the hot methods
// allocate only when a larger record than before comes along.
FieldValues& threadValues() {
  thread_local FieldValues values;
  return values;
}

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
    return registry().define(id, flagArray, names);
  });
}

JNIEXPORT jboolean JNICALL Java_DatabaseMarshall_open(JNIEnv* env, jobject, jint id, jstring key,
                                                      jboolean useKeyIndex) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    std::string keyBytes;
    if (!conv::copyString(env, key, keyBytes)) return JNI_FALSE;
    return registry().open(id, keyBytes, useKeyIndex == JNI_TRUE);
  });
}

JNIEXPORT jboolean JNICALL Java_DatabaseMarshall_close(JNIEnv*, jobject, jint id) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean { return registry().close(id); });
}

JNIEXPORT jint JNICALL Java_DatabaseMarshall_numRecs(JNIEnv*, jobject, jint id) {
  return guarded<jint>(0, [&]() -> jint {
    const std::shared_ptr<Database> db = registry().lookup(id);
    if (!db) return 0;
    LockGuard guard(db->lock());
    return db->numRecs();
  });
}

JNIEXPORT jobjectArray JNICALL Java_DatabaseMarshall_getRecord__II(JNIEnv* env, jobject, jint id,
                                                                    jint position) {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    if (position < 0) return nullptr;
    const std::shared_ptr<Database> db = registry().lookup(id);
    if (!db) return nullptr;
    FieldValues& values = threadValues();
    LockGuard guard(db->lock());
    if (!db->getRecord(position, values)) return nullptr;
    return conv::newStringArray(env, values);
  });
}

JNIEXPORT jobjectArray JNICALL Java_DatabaseMarshall_getRecord__ILjava_lang_String_2(JNIEnv* env, jobject,
                                                                                      jint id, jstring key) {
  return guarded<jobjectArray>(nullptr, [&]() -> jobjectArray {
    thread_local std::string keyBytes;
    if (!conv::copyString(env, key, keyBytes)) return nullptr;
    const std::shared_ptr<Database> db = registry().lookup(id);
    if (!db) return nullptr;
    FieldValues& values = threadValues();
    LockGuard guard(db->lock());
    if (!db->getRecordByKey(keyBytes, values)) return nullptr;
    return conv::newStringArray(env, values);
  });
}

JNIEXPORT jint JNICALL Java_DatabaseMarshall_getPos(JNIEnv* env, jobject, jint id, jstring key) {
  return guarded<jint>(-1, [&]() -> jint {
    thread_local std::string keyBytes;
    if (!conv::copyString(env, key, keyBytes)) return -1;
    const std::shared_ptr<Database> db = registry().lookup(id);
    if (!db) return -1;
    LockGuard guard(db->lock());
    return db->getPos(keyBytes);
  });
}

JNIEXPORT jintArray JNICALL Java_DatabaseMarshall_find(JNIEnv* env, jobject, jint id, jbooleanArray partial,
                                                       jobjectArray terms) {
  const auto empty = [env]() { return env->NewIntArray(0); };
  return guarded<jintArray>(nullptr, [&]() -> jintArray {
    if (partial == nullptr || terms == nullptr) return empty();
    if (env->GetArrayLength(partial) != env->GetArrayLength(terms)) return empty();
    std::vector<uint8_t> flags;
    FieldValues& termValues = threadValues();
    if (!conv::copyBooleanArray(env, partial, flags) || !conv::copyStringArray(env, terms, termValues))
      return empty();
    const std::shared_ptr<Database> db = registry().lookup(id);
    if (!db) return empty();
    std::vector<int32_t> positions;
    {
      LockGuard guard(db->lock());
      positions = db->find(flags, termValues);
    }
    return conv::newIntArray(env, positions);
  });
}

JNIEXPORT jint JNICALL Java_DatabaseMarshall_write(JNIEnv* env, jobject, jint id, jobjectArray values) {
  return guarded<jint>(static_cast<jint>(mero::WriteStatus::notStored), [&]() -> jint {
    FieldValues& copied = threadValues();
    if (!conv::copyStringArray(env, values, copied)) return static_cast<jint>(mero::WriteStatus::wrongFieldCount);
    const std::shared_ptr<Database> db = registry().lookup(id);
    if (!db) return static_cast<jint>(mero::WriteStatus::notStored);
    if (copied.size() != db->fieldCount()) return static_cast<jint>(mero::WriteStatus::wrongFieldCount);
    LockGuard guard(db->lock());
    return static_cast<jint>(db->write(copied));
  });
}

JNIEXPORT jboolean JNICALL Java_DatabaseMarshall_updateRecord(JNIEnv* env, jobject, jint id, jint position,
                                                              jobjectArray values) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    if (position < 0) return JNI_FALSE;
    FieldValues& copied = threadValues();
    if (!conv::copyStringArray(env, values, copied)) return JNI_FALSE;
    const std::shared_ptr<Database> db = registry().lookup(id);
    if (!db || copied.size() != db->fieldCount()) return JNI_FALSE;
    LockGuard guard(db->lock());
    return db->updateRecord(position, copied);
  });
}

JNIEXPORT jboolean JNICALL Java_DatabaseMarshall_deleteRecord(JNIEnv*, jobject, jint id, jint position) {
  return guarded<jboolean>(JNI_FALSE, [&]() -> jboolean {
    const std::shared_ptr<Database> db = registry().lookup(id);
    if (!db) return JNI_FALSE;
    LockGuard guard(db->lock());
    return db->deleteRecord(position);
  });
}

}  // extern "C"
