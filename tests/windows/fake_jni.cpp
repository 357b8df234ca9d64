#include "fake_jni.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "test_report.h"

namespace fakejni {

struct Object {
  enum class Kind { receiver, string, stringClass, objectArray, booleanArray, intArray };
  explicit Object(Kind k) : kind(k) {}
  Kind kind;
  std::string utf;                    // string: its modified UTF-8 bytes
  std::vector<ObjectPtr> elements;    // objectArray (String[] only)
  std::vector<jboolean> booleans;     // booleanArray
  std::vector<jint> ints;             // intArray
};

namespace {

using Kind = Object::Kind;
constexpr uint32_t kEnvMagic = 0x4A4E4945;
constexpr int kLocalCapacity = 16;


const char* kindName(Kind k) {
  switch (k) {
    case Kind::receiver: return "DatabaseMarshall";
    case Kind::string: return "String";
    case Kind::stringClass: return "Class";
    case Kind::objectArray: return "String[]";
    case Kind::booleanArray: return "boolean[]";
    case Kind::intArray: return "int[]";
  }
  return "?";
}

struct Ref {
  ObjectPtr object;
  const Env* env;  // null for a global reference, usable on every thread
  bool live;
  bool byNative;
};

// Every reference ever handed out, live or not, so that a stale one is told
// apart from one that never existed. References are never reused.
struct RefTable {
  CRITICAL_SECTION lock;
  char* base = nullptr;
  size_t next = 0;
  std::unordered_map<uintptr_t, Ref> refs;

  static constexpr size_t kRegionBytes = size_t{64} << 20;
  static constexpr size_t kStride = 16;

  RefTable() {
    InitializeCriticalSection(&lock);
    base = static_cast<char*>(VirtualAlloc(nullptr, kRegionBytes, MEM_RESERVE, PAGE_NOACCESS));
  }
} table;

class TableGuard {
 public:
  TableGuard() { EnterCriticalSection(&table.lock); }
  ~TableGuard() { LeaveCriticalSection(&table.lock); }
};

// Modified UTF-8: no zero byte, no four-byte forms.
bool isModifiedUtf8(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    int follow = 0;
    if (*p <= 0x7F) follow = 0;
    else if (*p >= 0xC0 && *p <= 0xDF) follow = 1;
    else if (*p >= 0xE0 && *p <= 0xEF) follow = 2;
    else return false;
    ++p;
    for (int i = 0; i < follow; ++i, ++p)
      if ((*p & 0xC0) != 0x80) return false;
  }
  return true;
}

}  // namespace

struct Env::Access {
  // The environment behind a JNIEnv*, checked to be ours and on its thread.
  static Env& of(JNIEnv* jni, const char* function) {
    auto* state = reinterpret_cast<State*>(jni);
    if (state == nullptr || state->magic != kEnvMagic) {
      std::printf("FAIL: %s called with a JNIEnv this VM never made\n", function);
      std::fflush(stdout);
      std::abort();
    }
    Env& env = *state->owner;
    if (GetCurrentThreadId() != env.thread_)
      report::fail("%s: JNIEnv of another thread used (in %s)", function, env.method_.c_str());
    return env;
  }

  static jobject add(Env& env, ObjectPtr object, bool byNative) {
    TableGuard guard;
    if ((table.next + 1) * RefTable::kStride > RefTable::kRegionBytes || table.base == nullptr) {
      report::fail("the stand-in VM ran out of references");
      std::abort();
    }
    auto handle = reinterpret_cast<jobject>(table.base + table.next++ * RefTable::kStride);
    table.refs[reinterpret_cast<uintptr_t>(handle)] = Ref{std::move(object), &env, true, byNative};
    env.frame_.push_back(handle);
    if (byNative && ++env.nativeRefs_ > kLocalCapacity && !env.capacityReported_) {
      env.capacityReported_ = true;
      report::fail("%s: more than %d local references live at once", env.method_.c_str(), kLocalCapacity);
    }
    return handle;
  }

