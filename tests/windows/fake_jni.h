#pragma once
// A stand-in for the Java VM's side of JNI, strict where a real VM under
// -Xcheck:jni is strict and stricter where a real VM would fail only
// sometimes. Native code gets a real JNINativeInterface_ table: the functions
// the library is expected to call are implemented faithfully, and every other
// slot records a failure and aborts.
//
// Misuse that is reported as a failure:
// - strings or boolean[] elements fetched and not released before the native
//   call returns, and releases of pointers this VM never handed out (or
//   handed out for another object);
// - array indexes or regions out of range, negative lengths, wrong object
//   kinds (an ArrayStoreException or ClassCastException in a real VM);
// - references never handed out, used after DeleteLocalRef or after the call
//   that made them returned, or made by another thread's environment;
// - more than 16 local references live at once inside one call, the
//   capacity that every native method is guaranteed;
// - an environment used on a thread other than its own;
// - NewStringUTF of bytes that are not modified UTF-8.
//
// References are addresses in a reserved, inaccessible region, so native
// code that treats one as a pointer crashes at once.

#include <jni.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fakejni {

struct Object;
using ObjectPtr = std::shared_ptr<Object>;

// One thread's JNI environment. Native code sees only jni(); the driver uses
// the rest to make arguments and read results, as the VM would.
class Env {
 public:
  Env();  // belongs to the thread that constructs it
  ~Env();
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  JNIEnv* jni() { return &state_.jni; }

  // One native method call. References made after beginCall belong to it;
  // endCall reports every buffer not released and drops those references,
  // as the VM does when a native method returns.
  void beginCall(const char* method);
  void nativeEntered();  // from here on, new references count against the capacity
  void endCall();

  // Arguments.
  jobject newReceiver();
  jstring newString(const std::string& utf);
  jobjectArray newStringArray(const std::vector<std::optional<std::string>>& values);
  jbooleanArray newBooleanArray(const std::vector<bool>& values);

  // Results; nullopt for a null reference.
  std::optional<std::vector<std::string>> stringArray(jobjectArray array);
  std::optional<std::vector<int32_t>> intArray(jintArray array);

  // What the JNI functions need; not for the driver.
  struct Access;

 private:
  struct State {
    JNIEnv jni;  // first, so that a JNIEnv* leads back to its State
    uint32_t magic;
    Env* owner;
  };

  State state_;
  unsigned long thread_;
  std::string method_ = "(no call)";
  std::vector<jobject> frame_;  // references made during the current call
  int nativeRefs_ = 0;          // of those, made by native code and still live
  bool capacityReported_ = false;
  std::map<const void*, ObjectPtr> utfChars_;
  std::map<const void*, ObjectPtr> booleanElements_;
};

// Checks that the stand-in itself catches each kind of misuse it promises to.
void selfCheck();

}  // namespace fakejni
