#include "fake_jni.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace fakejni {

enum Kind { kString, kClass, kObjectArray, kBooleanArray, kIntArray, kAny };

// A reference is the address of its Object; each lives until its call ends.
struct Object {
  int kind = kAny;
  bool byNative = false;
  bool deleted = false;
  std::string utf;
  std::vector<Object*> elements;
  std::vector<jboolean> booleans;
  std::vector<jint> ints;
};

Env& envOf(JNIEnv* jni) { return *reinterpret_cast<Env::Frame*>(jni)->owner; }

namespace {

// Lead bytes and continuation bytes in place; no zero byte, no four-byte forms.
bool isModifiedUtf8(const char* text) {
  for (auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    int follow = *p < 0x80 ? 0 : (*p & 0xE0) == 0xC0 ? 1 : (*p & 0xF0) == 0xE0 ? 2 : -1;
    if (follow < 0) return false;
    for (; follow > 0; --follow)
      if ((*++p & 0xC0) != 0x80) return false;
  }
  return true;
}

template <typename Ref>
Ref as(Object* object) {
  return reinterpret_cast<Ref>(object);
}

jclass JNICALL findClass(JNIEnv* jni, const char* name) {
  Env& env = envOf(jni);
  if (std::strcmp(name, "java/lang/String") != 0) env.complain(std::string("FindClass of ") + name);
  return as<jclass>(env.make(kClass, true));
}

// A global reference lives as long as the process.
jobject JNICALL newGlobalRef(JNIEnv* jni, jobject ref) {
  Object* object = envOf(jni).use(ref, kAny, "NewGlobalRef");
  if (object == nullptr) return nullptr;
  auto* global = new Object(*object);
  global->byNative = false;
  return as<jobject>(global);
}

void JNICALL deleteLocalRef(JNIEnv* jni, jobject ref) { envOf(jni).deleteLocal(ref); }

jstring JNICALL newStringUtf(JNIEnv* jni, const char* utf) {
  Env& env = envOf(jni);
  if (!isModifiedUtf8(utf)) env.complain("NewStringUTF given bytes that are not modified UTF-8");
  Object* string = env.make(kString, true);
  string->utf = utf;
  return as<jstring>(string);
}

// The UTF-16 chars of a string's modified UTF-8 (well formed: made by
// string() or newStringUtf, which checks).
std::u16string charsOf(const std::string& utf) {
  std::u16string chars;
  for (size_t i = 0; i < utf.size();) {
    const auto c = static_cast<unsigned char>(utf[i]);
    const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
    unsigned unit = n == 1 ? c : n == 2 ? c & 0x1Fu : c & 0x0Fu;
    for (int k = 1; k < n; ++k) unit = (unit << 6) | (static_cast<unsigned char>(utf[i + k]) & 0x3Fu);
    chars.push_back(static_cast<char16_t>(unit));
    i += static_cast<size_t>(n);
  }
  return chars;
}

jsize JNICALL getStringLength(JNIEnv* jni, jstring string) {
  Object* object = envOf(jni).use(string, kString, "GetStringLength");
  return object == nullptr ? 0 : static_cast<jsize>(charsOf(object->utf).size());
}

void JNICALL getStringRegion(JNIEnv* jni, jstring string, jsize start, jsize length, jchar* out) {
  Env& env = envOf(jni);
  Object* object = env.use(string, kString, "GetStringRegion");
  if (object == nullptr) return;
  const std::u16string chars = charsOf(object->utf);
  if (start < 0 || length < 0 || static_cast<size_t>(start) + length > chars.size())
    return env.complain("GetStringRegion out of range");
  std::copy(chars.begin() + start, chars.begin() + start + length, out);
}

jboolean JNICALL exceptionCheck(JNIEnv*) { return JNI_FALSE; }

// Forgets a buffer handed out for ref; false (and a complaint) if it was not.
bool release(Env& env, jobject ref, const void* buffer, const char* function) {
  Object* object = env.use(ref, kAny, function);
  const auto found = std::find_if(env.buffers.begin(), env.buffers.end(),
                                  [&](const auto& b) { return b.first == buffer && b.second == object; });
  if (found == env.buffers.end()) {
    env.complain(std::string(function) + " of a buffer not handed out for that object");
    return false;
  }
  env.buffers.erase(found);
  return true;
}

jsize JNICALL getArrayLength(JNIEnv* jni, jarray array) {
  Object* a = envOf(jni).use(array, kAny, "GetArrayLength");
  if (a == nullptr) return 0;
  return static_cast<jsize>(a->kind == kObjectArray    ? a->elements.size()
                            : a->kind == kBooleanArray ? a->booleans.size()
                                                       : a->ints.size());
}

jobjectArray JNICALL newObjectArray(JNIEnv* jni, jsize length, jclass elementClass, jobject initial) {
  Env& env = envOf(jni);
  env.use(elementClass, kClass, "NewObjectArray");
  Object* init = initial != nullptr ? env.use(initial, kString, "NewObjectArray") : nullptr;
  Object* array = env.make(kObjectArray, true);
  array->elements.assign(static_cast<size_t>(std::max<jsize>(length, 0)), init);
  return as<jobjectArray>(array);
}

jobject JNICALL getObjectArrayElement(JNIEnv* jni, jobjectArray array, jsize index) {
  Env& env = envOf(jni);
  Object* a = env.use(array, kObjectArray, "GetObjectArrayElement");
  if (a == nullptr || index < 0 || static_cast<size_t>(index) >= a->elements.size()) {
    env.complain("GetObjectArrayElement out of range");
    return nullptr;
  }
  Object* element = a->elements[static_cast<size_t>(index)];
  if (element == nullptr) return nullptr;
  Object* ref = env.make(kString, true);  // a new local reference to the element
  ref->utf = element->utf;
  return as<jobject>(ref);
}

void JNICALL setObjectArrayElement(JNIEnv* jni, jobjectArray array, jsize index, jobject value) {
  Env& env = envOf(jni);
  Object* a = env.use(array, kObjectArray, "SetObjectArrayElement");
  Object* element = value != nullptr ? env.use(value, kString, "SetObjectArrayElement") : nullptr;
  if (a == nullptr || index < 0 || static_cast<size_t>(index) >= a->elements.size())
    return env.complain("SetObjectArrayElement out of range");
  a->elements[static_cast<size_t>(index)] = element;
}

jboolean* JNICALL getBooleanArrayElements(JNIEnv* jni, jbooleanArray array, jboolean* isCopy) {
  Env& env = envOf(jni);
  Object* object = env.use(array, kBooleanArray, "GetBooleanArrayElements");
  if (object == nullptr) return nullptr;
  auto* copy = static_cast<jboolean*>(std::malloc(object->booleans.size() + 1));
  std::copy(object->booleans.begin(), object->booleans.end(), copy);
  env.buffers.emplace_back(copy, object);
  if (isCopy != nullptr) *isCopy = JNI_TRUE;
  return copy;
}

void JNICALL releaseBooleanArrayElements(JNIEnv* jni, jbooleanArray array, jboolean* elements, jint mode) {
  if (mode != JNI_COMMIT && release(envOf(jni), array, elements, "ReleaseBooleanArrayElements")) std::free(elements);
}

jintArray JNICALL newIntArray(JNIEnv* jni, jsize length) {
  Object* array = envOf(jni).make(kIntArray, true);
  array->ints.assign(static_cast<size_t>(std::max<jsize>(length, 0)), 0);
  return as<jintArray>(array);
}

void JNICALL setIntArrayRegion(JNIEnv* jni, jintArray array, jsize start, jsize length, const jint* values) {
  Env& env = envOf(jni);
  Object* a = env.use(array, kIntArray, "SetIntArrayRegion");
  if (a == nullptr || start < 0 || length < 0 || static_cast<size_t>(start) + length > a->ints.size())
    return env.complain("SetIntArrayRegion out of range");
  std::copy(values, values + length, a->ints.begin() + start);
}

template <size_t Slot>
void JNICALL unexpected(JNIEnv*) {
  std::printf("FAIL: the library called JNI function %u, which it has no use for\n", static_cast<unsigned>(Slot));
  std::fflush(stdout);
  std::abort();
}

template <size_t... Slots>
JNINativeInterface_ makeTable(std::index_sequence<Slots...>) {
  JNINativeInterface_ t{};
  auto** slots = reinterpret_cast<void**>(&t);
  ((slots[Slots] = reinterpret_cast<void*>(&unexpected<Slots>)), ...);
  t.FindClass = findClass;
  t.NewGlobalRef = newGlobalRef;
  t.DeleteLocalRef = deleteLocalRef;
  t.NewStringUTF = newStringUtf;
  t.GetStringLength = getStringLength;
  t.GetStringRegion = getStringRegion;
  t.ExceptionCheck = exceptionCheck;
  t.GetArrayLength = getArrayLength;
  t.NewObjectArray = newObjectArray;
  t.GetObjectArrayElement = getObjectArrayElement;
  t.SetObjectArrayElement = setObjectArrayElement;
  t.GetBooleanArrayElements = getBooleanArrayElements;
  t.ReleaseBooleanArrayElements = releaseBooleanArrayElements;
  t.NewIntArray = newIntArray;
  t.SetIntArrayRegion = setIntArrayRegion;
  return t;
}

const JNINativeInterface_ table = makeTable(std::make_index_sequence<sizeof(JNINativeInterface_) / sizeof(void*)>{});

}  // namespace

