// Drives MERO_Database.dll (through the stand-in JNI) from several processes
// at once under Wine, for what one scenario in one process cannot show: the
// files' lock between processes, and the sync modes' flushes.
//
// Usage: wine_probe LIBRARY MODE ...
//   hold BASE         defines and opens BASE, appends the record [held],
//                     prints "held PID" and waits to be killed;
//   refused BASE      opens BASE under several spellings of its path, in
//                     a new id each: every open must be refused;
//   reopen PID BASE   waits for process PID to end, then opens BASE, which
//                     must hold [held], and appends to it;
//   durable BASE      in the sync mode MERO_SYNC names: appends, updates
//                     in place across sectors, deletes, closes; each
//                     must succeed and read back after reopening;
//   api BASE          the packaged API's library (mero_java.dll, beside
//                     LIBRARY) opens, appends, reads, counts and closes, and
//                     the two libraries refuse each other's open files.
// Prints each failure; exit status 0 when there was none, 1 otherwise, 2 on
// a usage or load error.

#include <jni.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "fake_jni.h"

namespace {

using Strings = std::optional<std::vector<std::optional<std::string>>>;

HMODULE library = nullptr;
int failures = 0;

constexpr const char* kRaw = "Java_DatabaseMarshall_";
constexpr const char* kApi = "Java_org_mero_db_NativeDatabase_";
constexpr jint kApiFull = 2;    // the packaged API's sync mode FULL
constexpr jint kApiLocked = 8;  // its failure code for files held elsewhere

void fail(const std::string& what) {
  std::printf("FAIL: %s\n", what.c_str());
  ++failures;
}

// One export of module called (the calling object or class null, as the
// libraries never use it).
template <typename Result, typename... Args>
Result call(HMODULE module, const char* prefix, fakejni::Env& env, const char* method, Args... args) {
  const std::string name = std::string(prefix) + method;
  auto* address = reinterpret_cast<Result(JNICALL*)(JNIEnv*, jobject, Args...)>(
      reinterpret_cast<void*>(GetProcAddress(module, name.c_str())));
  if (address == nullptr) std::printf("the library does not export %s\n", name.c_str()), std::exit(2);
  return address(env.jni(), nullptr, args...);
}

template <typename Result, typename... Args>
Result call(fakejni::Env& env, const char* method, Args... args) {
  return call<Result>(library, kRaw, env, method, args...);
}

// The calls a test makes on one id, each checked for the stand-in's complaints.
class Handle {
 public:
  explicit Handle(const std::string& base) { id_ = call<jint>(env_, "register", env_.string(base)), settle(); }
  ~Handle() { call<jboolean>(env_, "unregister", id_), settle(); }

  bool define() {
    return settle(call<jboolean>(env_, "define", id_, env_.booleans(std::vector<bool>{true, false}),
                                 env_.strings(Strings{{"key", "value"}}))) == JNI_TRUE;
  }
  bool open() { return settle(call<jboolean>(env_, "open", id_, env_.string("k"), jboolean{JNI_TRUE})) == JNI_TRUE; }
  bool close() { return settle(call<jboolean>(env_, "close", id_)) == JNI_TRUE; }
  int32_t write(const std::string& key, const std::string& value) {
    return settle(call<jint>(env_, "write", id_, env_.strings(Strings{{key, value}})));
  }
  bool update(int32_t position, const std::string& key, const std::string& value) {
    return settle(call<jboolean>(env_, "updateRecord", id_, jint{position}, env_.strings(Strings{{key, value}}))) ==
           JNI_TRUE;
  }
  bool remove(int32_t position) {
    return settle(call<jboolean>(env_, "deleteRecord", id_, jint{position})) == JNI_TRUE;
  }
  int32_t count() { return settle(call<jint>(env_, "numRecs", id_)); }
  int32_t positionOf(const std::string& key) { return settle(call<jint>(env_, "getPos", id_, env_.string(key))); }
  // The record's value, or nothing when no record has the key.
  std::optional<std::string> valueOf(const std::string& key) {
    const auto fields =
        env_.stringsOf(call<jobjectArray>(env_, "getRecord__ILjava_lang_String_2", id_, env_.string(key)));
    settle();
    if (!fields || fields->size() < 2) return std::nullopt;
    return (*fields)[1];
  }

