#pragma once
// Every conversion between Java values and the engine's lives here, one
// helper per kind. Each releases what it fetched from the JVM on every path
// and reports a null argument (or null element) by returning false.

#include <jni.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/field_values.h"
#include "foundation/db_array.h"
#include "foundation/db_string.h"

namespace mero::jni {

// String -> its modified UTF-8 bytes.
bool copyString(JNIEnv* env, jstring string, std::string& out);
// String[] -> one value per element.
bool copyStringArray(JNIEnv* env, jobjectArray array, FieldValues& out);
bool copyStringArray(JNIEnv* env, jobjectArray array, DbArray<DbString>& out);
// byte[] -> its bytes.
bool copyByteArray(JNIEnv* env, jbyteArray array, std::string& out);
// int[] -> its elements.
bool copyIntArray(JNIEnv* env, jintArray array, std::vector<int32_t>& out);
// boolean[] -> 1 for true, 0 for false.
bool copyBooleanArray(JNIEnv* env, jbooleanArray array, std::vector<uint8_t>& out);

// Values -> String[] of exactly values.size() elements, never a null element.
// Bytes that are not valid modified UTF-8 (a record read with the wrong key
// can hold any bytes) are replaced (makeValidModifiedUtf8), so the JVM is
// never handed invalid text. Up to kKeptElementReferences elements keep
// their local references until the native call returns (or the caller's
// local frame is popped): with the array's, that stays within the 16 local
// references the JVM guarantees every native call.
constexpr int32_t kKeptElementReferences = 15;
jobjectArray newStringArray(JNIEnv* env, const FieldValues& values);
// Flags -> boolean[].
jbooleanArray newBooleanArray(JNIEnv* env, const std::vector<uint8_t>& flags);
// Positions -> int[].
jintArray newIntArray(JNIEnv* env, const std::vector<int32_t>& values);

// Records -> String[][] of `count` elements, element i the values that
// read(i, values) fills in. Null when read answers false (nothing is kept)
// or the JVM is out of memory (an exception is pending).
jclass stringArrayClass(JNIEnv* env);
template <typename Read>
jobjectArray newRecordArray(JNIEnv* env, jsize count, FieldValues& values, Read read) {
  const jclass elementClass = stringArrayClass(env);
  if (elementClass == nullptr) return nullptr;
  jobjectArray array = env->NewObjectArray(count, elementClass, nullptr);
  if (array == nullptr) return nullptr;
  for (jsize i = 0; i < count; ++i) {
    // Each record's references live in a frame of their own, popped at
    // once: a record array of any length holds one reference at a time.
    if (env->PushLocalFrame(kKeptElementReferences + 2) != 0) {
      env->DeleteLocalRef(array);
      return nullptr;
    }
    jobject record = env->PopLocalFrame(read(i, values) ? newStringArray(env, values) : nullptr);
    if (record == nullptr) {
      env->DeleteLocalRef(array);
      return nullptr;
    }
    env->SetObjectArrayElement(array, i, record);
    env->DeleteLocalRef(record);
  }
  return array;
}

}  // namespace mero::jni
