#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "helper_thread.h"

namespace placeharvest {
namespace {

// A job writes from buffers the caller owns, turning text back into UTF-16
// on the way for a UTF-16 input, with a few bytes of locals: a small stack
// is plenty, and stays small under a low limit on memory.
constexpr size_t kStackSize = 256 * 1024;

// Jobs started and not yet run, at most.
constexpr uint64_t kQueued = 8;

// Jobs come and end every few dozen microseconds, and a processor woken
// from sleep can take longer than that to answer: each side looks this
// many times before it sleeps.
constexpr int kSpins = 20000;

inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace

struct HelperThread::Thread {
  pthread_t id;
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
  struct {
    Job job;
    void* context;
  } queue[kQueued];
  std::atomic<uint64_t> started{0};  // jobs in the queue, ever
  std::atomic<uint64_t> done{0};     // jobs run, ever
  std::atomic<bool> quit{false};
  // Guarded by the mutex:
  bool helper_sleeps = false;
  bool caller_sleeps = false;

  // Waits until `ready` holds, looking kSpins times before it sleeps on
  // `sleeps` until woken.
  template <typename Ready>
  void await(Ready ready, bool* sleeps) {
    for (int i = 0; i < kSpins; ++i) {
      if (ready()) return;
      // The other thread may be waiting for this processor.
      if (i % 64 == 63) {
        sched_yield();
      } else {
        pause();
      }
    }
    pthread_mutex_lock(&mutex);
    while (!ready()) {
      *sleeps = true;
      pthread_cond_wait(&changed, &mutex);
      *sleeps = false;
    }
    pthread_mutex_unlock(&mutex);
  }
  void wake(const bool* sleeps) {
    pthread_mutex_lock(&mutex);
    if (*sleeps) pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&mutex);
  }

  // A new helper, or null where none can be had or would help.
  static Thread* begin() {
    // With one processor, a second thread would only take turns with the
    // first.
    if (sysconf(_SC_NPROCESSORS_ONLN) < 2) return nullptr;
    auto* thread = new Thread;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kStackSize);
    // The helper inherits this mask: signals go to the caller's thread, as
    // they would without a helper.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    if (pthread_create(&thread->id, &attributes, run, thread) != 0) {
      delete thread;
      thread = nullptr;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    pthread_attr_destroy(&attributes);
    return thread;
  }

  static void* run(void* self) {
    Thread& thread = *static_cast<Thread*>(self);
    for (uint64_t next = 0;; ++next) {
      thread.await(
          [&] {
            if (thread.started.load(std::memory_order_acquire) > next) {
              return true;
            }
            return thread.quit.load();
          },
          &thread.helper_sleeps);
      if (thread.started.load(std::memory_order_acquire) <= next) break;
      const auto& slot = thread.queue[next % kQueued];
      slot.job(slot.context);
      thread.done.store(next + 1, std::memory_order_release);
      thread.wake(&thread.caller_sleeps);
    }
    return nullptr;
  }
};

uint64_t HelperThread::start(Job job, void* context) {
  if (!tried_) {
    tried_ = true;
    thread_ = Thread::begin();
  }
  if (thread_ == nullptr) {
    job(context);
    return ++started_;
  }
  // A full queue waits for its oldest job.
  if (started_ >= kQueued) wait(started_ - kQueued + 1);
  thread_->queue[started_ % kQueued] = {job, context};
  thread_->started.store(++started_, std::memory_order_release);
  thread_->wake(&thread_->helper_sleeps);
  return started_;
}

void HelperThread::wait(uint64_t number) {
  if (thread_ == nullptr) return;
  thread_->await(
      [&] { return thread_->done.load(std::memory_order_acquire) >= number; },
      &thread_->caller_sleeps);
}

HelperThread::~HelperThread() {
  if (thread_ == nullptr) return;
  wait(started_);
  pthread_mutex_lock(&thread_->mutex);
  thread_->quit = true;
  pthread_cond_broadcast(&thread_->changed);
  pthread_mutex_unlock(&thread_->mutex);
  pthread_join(thread_->id, nullptr);
  delete thread_;
}

}  // namespace placeharvest
