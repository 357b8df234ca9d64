#include "jni/java_conversions.h"

#include <algorithm>

#include "foundation/modified_utf8.h"

namespace mero::jni {

namespace {
// Appends a string's modified UTF-8 bytes to out. The chars come over in
// pieces through a buffer on the stack, so no call allocates in the JVM or
// here beyond out itself; a surrogate pair split between pieces is no
// matter, since each half is written on its own.
bool appendString(JNIEnv* env, jstring string, std::string& out) {
  constexpr jsize kPieceChars = 256;
  jchar piece[kPieceChars];
  const jsize length = env->GetStringLength(string);
  for (jsize at = 0; at < length; at += kPieceChars) {
    const jsize n = std::min(kPieceChars, length - at);
    env->GetStringRegion(string, at, n, piece);
    appendModifiedUtf8(reinterpret_cast<const char16_t*>(piece), static_cast<size_t>(n), out);
  }
  return !env->ExceptionCheck();
}

// Calls add(i, bytes) for each element's bytes, dropping each local
// reference at once so that arrays of any length stay within the JVM's local
// frame.
template <typename Add>
bool forEachString(JNIEnv* env, jobjectArray array, Add add) {
  if (array == nullptr) return false;
  thread_local std::string bytes;
  const jsize n = env->GetArrayLength(array);
  bool copied = true;
  for (jsize i = 0; copied && i < n; ++i) {
    auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
    if (element == nullptr) return false;
    bytes.clear();
    copied = appendString(env, element, bytes);
    env->DeleteLocalRef(element);
    if (copied) add(i, std::string_view(bytes));
  }
  releaseIfLarge(bytes);
  return copied;
}
}  // namespace

bool copyString(JNIEnv* env, jstring string, std::string& out) {
  out.clear();
  return string != nullptr && appendString(env, string, out);
}

bool copyStringArray(JNIEnv* env, jobjectArray array, FieldValues& out) {
  out.clear();
  return forEachString(env, array, [&](jsize, std::string_view bytes) { out.add(bytes); });
}

bool copyStringArray(JNIEnv* env, jobjectArray array, DbArray<DbString>& out) {
  if (array == nullptr) return false;
  out.resize(env->GetArrayLength(array));
  return forEachString(env, array, [&](jsize i, std::string_view bytes) { out.at(i) = DbString(bytes); });
}

bool copyByteArray(JNIEnv* env, jbyteArray array, std::string& out) {
  out.clear();
  if (array == nullptr) return false;
  out.resize(static_cast<size_t>(env->GetArrayLength(array)));
  if (!out.empty())
    env->GetByteArrayRegion(array, 0, static_cast<jsize>(out.size()), reinterpret_cast<jbyte*>(out.data()));
  return !env->ExceptionCheck();
}

bool copyIntArray(JNIEnv* env, jintArray array, std::vector<int32_t>& out) {
  out.clear();
  if (array == nullptr) return false;
  out.resize(static_cast<size_t>(env->GetArrayLength(array)));
  if (!out.empty())
    env->GetIntArrayRegion(array, 0, static_cast<jsize>(out.size()), reinterpret_cast<jint*>(out.data()));
  return !env->ExceptionCheck();
}

bool copyBooleanArray(JNIEnv* env, jbooleanArray array, std::vector<uint8_t>& out) {
  out.clear();
  if (array == nullptr) return false;
  const jsize n = env->GetArrayLength(array);
  jboolean* elements = env->GetBooleanArrayElements(array, nullptr);
  if (elements == nullptr) return false;
  out.resize(static_cast<size_t>(n));
  for (jsize i = 0; i < n; ++i) out[static_cast<size_t>(i)] = elements[i] != 0 ? 1 : 0;
  env->ReleaseBooleanArrayElements(array, elements, 0);
  return true;
}

namespace {
// A system class, looked up once per process and held by a global
// reference, so building a record array costs no class lookup.
jclass globalClass(JNIEnv* env, const char* name) {
  jclass local = env->FindClass(name);
  if (local == nullptr) return nullptr;
  auto global = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  return global;
}

jclass stringClass(JNIEnv* env) {
  static const jclass cached = globalClass(env, "java/lang/String");
  return cached;
}
}  // namespace

jclass stringArrayClass(JNIEnv* env) {
  static const jclass cached = globalClass(env, "[Ljava/lang/String;");
  return cached;
}

jobjectArray newStringArray(JNIEnv* env, const FieldValues& values) {
  const jclass elementClass = stringClass(env);
  if (elementClass == nullptr) return nullptr;
  // Every element is set below, so the array never hands out a null.
  jobjectArray array = env->NewObjectArray(values.size(), elementClass, nullptr);
  if (array == nullptr) return nullptr;
  // The caller returns to the JVM (or pops its frame) right after, which
  // frees the elements' local references; only a record of more fields
  // than the frame is sure to hold releases each as it goes.
  const bool releaseEach = values.size() > kKeptElementReferences;
  std::string repaired;
  for (int32_t i = 0; i < values.size(); ++i) {
    const std::string_view value = values[i];
    const char* text = value.data();  // zero-terminated by FieldValues
    if (!isValidModifiedUtf8(value)) {
      repaired.assign(value);
      makeValidModifiedUtf8(repaired);
      text = repaired.c_str();
    }
    jstring element = env->NewStringUTF(text);
    if (element == nullptr) {
      env->DeleteLocalRef(array);
      return nullptr;
    }
    env->SetObjectArrayElement(array, i, element);
    if (releaseEach) env->DeleteLocalRef(element);
  }
  return array;
}

jbooleanArray newBooleanArray(JNIEnv* env, const std::vector<uint8_t>& flags) {
  const auto n = static_cast<jsize>(flags.size());
  jbooleanArray array = env->NewBooleanArray(n);
  if (array == nullptr) return nullptr;
  for (jsize i = 0; i < n; ++i) {
    const jboolean flag = flags[static_cast<size_t>(i)] != 0 ? JNI_TRUE : JNI_FALSE;
    env->SetBooleanArrayRegion(array, i, 1, &flag);
  }
  return array;
}

jintArray newIntArray(JNIEnv* env, const std::vector<int32_t>& values) {
  const auto n = static_cast<jsize>(values.size());
  jintArray array = env->NewIntArray(n);
  if (array != nullptr && n > 0) env->SetIntArrayRegion(array, 0, n, reinterpret_cast<const jint*>(values.data()));
  return array;
}

}  // namespace mero::jni