  // A global reference lives until the VM ends and is good on any thread.
  static jobject addGlobal(ObjectPtr object) {
    TableGuard guard;
    if ((table.next + 1) * RefTable::kStride > RefTable::kRegionBytes || table.base == nullptr) {
      report::fail("the stand-in VM ran out of references");
      std::abort();
    }
    auto handle = reinterpret_cast<jobject>(table.base + table.next++ * RefTable::kStride);
    table.refs[reinterpret_cast<uintptr_t>(handle)] = Ref{std::move(object), nullptr, true, false};
    return handle;
  }

  // The object behind a reference, or null after reporting why it is unusable.
  static ObjectPtr resolve(Env& env, jobject handle, const char* function) {
    if (handle == nullptr) {
      report::fail("%s: null reference (in %s)", function, env.method_.c_str());
      return nullptr;
    }
    TableGuard guard;
    const auto found = table.refs.find(reinterpret_cast<uintptr_t>(handle));
    if (found == table.refs.end()) {
      report::fail("%s: reference %p was never handed out (in %s)", function, static_cast<void*>(handle),
                   env.method_.c_str());
      return nullptr;
    }
    const Ref& ref = found->second;
    if (!ref.live) {
      report::fail("%s: reference used after it was deleted or its call returned (in %s)", function,
                   env.method_.c_str());
      return nullptr;
    }
    if (ref.env != &env && ref.env != nullptr) {
      report::fail("%s: local reference of another thread (in %s)", function, env.method_.c_str());
      return nullptr;
    }
    return ref.object;
  }

  static ObjectPtr resolve(Env& env, jobject handle, Kind kind, const char* function) {
    ObjectPtr object = resolve(env, handle, function);
    if (object && object->kind != kind) {
      report::fail("%s: expected a %s, got a %s (in %s)", function, kindName(kind), kindName(object->kind),
                   env.method_.c_str());
      return nullptr;
    }
    return object;
  }

  static void drop(Env& env, jobject handle, const char* function) {
    TableGuard guard;
    const auto found = table.refs.find(reinterpret_cast<uintptr_t>(handle));
    if (found == table.refs.end() || !found->second.live || found->second.env != &env) {
      report::fail("%s: reference %p is not a live local reference of this thread (in %s)", function,
                   static_cast<void*>(handle), env.method_.c_str());
      return;
    }
    found->second.live = false;
    found->second.object.reset();
    if (found->second.byNative) --env.nativeRefs_;
  }

  static std::map<const void*, ObjectPtr>& utfChars(Env& env) { return env.utfChars_; }
  static std::map<const void*, ObjectPtr>& booleanElements(Env& env) { return env.booleanElements_; }
  static const std::string& method(Env& env) { return env.method_; }
};