 private:
  template <typename T>
  T settle(T result) {
    settle();
    return result;
  }
  void settle() {
    for (const std::string& complaint : env_.endCall()) fail("stand-in JNI: " + complaint);
  }

  fakejni::Env env_;
  jint id_ = 0;
};

int hold(const std::string& base) {
  Handle db(base);
  if (!db.define() || !db.open() || db.write("held", "by the holder") < 0) {
    std::printf("FAIL: the holder could not open %s\n", base.c_str());
    return 1;
  }
  std::printf("held %lu\n", GetCurrentProcessId());
  std::fflush(stdout);
  for (;;) Sleep(INFINITE);
}

// The same files named other ways: another relative form, the other
// separator, another case (Windows names ignore case) and the full path.
std::vector<std::string> spellingsOf(const std::string& base) {
  std::string backslashed = base, upper = base;
  std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  char full[MAX_PATH] = {};
  GetFullPathNameA(base.c_str(), MAX_PATH, full, nullptr);
  return {base, ".\\" + backslashed, backslashed, upper, full};
}

int refused(const std::string& base) {
  for (const std::string& spelling : spellingsOf(base)) {
    Handle db(spelling);
    if (db.open()) fail("a second process opened the held files as " + spelling);
    if (db.valueOf("held")) fail("a refused open read a record through " + spelling);
    if (db.define()) fail("a refused open defined the held files through " + spelling);
  }
  std::printf("%d spellings refused\n", static_cast<int>(spellingsOf(base).size()));
  return failures == 0 ? 0 : 1;
}

int reopen(unsigned long pid, const std::string& base) {
  // The holder's handle is signalled only once the system has torn the
  // process down, its handles and their locks with it.
  if (HANDLE holder = OpenProcess(SYNCHRONIZE, FALSE, pid)) {
    WaitForSingleObject(holder, INFINITE);
    CloseHandle(holder);
  }
  Handle db(base);
  if (!db.open()) return fail("the files stayed locked after their holder died"), 1;
  if (db.valueOf("held") != "by the holder") fail("the holder's record is gone");
  if (db.write("after", "the holder") < 0 || !db.close()) fail("the files could not be written after the holder died");
  std::printf("reopened after the holder died\n");
  return failures == 0 ? 0 : 1;
}

int durable(const std::string& base) {
  // A value across sectors, so that FULL updates it in place through the
  // rollback journal; few records, as FULL waits for the disk at each.
  const std::string before(3000, 'b'), after(3000, 'a');
  {
    Handle db(base);
    if (!db.define() || !db.open()) return fail("define or open failed"), 1;
    for (int i = 0; i < 10; ++i)
      if (db.write("k" + std::to_string(i), i == 5 ? before : "v") < 0) return fail("an append failed"), 1;
    // The second journal is shorter than the first, so the file the first
    // left zeroed is cut to it; the third update is longer and moves.
    if (!db.update(db.positionOf("k5"), "k5", std::string(3000, 'c')) ||
        !db.update(db.positionOf("k5"), "k5", std::string(2000, 'd')) || !db.update(db.positionOf("k5"), "k5", after))
      fail("the update across sectors failed");
    if (!db.remove(db.positionOf("k0"))) fail("the delete failed");
    if (!db.close()) fail("close reported that the files did not reach the disk");
  }
  if (GetFileAttributesA((base + ".journal").c_str()) != INVALID_FILE_ATTRIBUTES) fail("close left the journal's file");
  Handle db(base);
  if (!db.open()) return fail("the files did not open again"), 1;
  if (db.count() != 9 || db.valueOf("k0") || db.valueOf("k5") != after || db.valueOf("k9") != "v")
    fail("the files read back other than written");
  if (!db.close()) fail("the second close failed");
  std::printf("durable: every call succeeded and read back\n");
  return failures == 0 ? 0 : 1;
}

// The packaged API's library on the same engine: open with a schema, append,
// read, count, close and open again; and one engine per set of files across
// the two libraries of one process, as in a JVM that loads both.
int api(const std::string& base) {
  HMODULE javaApi = LoadLibraryA("mero_java.dll");
  if (javaApi == nullptr) return std::printf("cannot load mero_java.dll\n"), 2;
  // A library that can report its sync mode (it exports syncMode) takes the
  // mode to open with as open's fourth argument.
  const bool takesSyncMode = GetProcAddress(javaApi, (std::string(kApi) + "syncMode").c_str()) != nullptr;
  // open's last argument (String[1]) takes a refusal's message; a library
  // whose open has no such argument ignores it.
  const auto open = [&](fakejni::Env& env, bool withSchema, jint& code) {
    const jintArray failure = env.ints({-1});
    const jobjectArray said = env.strings(std::vector<std::optional<std::string>>(1));
    const jstring name = env.string(base), key = env.string("k");
    const jbooleanArray indexed = withSchema ? env.booleans(std::vector<bool>{true, false}) : nullptr;
    const jobjectArray names = withSchema ? env.strings(Strings{{"key", "value"}}) : nullptr;
    const jlong handle = takesSyncMode ? call<jlong>(javaApi, kApi, env, "open", name, key, jboolean{JNI_TRUE},
                                                     kApiFull, indexed, names, failure, said)
                                       : call<jlong>(javaApi, kApi, env, "open", name, key, jboolean{JNI_TRUE}, indexed,
                                                     names, failure, said);
    code = env.intsOf(failure)->at(0);
    return handle;
  };
  fakejni::Env env;
  const auto settle = [&] {
    for (const std::string& complaint : env.endCall()) fail("stand-in JNI: " + complaint);
  };
  jint code = -1;
  jlong handle = open(env, true, code);
  settle();
  if (handle == 0) return fail("the packaged API's open failed with code " + std::to_string(code)), 1;
  const jint position = call<jint>(javaApi, kApi, env, "append", handle, env.strings(Strings{{"a", "1"}}));
  settle();
  const auto read = env.stringsOf(call<jobjectArray>(javaApi, kApi, env, "read", handle, jint{position}));
  settle();
  if (position < 0 || read != std::vector<std::string>{"a", "1"}) fail("the packaged API did not read back its append");
  if (call<jint>(javaApi, kApi, env, "count", handle) != 1) fail("the packaged API counted other than 1 record");
  {
    Handle marshall(base);
    if (marshall.open()) fail("the raw interface opened files the packaged API holds");
  }
  call<void>(javaApi, kApi, env, "close", handle);
  settle();
  {
    Handle marshall(base);
    if (!marshall.open() || marshall.valueOf("a") != "1") fail("the raw interface did not read the API's record");
    if (open(env, false, code) != 0 || code != kApiLocked)
      fail("the packaged API opened files the raw interface holds");
    settle();
    marshall.close();
  }
  handle = open(env, false, code);
  settle();
  if (handle == 0) return fail("the packaged API did not open its files again"), 1;
  call<void>(javaApi, kApi, env, "close", handle);
  settle();
  std::printf("packaged API: open, append, read, count, close and the shared lock work\n");
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> a(argv, argv + argc);
  const auto usage = [&] {
    return std::printf("usage: %s LIBRARY hold|refused|durable|api BASE | reopen PID BASE\n", argv[0]), 2;
  };
  if (argc < 4) return usage();
  library = LoadLibraryA(argv[1]);
  if (library == nullptr) return std::printf("cannot load %s\n", argv[1]), 2;
  if (a[2] == "hold") return hold(a[3]);
  if (a[2] == "refused") return refused(a[3]);
  if (a[2] == "durable") return durable(a[3]);
  if (a[2] == "api") return api(a[3]);
  if (a[2] == "reopen" && argc == 5) return reopen(std::stoul(a[3]), a[4]);
  return usage();
}
