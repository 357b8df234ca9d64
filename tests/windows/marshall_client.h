#pragma once
// The library's thirteen exports, bound by name from the loaded DLL, and a
// client that calls them the way the Java class does: arguments made as Java
// objects in the stand-in VM, one native call per method, results read back
// and the call's references dropped afterwards.

#include <windows.h>

#include <jni.h>

#include <optional>
#include <string>
#include <vector>

#include "fake_jni.h"

using Record = std::vector<std::string>;

struct NativeMethods {
  jint(JNICALL* registerName)(JNIEnv*, jobject, jstring) = nullptr;
  jboolean(JNICALL* unregister)(JNIEnv*, jobject, jint) = nullptr;
  jboolean(JNICALL* define)(JNIEnv*, jobject, jint, jbooleanArray, jobjectArray) = nullptr;
  jboolean(JNICALL* open)(JNIEnv*, jobject, jint, jstring, jboolean) = nullptr;
  jboolean(JNICALL* close)(JNIEnv*, jobject, jint) = nullptr;
  jint(JNICALL* numRecs)(JNIEnv*, jobject, jint) = nullptr;
  jobjectArray(JNICALL* getRecordAt)(JNIEnv*, jobject, jint, jint) = nullptr;
  jobjectArray(JNICALL* getRecordByKey)(JNIEnv*, jobject, jint, jstring) = nullptr;
  jint(JNICALL* getPos)(JNIEnv*, jobject, jint, jstring) = nullptr;
  jintArray(JNICALL* find)(JNIEnv*, jobject, jint, jbooleanArray, jobjectArray) = nullptr;
  jint(JNICALL* write)(JNIEnv*, jobject, jint, jobjectArray) = nullptr;
  jboolean(JNICALL* updateRecord)(JNIEnv*, jobject, jint, jint, jobjectArray) = nullptr;
  jboolean(JNICALL* deleteRecord)(JNIEnv*, jobject, jint, jint) = nullptr;

  // Binds every export of the library; false (with a failure reported for
  // each missing name) unless all thirteen were found.
  bool bind(HMODULE library);
};

// Plays the Java side on one thread, with that thread's environment.
class MarshallClient {
 public:
  explicit MarshallClient(const NativeMethods& methods) : native_(methods) {}

  int registerName(const std::string& name);
  bool unregister(int id);
  bool define(int id, const std::vector<bool>& indexed, const Record& names);
  bool open(int id, const std::string& key, bool useKeyIndex);
  bool close(int id);
  int numRecs(int id);
  std::optional<Record> getRecord(int id, int position);
  std::optional<Record> getRecord(int id, const std::string& key);
  int getPos(int id, const std::string& key);
  std::optional<std::vector<int32_t>> find(int id, const std::vector<bool>& partial, const Record& terms);
  int write(int id, const Record& values);
  bool updateRecord(int id, int position, const Record& values);
  bool deleteRecord(int id, int position);

  // Arguments as Java would pass them, nulls included.
  fakejni::Env& env() { return env_; }
  const NativeMethods& native() const { return native_; }

 private:
  bool toBool(jboolean result, const char* method);
  std::vector<std::optional<std::string>> elements(const Record& values);

  const NativeMethods& native_;
  fakejni::Env env_;
};

// One native call in the stand-in VM: begins it, and ends it (reporting
// unreleased buffers, dropping references) when it goes out of scope.
class NativeCall {
 public:
  NativeCall(fakejni::Env& env, const char* method) : env_(env) { env_.beginCall(method); }
  ~NativeCall() { env_.endCall(); }
  NativeCall(const NativeCall&) = delete;
  NativeCall& operator=(const NativeCall&) = delete;

 private:
  fakejni::Env& env_;
};
