#pragma once
// BackgroundThread: runs one task off the caller's thread, to be joined
// later. Where the platform starts none (the Windows build, whose runtime
// is kept free of thread libraries), start() answers false and the caller
// runs the task itself.
//
// The storage is opaque so that no system header leaks into the engine.

namespace mero {

class BackgroundThread {
 public:
  BackgroundThread() = default;
  ~BackgroundThread() { join(); }
  BackgroundThread(const BackgroundThread&) = delete;
  BackgroundThread& operator=(const BackgroundThread&) = delete;

  // Starts task(argument) unless a task is still joinable; false when no
  // thread was started.
  bool start(void (*task)(void*), void* argument);
  // Waits for the started task to end; nothing when none was started.
  void join();

 private:
  alignas(8) unsigned char handle_[8] = {};
  bool started_ = false;
};

}  // namespace mero