Env::Env() : frame_{JNIEnv{}, this} { frame_.jni.functions = &table; }

Env::~Env() { endCall(); }

Object* Env::make(int kind, bool byNative) {
  objects_.push_back(std::make_unique<Object>());
  objects_.back()->kind = kind;
  objects_.back()->byNative = byNative;
  if (byNative && ++nativeRefs_ == 17) complain("more than 16 local references live at once");
  return objects_.back().get();
}

Object* Env::use(jobject ref, int kind, const char* function) {
  auto* object = reinterpret_cast<Object*>(ref);
  const char* problem = object == nullptr                      ? "a null reference"
                        : object->deleted                      ? "a reference after DeleteLocalRef"
                        : kind != kAny && object->kind != kind ? "a reference of the wrong kind"
                                                               : nullptr;
  if (problem == nullptr) return object;
  complain(std::string(function) + " given " + problem);
  return nullptr;
}

void Env::deleteLocal(jobject ref) {
  Object* object = use(ref, kAny, "DeleteLocalRef");
  if (object == nullptr) return;
  object->deleted = true;
  if (object->byNative) --nativeRefs_;
}

jstring Env::string(const std::optional<std::string>& utf) {
  if (!utf) return nullptr;
  Object* object = make(kString, false);
  object->utf = *utf;
  return as<jstring>(object);
}

