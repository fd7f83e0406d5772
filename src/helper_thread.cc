#include "helper_thread.h"

#include <atomic>

#include "helper_platform.h"

namespace placeharvest {
namespace {

// Jobs started and not yet run, at most.
constexpr uint64_t kSlots = 8;
// Jobs come and end every few dozen microseconds, and a processor woken
// from sleep can take longer than that to answer: each side looks this
// many times before it sleeps.
constexpr int kLooks = 20000;

void pause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace

struct HelperThread::Thread {
  PlatformThread* platform = nullptr;
  PlatformLock lock;
  struct {
    Job job;
    void* context;
    // Set by the helper as it begins the job, or by the caller as it
    // takes it back.
    std::atomic<bool> taken;
  } slots[kSlots];
  std::atomic<uint64_t> started{0};  // jobs ever started
  std::atomic<uint64_t> done{0};     // jobs ever run
  std::atomic<bool> quit{false};
  // Guarded by the lock:
  bool helper_sleeps = false;
  bool caller_sleeps = false;

  // Runs the jobs as they come, until `quit` with none left.
  static void run(void* self) {
    Thread& thread = *static_cast<Thread*>(self);
    for (uint64_t next = 0;; ++next) {
      thread.await(
          [&] {
            return thread.started.load(std::memory_order_acquire) > next ||
                   thread.quit.load();
          },
          &thread.helper_sleeps);
      if (thread.started.load(std::memory_order_acquire) <= next) return;
      auto& slot = thread.slots[next % kSlots];
      if (!slot.taken.exchange(true, std::memory_order_acq_rel)) {
        slot.job(slot.context);
      }
      thread.done.store(next + 1, std::memory_order_release);
      thread.wake(&thread.caller_sleeps);
    }
  }

  // Waits until `ready` holds: looks kLooks times, then sleeps on `sleeps`
  // until woken.
  template <typename Ready>
  void await(Ready ready, bool* sleeps) {
    for (int i = 0; i < kLooks; ++i) {
      if (ready()) return;
      // The other side may be waiting for this processor.
      if (i % 64 == 63) {
        yield_processor();
      } else {
        pause();
      }
    }
    lock.lock();
    while (!ready()) {
      *sleeps = true;
      lock.sleep();
      *sleeps = false;
    }
    lock.unlock();
  }

  void wake(const bool* sleeps) {
    lock.lock();
    if (*sleeps) lock.wake_all();
    lock.unlock();
  }
};

uint64_t HelperThread::start(Job job, void* context) {
  if (!tried_) {
    tried_ = true;
    auto* thread = new Thread;
    thread->platform = start_platform_thread(Thread::run, thread);
    if (thread->platform != nullptr) {
      thread_ = thread;
    } else {
      delete thread;
    }
  }
  const uint64_t number = ++started_;
  if (thread_ == nullptr) {
    job(context);
    return number;
  }
  // A full queue waits for its oldest job.
  if (number > kSlots) wait(number - kSlots);
  auto& slot = thread_->slots[(number - 1) % kSlots];
  slot.job = job;
  slot.context = context;
  slot.taken.store(false, std::memory_order_relaxed);
  thread_->started.store(number, std::memory_order_release);
  thread_->wake(&thread_->helper_sleeps);
  return number;
}

void HelperThread::wait(uint64_t number) {
  if (thread_ == nullptr) return;
  thread_->await(
      [&] { return thread_->done.load(std::memory_order_acquire) >= number; },
      &thread_->caller_sleeps);
}

void HelperThread::finish(uint64_t number) {
  if (!take_back(number)) {
    wait(number);
    return;
  }
  auto& slot = thread_->slots[(number - 1) % kSlots];
  slot.job(slot.context);
}

bool HelperThread::take_back(uint64_t number) {
  // Once a job has run, its slot may be a later job's; until then it is
  // its own, since only this thread starts jobs.
  if (thread_ == nullptr ||
      thread_->done.load(std::memory_order_acquire) >= number) {
    return false;
  }
  auto& slot = thread_->slots[(number - 1) % kSlots];
  return !slot.taken.exchange(true, std::memory_order_acq_rel);
}

HelperThread::~HelperThread() {
  if (thread_ == nullptr) return;
  wait(started_);
  thread_->lock.lock();
  thread_->quit = true;
  thread_->lock.wake_all();
  thread_->lock.unlock();
  join_platform_thread(thread_->platform);
  delete thread_;
}

}  // namespace placeharvest
