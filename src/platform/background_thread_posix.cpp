#include <pthread.h>

#include <cstring>
#include <new>

#include "platform/background_thread.h"

namespace mero {

static_assert(sizeof(pthread_t) <= 8);

namespace {
struct Task {
  void (*run)(void*);
  void* argument;
};

void* runTask(void* task) {
  const Task copy = *static_cast<Task*>(task);
  delete static_cast<Task*>(task);
  copy.run(copy.argument);
  return nullptr;
}
}  // namespace

bool BackgroundThread::start(void (*task)(void*), void* argument) {
  if (started_) return false;
  Task* const owned = new (std::nothrow) Task{task, argument};
  if (owned == nullptr) return false;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, runTask, owned) != 0) {
    delete owned;
    return false;
  }
  std::memcpy(handle_, &thread, sizeof thread);
  started_ = true;
  return true;
}

void BackgroundThread::join() {
  if (!started_) return;
  pthread_t thread;
  std::memcpy(&thread, handle_, sizeof thread);
  pthread_join(thread, nullptr);
  started_ = false;
}

}  // namespace mero
