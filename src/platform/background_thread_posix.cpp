#include <pthread.h>

#include <new>

#include "platform/background_thread.h"

namespace mero {

// Invariant, under `mutex`: `busy` from the moment a task is handed over
// until it has returned; the thread waits on `changed` whenever it is idle.
struct BackgroundThread::State {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
  pthread_t thread{};
  void (*task)(void*) = nullptr;
  void* argument = nullptr;
  bool busy = false;
  bool stopping = false;
};

namespace {

using State = BackgroundThread::State;

void awaitIdle(State& s) {
  while (s.busy) pthread_cond_wait(&s.changed, &s.mutex);
}

void* serve(void* state) {
  State& s = *static_cast<State*>(state);
  pthread_mutex_lock(&s.mutex);
  for (;;) {
    while (!s.busy && !s.stopping) pthread_cond_wait(&s.changed, &s.mutex);
    if (!s.busy) break;  // stopping, with nothing left to run
    void (*const task)(void*) = s.task;
    void* const argument = s.argument;
    pthread_mutex_unlock(&s.mutex);
    task(argument);
    pthread_mutex_lock(&s.mutex);
    s.busy = false;
    pthread_cond_broadcast(&s.changed);
  }
  pthread_mutex_unlock(&s.mutex);
  return nullptr;
}

}  // namespace

bool BackgroundThread::run(void (*task)(void*), void* argument) {
  if (state_ == nullptr) {
    State* const made = new (std::nothrow) State;
    if (made == nullptr) return false;
    if (pthread_create(&made->thread, nullptr, serve, made) != 0) {
      delete made;
      return false;
    }
    state_ = made;
  }
  pthread_mutex_lock(&state_->mutex);
  awaitIdle(*state_);
  state_->task = task;
  state_->argument = argument;
  state_->busy = true;
  pthread_cond_broadcast(&state_->changed);
  pthread_mutex_unlock(&state_->mutex);
  return true;
}

void BackgroundThread::wait() {
  if (state_ == nullptr) return;
  pthread_mutex_lock(&state_->mutex);
  awaitIdle(*state_);
  pthread_mutex_unlock(&state_->mutex);
}

BackgroundThread::~BackgroundThread() {
  if (state_ == nullptr) return;
  pthread_mutex_lock(&state_->mutex);
  state_->stopping = true;
  pthread_cond_broadcast(&state_->changed);
  pthread_mutex_unlock(&state_->mutex);
  pthread_join(state_->thread, nullptr);
  pthread_cond_destroy(&state_->changed);
  pthread_mutex_destroy(&state_->mutex);
  delete state_;
}

}  // namespace mero
