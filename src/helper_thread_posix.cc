#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include "helper_queue.h"
#include "helper_thread.h"

namespace placeharvest {
namespace {

// A job writes from buffers the caller owns, turning text back into UTF-16
// on the way for a UTF-16 input, with a few bytes of locals: a small stack
// is plenty, and stays small under a low limit on memory.
constexpr size_t kStackSize = 256 * 1024;

struct PosixSync {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t changed = PTHREAD_COND_INITIALIZER;

  void lock() { pthread_mutex_lock(&mutex); }
  void unlock() { pthread_mutex_unlock(&mutex); }
  void sleep() { pthread_cond_wait(&changed, &mutex); }
  void wake_all() { pthread_cond_broadcast(&changed); }
  static void yield() { sched_yield(); }
};

}  // namespace

struct HelperThread::Thread {
  pthread_t id;
  HelperQueue<PosixSync> queue;

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
    static_cast<Thread*>(self)->queue.run();
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
  } else {
    thread_->queue.start(started_ + 1, job, context);
  }
  return ++started_;
}

void HelperThread::wait(uint64_t number) {
  if (thread_ != nullptr) thread_->queue.wait(number);
}

HelperThread::~HelperThread() {
  if (thread_ == nullptr) return;
  thread_->queue.wait(started_);
  thread_->queue.quit();
  pthread_join(thread_->id, nullptr);
  delete thread_;
}

}  // namespace placeharvest