namespace {

using A = Env::Access;

// --- The JNI functions the library may call. ---

jclass JNICALL findClass(JNIEnv* jni, const char* name) {
  Env& env = A::of(jni, "FindClass");
  if (name == nullptr || std::strcmp(name, "java/lang/String") != 0) {
    report::fail("FindClass(\"%s\"): no such class here (in %s)", name ? name : "(null)", A::method(env).c_str());
    return nullptr;
  }
  return static_cast<jclass>(A::add(env, std::make_shared<Object>(Kind::stringClass), true));
}

jobject JNICALL newGlobalRef(JNIEnv* jni, jobject ref) {
  Env& env = A::of(jni, "NewGlobalRef");
  const ObjectPtr object = A::resolve(env, ref, "NewGlobalRef");
  return object ? A::addGlobal(object) : nullptr;
}

void JNICALL deleteLocalRef(JNIEnv* jni, jobject ref) {
  Env& env = A::of(jni, "DeleteLocalRef");
  if (ref != nullptr) A::drop(env, ref, "DeleteLocalRef");
}

jstring JNICALL newStringUtf(JNIEnv* jni, const char* utf) {
  Env& env = A::of(jni, "NewStringUTF");
  if (utf == nullptr) {
    report::fail("NewStringUTF(null) (in %s)", A::method(env).c_str());
    return nullptr;
  }
  if (!isModifiedUtf8(utf)) report::fail("NewStringUTF: bytes are not modified UTF-8 (in %s)", A::method(env).c_str());
  auto object = std::make_shared<Object>(Kind::string);
  object->utf = utf;
  return static_cast<jstring>(A::add(env, std::move(object), true));
}

const char* JNICALL getStringUtfChars(JNIEnv* jni, jstring string, jboolean* isCopy) {
  Env& env = A::of(jni, "GetStringUTFChars");
  const ObjectPtr object = A::resolve(env, string, Kind::string, "GetStringUTFChars");
  if (!object) return nullptr;
  auto* copy = static_cast<char*>(std::malloc(object->utf.size() + 1));
  std::memcpy(copy, object->utf.c_str(), object->utf.size() + 1);
  A::utfChars(env)[copy] = object;
  if (isCopy != nullptr) *isCopy = JNI_TRUE;
  return copy;
}

void JNICALL releaseStringUtfChars(JNIEnv* jni, jstring string, const char* chars) {
  Env& env = A::of(jni, "ReleaseStringUTFChars");
  const ObjectPtr object = A::resolve(env, string, Kind::string, "ReleaseStringUTFChars");
  auto& outstanding = A::utfChars(env);
  const auto found = outstanding.find(chars);
  if (found == outstanding.end()) {
    report::fail("ReleaseStringUTFChars: %p was not handed out by GetStringUTFChars (in %s)",
                 static_cast<const void*>(chars), A::method(env).c_str());
    return;
  }
  if (object && found->second != object)
    report::fail("ReleaseStringUTFChars: chars released against another string (in %s)", A::method(env).c_str());
  const size_t n = found->second->utf.size() + 1;
  outstanding.erase(found);
  std::memset(const_cast<char*>(chars), 0xCD, n);  // a later read sees garbage
  std::free(const_cast<char*>(chars));
}

jsize JNICALL getArrayLength(JNIEnv* jni, jarray array) {
  Env& env = A::of(jni, "GetArrayLength");
  const ObjectPtr object = A::resolve(env, array, "GetArrayLength");
  if (!object) return 0;
  switch (object->kind) {
    case Kind::objectArray: return static_cast<jsize>(object->elements.size());
    case Kind::booleanArray: return static_cast<jsize>(object->booleans.size());
    case Kind::intArray: return static_cast<jsize>(object->ints.size());
    default:
      report::fail("GetArrayLength of a %s (in %s)", kindName(object->kind), A::method(env).c_str());
      return 0;
  }
}

jobjectArray JNICALL newObjectArray(JNIEnv* jni, jsize length, jclass elementClass, jobject initial) {
  Env& env = A::of(jni, "NewObjectArray");
  const ObjectPtr klass = A::resolve(env, elementClass, Kind::stringClass, "NewObjectArray");
  ObjectPtr init;
  if (initial != nullptr) init = A::resolve(env, initial, Kind::string, "NewObjectArray");
  if (length < 0) {
    report::fail("NewObjectArray of length %ld (in %s)", static_cast<long>(length), A::method(env).c_str());
    return nullptr;
  }
  if (!klass) return nullptr;
  auto array = std::make_shared<Object>(Kind::objectArray);
  array->elements.assign(static_cast<size_t>(length), init);
  return static_cast<jobjectArray>(A::add(env, std::move(array), true));
}

jobject JNICALL getObjectArrayElement(JNIEnv* jni, jobjectArray array, jsize index) {
  Env& env = A::of(jni, "GetObjectArrayElement");
  const ObjectPtr object = A::resolve(env, array, Kind::objectArray, "GetObjectArrayElement");
  if (!object) return nullptr;
  if (index < 0 || static_cast<size_t>(index) >= object->elements.size()) {
    report::fail("GetObjectArrayElement: index %ld of %zu (in %s)", static_cast<long>(index),
                 object->elements.size(), A::method(env).c_str());
    return nullptr;
  }
  const ObjectPtr& element = object->elements[static_cast<size_t>(index)];
  return element ? A::add(env, element, true) : nullptr;
}

void JNICALL setObjectArrayElement(JNIEnv* jni, jobjectArray array, jsize index, jobject value) {
  Env& env = A::of(jni, "SetObjectArrayElement");
  const ObjectPtr object = A::resolve(env, array, Kind::objectArray, "SetObjectArrayElement");
  ObjectPtr element;
  if (value != nullptr) {
    element = A::resolve(env, value, Kind::string, "SetObjectArrayElement");
    if (!element) return;
  }
  if (!object) return;
  if (index < 0 || static_cast<size_t>(index) >= object->elements.size()) {
    report::fail("SetObjectArrayElement: index %ld of %zu (in %s)", static_cast<long>(index),
                 object->elements.size(), A::method(env).c_str());
    return;
  }
  object->elements[static_cast<size_t>(index)] = element;
}

jboolean* JNICALL getBooleanArrayElements(JNIEnv* jni, jbooleanArray array, jboolean* isCopy) {
  Env& env = A::of(jni, "GetBooleanArrayElements");
  const ObjectPtr object = A::resolve(env, array, Kind::booleanArray, "GetBooleanArrayElements");
  if (!object) return nullptr;
  const size_t n = object->booleans.size();
  auto* copy = static_cast<jboolean*>(std::malloc(n == 0 ? 1 : n));
  if (n > 0) std::memcpy(copy, object->booleans.data(), n);
  A::booleanElements(env)[copy] = object;
  if (isCopy != nullptr) *isCopy = JNI_TRUE;
  return copy;
}

void JNICALL releaseBooleanArrayElements(JNIEnv* jni, jbooleanArray array, jboolean* elements, jint mode) {
  Env& env = A::of(jni, "ReleaseBooleanArrayElements");
  const ObjectPtr object = A::resolve(env, array, Kind::booleanArray, "ReleaseBooleanArrayElements");
  auto& outstanding = A::booleanElements(env);
  const auto found = outstanding.find(elements);
  if (found == outstanding.end()) {
    report::fail("ReleaseBooleanArrayElements: %p was not handed out (in %s)", static_cast<void*>(elements),
                 A::method(env).c_str());
    return;
  }
  if (object && found->second != object)
    report::fail("ReleaseBooleanArrayElements: released against another array (in %s)", A::method(env).c_str());
  if (mode != 0 && mode != JNI_COMMIT && mode != JNI_ABORT)
    report::fail("ReleaseBooleanArrayElements: mode %ld (in %s)", static_cast<long>(mode), A::method(env).c_str());
  std::vector<jboolean>& target = found->second->booleans;
  if (mode != JNI_ABORT && !target.empty()) std::memcpy(target.data(), elements, target.size());
  if (mode == JNI_COMMIT) return;  // still outstanding
  outstanding.erase(found);
  std::free(elements);
}

jintArray JNICALL newIntArray(JNIEnv* jni, jsize length) {
  Env& env = A::of(jni, "NewIntArray");
  if (length < 0) {
    report::fail("NewIntArray of length %ld (in %s)", static_cast<long>(length), A::method(env).c_str());
    return nullptr;
  }
  auto array = std::make_shared<Object>(Kind::intArray);
  array->ints.assign(static_cast<size_t>(length), 0);
  return static_cast<jintArray>(A::add(env, std::move(array), true));
}

void JNICALL setIntArrayRegion(JNIEnv* jni, jintArray array, jsize start, jsize length, const jint* values) {
  Env& env = A::of(jni, "SetIntArrayRegion");
  const ObjectPtr object = A::resolve(env, array, Kind::intArray, "SetIntArrayRegion");
  if (!object) return;
  const long long size = static_cast<long long>(object->ints.size());
  if (start < 0 || length < 0 || static_cast<long long>(start) + length > size ||
      (length > 0 && values == nullptr)) {
    report::fail("SetIntArrayRegion: region [%ld, +%ld) of %lld (in %s)", static_cast<long>(start),
                 static_cast<long>(length), size, A::method(env).c_str());
    return;
  }
  std::memcpy(object->ints.data() + start, values, sizeof(jint) * static_cast<size_t>(length));
}

// Every other slot: the library has no business calling it.
template <size_t Slot>
void JNICALL unexpectedFunction(JNIEnv*) {
  report::fail("native code called JNI function-table slot %u, which the library must not use",
               static_cast<unsigned>(Slot));
  report::summary();
  std::abort();
}

template <size_t... Slots>
void fillUnexpected(void** slots, std::index_sequence<Slots...>) {
  ((slots[Slots] = reinterpret_cast<void*>(&unexpectedFunction<Slots>)), ...);
}

JNINativeInterface_ makeFunctionTable() {
  JNINativeInterface_ functions{};
  constexpr size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void*);
  static_assert(kSlots * sizeof(void*) == sizeof(JNINativeInterface_));
  fillUnexpected(reinterpret_cast<void**>(&functions), std::make_index_sequence<kSlots>{});
  functions.reserved0 = functions.reserved1 = functions.reserved2 = functions.reserved3 = nullptr;
  functions.FindClass = findClass;
  functions.DeleteLocalRef = deleteLocalRef;
  functions.NewGlobalRef = newGlobalRef;
  functions.NewStringUTF = newStringUtf;
  functions.GetStringUTFChars = getStringUtfChars;
  functions.ReleaseStringUTFChars = releaseStringUtfChars;
  functions.GetArrayLength = getArrayLength;
  functions.NewObjectArray = newObjectArray;
  functions.GetObjectArrayElement = getObjectArrayElement;
  functions.SetObjectArrayElement = setObjectArrayElement;
  functions.GetBooleanArrayElements = getBooleanArrayElements;
  functions.ReleaseBooleanArrayElements = releaseBooleanArrayElements;
  functions.NewIntArray = newIntArray;
  functions.SetIntArrayRegion = setIntArrayRegion;
  return functions;
}

