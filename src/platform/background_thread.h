#pragma once
// BackgroundThread: one thread, started at the first task and kept, that
// runs tasks one at a time off the callers' threads. Starting a thread per
// task cost more than the rest of a close. Where the platform starts none
// (the Windows build, whose runtime is kept free of thread libraries), run()
// answers false and the caller runs the task itself.
//
// The state is opaque so that no system header leaks into the engine.

namespace mero {

class BackgroundThread {
 public:
  struct State;  // defined by each platform's implementation

  BackgroundThread() = default;
  // Waits for the task under way, then ends the thread.
  ~BackgroundThread();
  BackgroundThread(const BackgroundThread&) = delete;
  BackgroundThread& operator=(const BackgroundThread&) = delete;

  // Hands task(argument) to the thread, starting it at the first call,
  // once the task before has ended; false when no thread can be had.
  bool run(void (*task)(void*), void* argument);
  // Waits for the task under way to end; nothing when there is none.
  void wait();

 private:
  State* state_ = nullptr;
};

}  // namespace mero
