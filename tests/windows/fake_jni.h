#pragma once
// A stand-in for the Java VM's side of JNI, so the library's exports run
// without a JVM: natively on Linux and, cross-built, under Wine. It checks
// what a JVM under -Xcheck:jni does not always report, and what only a
// Windows build can get wrong:
// - each GetBooleanArrayElements buffer is released,
//   once and against its own object, before the native method returns;
// - no more than 16 references made by native code are live at once in one
//   call (the capacity every native method is guaranteed), and none is used
//   after DeleteLocalRef;
// - NewStringUTF is given modified UTF-8 only.
// Any JNI function beyond the ones the library needs ends the program.

#include <jni.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fakejni {

struct Object;

// One Java thread's environment, for one native call at a time: the runner
// makes the arguments, calls the export with jni(), reads the result, and
// then endCall() says what went wrong and drops the call's references.
class Env {
 public:
  Env();
  ~Env();
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;

  JNIEnv* jni() { return &frame_.jni; }

  jstring string(const std::optional<std::string>& utf);
  jobjectArray strings(const std::optional<std::vector<std::optional<std::string>>>& values);
  jbooleanArray booleans(const std::optional<std::vector<bool>>& values);
  jintArray ints(const std::vector<int32_t>& values);
  std::optional<std::vector<std::string>> stringsOf(jobjectArray array);
  std::optional<std::vector<int32_t>> intsOf(jintArray array);

  std::vector<std::string> endCall();

  // For the JNI functions.
  Object* make(int kind, bool byNative);
  Object* use(jobject ref, int kind, const char* function);
  void complain(const std::string& what) { complaints_.push_back(what); }
  void deleteLocal(jobject ref);
  std::vector<std::pair<const void*, Object*>> buffers;  // handed out, not yet released

 private:
  struct Frame {
    JNIEnv jni;  // first: a JNIEnv* leads back to its Frame
    Env* owner;
  } frame_;
  std::vector<std::unique_ptr<Object>> objects_;  // the current call's
  std::vector<std::string> complaints_;
  int nativeRefs_ = 0;

  friend Env& envOf(JNIEnv* jni);
};

}  // namespace fakejni