jobjectArray Env::strings(const std::optional<std::vector<std::optional<std::string>>>& values) {
  if (!values) return nullptr;
  Object* array = make(kObjectArray, false);
  for (const auto& value : *values) array->elements.push_back(reinterpret_cast<Object*>(string(value)));
  return as<jobjectArray>(array);
}

jbooleanArray Env::booleans(const std::optional<std::vector<bool>>& values) {
  if (!values) return nullptr;
  Object* array = make(kBooleanArray, false);
  for (const bool value : *values) array->booleans.push_back(value ? JNI_TRUE : JNI_FALSE);
  return as<jbooleanArray>(array);
}

jintArray Env::ints(const std::vector<int32_t>& values) {
  Object* array = make(kIntArray, false);
  array->ints.assign(values.begin(), values.end());
  return as<jintArray>(array);
}

std::optional<std::vector<std::string>> Env::stringsOf(jobjectArray array) {
  if (array == nullptr) return std::nullopt;
  Object* object = use(array, kObjectArray, "a String[] result");
  std::vector<std::string> values;
  for (const Object* element : object ? object->elements : std::vector<Object*>{}) {
    if (element == nullptr) complain("a String[] result with a null element");
    values.push_back(element != nullptr ? element->utf : "");
  }
  return values;
}

std::optional<std::vector<int32_t>> Env::intsOf(jintArray array) {
  if (array == nullptr) return std::nullopt;
  Object* object = use(array, kIntArray, "an int[] result");
  return object ? std::vector<int32_t>(object->ints.begin(), object->ints.end()) : std::vector<int32_t>{};
}

std::vector<std::string> Env::endCall() {
  for (const auto& [buffer, object] : buffers) {
    (void)object;
    complain("a GetBooleanArrayElements buffer never released");
    std::free(const_cast<void*>(buffer));
  }
  buffers.clear();
  objects_.clear();
  nativeRefs_ = 0;
  return std::exchange(complaints_, {});
}

}  // namespace fakejni