const JNINativeInterface_ functionTable = makeFunctionTable();

}  // namespace

// --- The VM's own side: frames, arguments and results. ---

Env::Env() : state_{JNIEnv{}, kEnvMagic, this}, thread_(GetCurrentThreadId()) {
  state_.jni.functions = &functionTable;
}

Env::~Env() {
  if (!frame_.empty()) endCall();
  state_.magic = 0;
}

void Env::beginCall(const char* method) {
  if (!frame_.empty()) endCall();
  method_ = method;
  nativeRefs_ = 0;
  capacityReported_ = false;
}

void Env::nativeEntered() { nativeRefs_ = 0; }

void Env::endCall() {
  if (!utfChars_.empty())
    report::fail("%s: %zu string(s) from GetStringUTFChars never released", method_.c_str(), utfChars_.size());
  if (!booleanElements_.empty())
    report::fail("%s: %zu boolean[] element buffer(s) never released", method_.c_str(), booleanElements_.size());
  for (auto& [chars, object] : utfChars_) std::free(const_cast<void*>(chars));
  for (auto& [elements, object] : booleanElements_) std::free(const_cast<void*>(elements));
  utfChars_.clear();
  booleanElements_.clear();
  {
    TableGuard guard;
    for (jobject handle : frame_) {
      Ref& ref = table.refs[reinterpret_cast<uintptr_t>(handle)];
      ref.live = false;
      ref.object.reset();
    }
  }
  frame_.clear();
  nativeRefs_ = 0;
  method_ = "(no call)";
}

