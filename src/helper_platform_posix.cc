#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <initializer_list>

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

#if defined(__linux__)
// Linux may start a new thread on its creator's processor and move it only
// later: until then the two take turns on one processor while the other
// idles, which cost large trees up to a third of their time on a host of
// two processors (doc/performance.md). So the helper starts on another
// processor the process may use, and is then free to go anywhere again.
struct Processors {
  cpu_set_t allowed;

  Processors() {
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
      CPU_ZERO(&allowed);
    }
  }
  // 0 when not known.
  int count() const { return CPU_COUNT(&allowed); }
  // Asks that a thread made with `attributes` start on a processor other
  // than the caller's, where there is one.
  void start_elsewhere(pthread_attr_t* attributes) const {
    cpu_set_t elsewhere = allowed;
    int here = sched_getcpu();
    if (here >= 0 && here < CPU_SETSIZE) CPU_CLR(here, &elsewhere);
    if (CPU_COUNT(&elsewhere) > 0) {
      pthread_attr_setaffinity_np(attributes, sizeof elsewhere, &elsewhere);
    }
  }
  // Lets the calling thread run anywhere the process may.
  void free_to_move() const {
    if (count() > 0) {
      pthread_setaffinity_np(pthread_self(), sizeof allowed, &allowed);
    }
  }
};
#else
struct Processors {
  int count() const { return 0; }
  void start_elsewhere(pthread_attr_t*) const {}
  void free_to_move() const {}
};
#endif

struct PlatformThread {
  pthread_t id;
  void (*run)(void*);
  void* context;
  Processors processors;

  static void* start(void* self) {
    auto* thread = static_cast<PlatformThread*>(self);
    thread->processors.free_to_move();
    thread->run(thread->context);
    return nullptr;
  }
};

PlatformThread* start_platform_thread(void (*run)(void*), void* context) {
  // A process held to one processor has no room for a helper either.
  Processors processors;
  long usable = processors.count() > 0 ? processors.count()
                                       : sysconf(_SC_NPROCESSORS_ONLN);
  if (usable < 2) return nullptr;
  auto* thread = new PlatformThread{{}, run, context, processors};
  // The thread inherits this mask: signals go to the caller's thread, as
  // they would without it. SIGPIPE alone stays as the caller has it, since
  // the kernel sends it to the thread whose write met a pipe that nobody
  // reads: the helper's write then stops the program as the caller's does.
  sigset_t all, before;
  pthread_sigmask(SIG_SETMASK, nullptr, &before);
  sigfillset(&all);
  if (!sigismember(&before, SIGPIPE)) sigdelset(&all, SIGPIPE);
  pthread_sigmask(SIG_SETMASK, &all, nullptr);
  bool started = false;
  // Where the processor asked for cannot be had, anywhere will do.
  for (bool elsewhere : {true, false}) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kHelperStackSize);
    if (elsewhere) thread->processors.start_elsewhere(&attributes);
    started = pthread_create(&thread->id, &attributes, PlatformThread::start,
                             thread) == 0;
    pthread_attr_destroy(&attributes);
    if (started) break;
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (!started) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void join_platform_thread(PlatformThread* thread) {
  pthread_join(thread->id, nullptr);
  delete thread;
}

void yield_processor() { sched_yield(); }

}  // namespace placeharvest
