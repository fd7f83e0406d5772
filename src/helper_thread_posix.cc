#include <pthread.h>
#include <signal.h>

#include "helper_thread.h"

namespace placeharvest {
namespace {

// A job reads into a buffer the caller owns, and turns UTF-16 with a few
// bytes of locals: a small stack is plenty, and stays small under a low
// limit on memory.
constexpr size_t kStackSize = 256 * 1024;

}  // namespace

struct HelperThread::Thread {
  pthread_t id;
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
  Job job = nullptr;  // the job to run, until it has run
  void* context = nullptr;
  bool busy = false;  // from start() until the job has run
  bool quit = false;

  static void* run(void* self) {
    Thread& thread = *static_cast<Thread*>(self);
    pthread_mutex_lock(&thread.mutex);
    for (;;) {
      if (thread.job != nullptr) {
        Job job = thread.job;
        thread.job = nullptr;
        pthread_mutex_unlock(&thread.mutex);
        job(thread.context);
        pthread_mutex_lock(&thread.mutex);
        thread.busy = false;
        pthread_cond_broadcast(&thread.changed);
      } else if (thread.quit) {
        break;
      } else {
        pthread_cond_wait(&thread.changed, &thread.mutex);
      }
    }
    pthread_mutex_unlock(&thread.mutex);
    return nullptr;
  }
};

void HelperThread::start(Job job, void* context) {
  if (!tried_) {
    tried_ = true;
    auto* thread = new Thread;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, kStackSize);
    // The helper inherits this mask: signals go to the caller's thread, as
    // they would without a helper.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    if (pthread_create(&thread->id, &attributes, Thread::run, thread) == 0) {
      thread_ = thread;
    } else {
      delete thread;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    pthread_attr_destroy(&attributes);
  }
  if (thread_ == nullptr) {
    job(context);
    return;
  }
  pthread_mutex_lock(&thread_->mutex);
  thread_->job = job;
  thread_->context = context;
  thread_->busy = true;
  pthread_cond_broadcast(&thread_->changed);
  pthread_mutex_unlock(&thread_->mutex);
}

void HelperThread::wait() {
  if (thread_ == nullptr) return;
  pthread_mutex_lock(&thread_->mutex);
  while (thread_->busy) pthread_cond_wait(&thread_->changed, &thread_->mutex);
  pthread_mutex_unlock(&thread_->mutex);
}

HelperThread::~HelperThread() {
  if (thread_ == nullptr) return;
  pthread_mutex_lock(&thread_->mutex);
  thread_->quit = true;
  pthread_cond_broadcast(&thread_->changed);
  pthread_mutex_unlock(&thread_->mutex);
  pthread_join(thread_->id, nullptr);
  delete thread_;
}

}  // namespace placeharvest