jobject Env::newReceiver() { return A::add(*this, std::make_shared<Object>(Kind::receiver), false); }

jstring Env::newString(const std::string& utf) {
  auto object = std::make_shared<Object>(Kind::string);
  object->utf = utf;
  return static_cast<jstring>(A::add(*this, std::move(object), false));
}

jobjectArray Env::newStringArray(const std::vector<std::optional<std::string>>& values) {
  auto array = std::make_shared<Object>(Kind::objectArray);
  for (const auto& value : values) {
    ObjectPtr element;
    if (value) {
      element = std::make_shared<Object>(Kind::string);
      element->utf = *value;
    }
    array->elements.push_back(std::move(element));
  }
  return static_cast<jobjectArray>(A::add(*this, std::move(array), false));
}

jbooleanArray Env::newBooleanArray(const std::vector<bool>& values) {
  auto array = std::make_shared<Object>(Kind::booleanArray);
  for (const bool value : values) array->booleans.push_back(value ? JNI_TRUE : JNI_FALSE);
  return static_cast<jbooleanArray>(A::add(*this, std::move(array), false));
}

std::optional<std::vector<std::string>> Env::stringArray(jobjectArray array) {
  if (array == nullptr) return std::nullopt;
  const ObjectPtr object = A::resolve(*this, array, Kind::objectArray, "returned String[]");
  if (!object) return std::nullopt;
  std::vector<std::string> values;
  for (const ObjectPtr& element : object->elements) {
    if (!element) report::fail("%s returned a String[] with a null element", method_.c_str());
    values.push_back(element ? element->utf : std::string());
  }
  return values;
}

