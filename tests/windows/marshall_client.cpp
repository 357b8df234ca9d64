#include "marshall_client.h"

#include "test_report.h"

namespace {

template <typename Function>
bool bindOne(HMODULE library, const char* name, Function& slot) {
  FARPROC address = GetProcAddress(library, name);
  report::check(address != nullptr, "the DLL does not export %s", name);
  slot = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
  return address != nullptr;
}

}  // namespace

bool NativeMethods::bind(HMODULE library) {
  bool all = true;
  all &= bindOne(library, "Java_DatabaseMarshall_register", registerName);
  all &= bindOne(library, "Java_DatabaseMarshall_unregister", unregister);
  all &= bindOne(library, "Java_DatabaseMarshall_define", define);
  all &= bindOne(library, "Java_DatabaseMarshall_open", open);
  all &= bindOne(library, "Java_DatabaseMarshall_close", close);
  all &= bindOne(library, "Java_DatabaseMarshall_numRecs", numRecs);
  all &= bindOne(library, "Java_DatabaseMarshall_getRecord__II", getRecordAt);
  all &= bindOne(library, "Java_DatabaseMarshall_getRecord__ILjava_lang_String_2", getRecordByKey);
  all &= bindOne(library, "Java_DatabaseMarshall_getPos", getPos);
  all &= bindOne(library, "Java_DatabaseMarshall_find", find);
  all &= bindOne(library, "Java_DatabaseMarshall_write", write);
  all &= bindOne(library, "Java_DatabaseMarshall_updateRecord", updateRecord);
  all &= bindOne(library, "Java_DatabaseMarshall_deleteRecord", deleteRecord);
  return all;
}

bool MarshallClient::toBool(jboolean result, const char* method) {
  report::check(result == JNI_TRUE || result == JNI_FALSE, "%s returned the jboolean %d", method, result);
  return result != JNI_FALSE;
}

std::vector<std::optional<std::string>> MarshallClient::elements(const Record& values) {
  return {values.begin(), values.end()};
}

int MarshallClient::registerName(const std::string& name) {
  NativeCall call(env_, "register");
  jobject self = env_.newReceiver();
  jstring arg = env_.newString(name);
  env_.nativeEntered();
  return native_.registerName(env_.jni(), self, arg);
}

bool MarshallClient::unregister(int id) {
  NativeCall call(env_, "unregister");
  jobject self = env_.newReceiver();
  env_.nativeEntered();
  return toBool(native_.unregister(env_.jni(), self, id), "unregister");
}

bool MarshallClient::define(int id, const std::vector<bool>& indexed, const Record& names) {
  NativeCall call(env_, "define");
  jobject self = env_.newReceiver();
  jbooleanArray flags = env_.newBooleanArray(indexed);
  jobjectArray fieldNames = env_.newStringArray(elements(names));
  env_.nativeEntered();
  return toBool(native_.define(env_.jni(), self, id, flags, fieldNames), "define");
}

bool MarshallClient::open(int id, const std::string& key, bool useKeyIndex) {
  NativeCall call(env_, "open");
  jobject self = env_.newReceiver();
  jstring keyArg = env_.newString(key);
  env_.nativeEntered();
  return toBool(native_.open(env_.jni(), self, id, keyArg, useKeyIndex ? JNI_TRUE : JNI_FALSE), "open");
}

bool MarshallClient::close(int id) {
  NativeCall call(env_, "close");
  jobject self = env_.newReceiver();
  env_.nativeEntered();
  return toBool(native_.close(env_.jni(), self, id), "close");
}

int MarshallClient::numRecs(int id) {
  NativeCall call(env_, "numRecs");
  jobject self = env_.newReceiver();
  env_.nativeEntered();
  return native_.numRecs(env_.jni(), self, id);
}

std::optional<Record> MarshallClient::getRecord(int id, int position) {
  NativeCall call(env_, "getRecord(int, int)");
  jobject self = env_.newReceiver();
  env_.nativeEntered();
  return env_.stringArray(native_.getRecordAt(env_.jni(), self, id, position));
}

std::optional<Record> MarshallClient::getRecord(int id, const std::string& key) {
  NativeCall call(env_, "getRecord(int, String)");
  jobject self = env_.newReceiver();
  jstring keyArg = env_.newString(key);
  env_.nativeEntered();
  return env_.stringArray(native_.getRecordByKey(env_.jni(), self, id, keyArg));
}

int MarshallClient::getPos(int id, const std::string& key) {
  NativeCall call(env_, "getPos");
  jobject self = env_.newReceiver();
  jstring keyArg = env_.newString(key);
  env_.nativeEntered();
  return native_.getPos(env_.jni(), self, id, keyArg);
}

std::optional<std::vector<int32_t>> MarshallClient::find(int id, const std::vector<bool>& partial,
                                                         const Record& terms) {
  NativeCall call(env_, "find");
  jobject self = env_.newReceiver();
  jbooleanArray flags = env_.newBooleanArray(partial);
  jobjectArray termArray = env_.newStringArray(elements(terms));
  env_.nativeEntered();
  return env_.intArray(native_.find(env_.jni(), self, id, flags, termArray));
}

int MarshallClient::write(int id, const Record& values) {
  NativeCall call(env_, "write");
  jobject self = env_.newReceiver();
  jobjectArray array = env_.newStringArray(elements(values));
  env_.nativeEntered();
  return native_.write(env_.jni(), self, id, array);
}

bool MarshallClient::updateRecord(int id, int position, const Record& values) {
  NativeCall call(env_, "updateRecord");
  jobject self = env_.newReceiver();
  jobjectArray array = env_.newStringArray(elements(values));
  env_.nativeEntered();
  return toBool(native_.updateRecord(env_.jni(), self, id, position, array), "updateRecord");
}

bool MarshallClient::deleteRecord(int id, int position) {
  NativeCall call(env_, "deleteRecord");
  jobject self = env_.newReceiver();
  env_.nativeEntered();
  return toBool(native_.deleteRecord(env_.jni(), self, id, position), "deleteRecord");
}
