#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include "helper_platform.h"

namespace placeharvest {

struct PlatformLock::State {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
};

PlatformLock::PlatformLock() : state_(new State) {}
PlatformLock::~PlatformLock() { delete state_; }
void PlatformLock::lock() { pthread_mutex_lock(&state_->mutex); }
void PlatformLock::unlock() { pthread_mutex_unlock(&state_->mutex); }
void PlatformLock::sleep() {
  pthread_cond_wait(&state_->changed, &state_->mutex);
}
void PlatformLock::wake_all() { pthread_cond_broadcast(&state_->changed); }

struct PlatformThread {
  pthread_t id;
  void (*run)(void*);
  void* context;

  static void* start(void* self) {
    auto* thread = static_cast<PlatformThread*>(self);
    thread->run(thread->context);
    return nullptr;
  }
};

PlatformThread* start_platform_thread(void (*run)(void*), void* context) {
  if (sysconf(_SC_NPROCESSORS_ONLN) < 2) return nullptr;
  auto* thread = new PlatformThread{{}, run, context};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kHelperStackSize);
  // The thread inherits this mask: signals go to the caller's thread, as
  // they would without it.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  if (pthread_create(&thread->id, &attributes, PlatformThread::start, thread) !=
      0) {
    delete thread;
    thread = nullptr;
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  pthread_attr_destroy(&attributes);
  return thread;
}

void join_platform_thread(PlatformThread* thread) {
  pthread_join(thread->id, nullptr);
  delete thread;
}

void yield_processor() { sched_yield(); }

}  // namespace placeharvest