std::optional<std::vector<int32_t>> Env::intArray(jintArray array) {
  if (array == nullptr) return std::nullopt;
  const ObjectPtr object = A::resolve(*this, array, Kind::intArray, "returned int[]");
  if (!object) return std::nullopt;
  return std::vector<int32_t>(object->ints.begin(), object->ints.end());
}

// --- Self-check: each promised kind of misuse is caught. ---

namespace {

// Runs misuse() as native code would inside one call and checks that a
// failure mentioning `expected` was reported.
template <typename Misuse>
void expectCaught(const char* what, const char* expected, Misuse misuse) {
  Env env;
  report::startCapture();
  env.beginCall(what);
  misuse(env);
  env.endCall();
  const std::vector<std::string> failures = report::stopCapture();
  bool found = false;
  for (const std::string& failure : failures) found = found || failure.find(expected) != std::string::npos;
  report::check(found, "stand-in JNI did not catch: %s", what);
}

}  // namespace

void selfCheck() {
  expectCaught("string never released", "never released", [](Env& env) {
    jstring s = env.newString("abc");
    env.nativeEntered();
    env.jni()->GetStringUTFChars(s, nullptr);
  });
  expectCaught("boolean[] never released", "never released", [](Env& env) {
    jbooleanArray a = env.newBooleanArray({true});
    env.nativeEntered();
    env.jni()->GetBooleanArrayElements(a, nullptr);
  });
  expectCaught("release of a foreign pointer", "not handed out", [](Env& env) {
    jstring s = env.newString("abc");
    env.nativeEntered();
    static const char foreign[] = "abc";
    env.jni()->ReleaseStringUTFChars(s, foreign);
  });
  expectCaught("element index past the end", "index 2 of 2", [](Env& env) {
    jobjectArray a = env.newStringArray({"x", "y"});
    env.nativeEntered();
    env.jni()->GetObjectArrayElement(a, 2);
  });
  expectCaught("use of a deleted local reference", "after it was deleted", [](Env& env) {
    jobjectArray a = env.newStringArray({"x"});
    env.nativeEntered();
    jobject e = env.jni()->GetObjectArrayElement(a, 0);
    env.jni()->DeleteLocalRef(e);
    env.jni()->GetStringUTFChars(static_cast<jstring>(e), nullptr);
  });
  expectCaught("int[] region past the end", "SetIntArrayRegion", [](Env& env) {
    env.nativeEntered();
    jintArray a = env.jni()->NewIntArray(2);
    const jint values[3] = {1, 2, 3};
    env.jni()->SetIntArrayRegion(a, 0, 3, values);
  });
  expectCaught("too many local references", "local references live", [](Env& env) {
    jobjectArray a = env.newStringArray(std::vector<std::optional<std::string>>(20, "x"));
    env.nativeEntered();
    for (jsize i = 0; i < 20; ++i) env.jni()->GetObjectArrayElement(a, i);
  });
}

}  // namespace fakejni
