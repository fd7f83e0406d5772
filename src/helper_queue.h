// What the helper thread of each platform shares: the queue of jobs, and
// waiting for the other side by looking first and sleeping after. `Sync`
// gives a lock (lock(), unlock()), sleep() until wake_all() with the lock
// held, and yield() to the system's other threads.
#ifndef PLACEHARVEST_HELPER_QUEUE_H_
#define PLACEHARVEST_HELPER_QUEUE_H_

#include <atomic>
#include <cstdint>

#include "helper_thread.h"

namespace placeharvest {

template <typename Sync>
class HelperQueue {
 public:
  // Runs the jobs as they come, until quit() with none left.
  void run() {
    for (uint64_t next = 0;; ++next) {
      await(
          [&] {
            return started_.load(std::memory_order_acquire) > next ||
                   quit_.load();
          },
          &helper_sleeps_);
      if (started_.load(std::memory_order_acquire) <= next) return;
      const Slot& slot = slots_[next % kSlots];
      slot.job(slot.context);
      done_.store(next + 1, std::memory_order_release);
      wake(&caller_sleeps_);
    }
  }

  // Job `number` (counted from 1) is `job(context)`.
  void start(uint64_t number, HelperThread::Job job, void* context) {
    // A full queue waits for its oldest job.
    if (number > kSlots) wait(number - kSlots);
    slots_[(number - 1) % kSlots] = {job, context};
    started_.store(number, std::memory_order_release);
    wake(&helper_sleeps_);
  }

  void wait(uint64_t number) {
    await([&] { return done_.load(std::memory_order_acquire) >= number; },
          &caller_sleeps_);
  }

  void quit() {
    sync_.lock();
    quit_ = true;
    sync_.wake_all();
    sync_.unlock();
  }

 private:
  static constexpr uint64_t kSlots = 8;
  // Jobs come and end every few dozen microseconds, and a processor woken
  // from sleep can take longer than that to answer: each side looks this
  // many times before it sleeps.
  static constexpr int kLooks = 20000;

  struct Slot {
    HelperThread::Job job;
    void* context;
  };

  template <typename Ready>
  void await(Ready ready, bool* sleeps) {
    for (int i = 0; i < kLooks; ++i) {
      if (ready()) return;
      // The other side may be waiting for this processor.
      if (i % 64 == 63) {
        Sync::yield();
      } else {
        pause();
      }
    }
    sync_.lock();
    while (!ready()) {
      *sleeps = true;
      sync_.sleep();
      *sleeps = false;
    }
    sync_.unlock();
  }

  void wake(const bool* sleeps) {
    sync_.lock();
    if (*sleeps) sync_.wake_all();
    sync_.unlock();
  }

  static void pause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
  }

  Sync sync_;
  Slot slots_[kSlots];
  std::atomic<uint64_t> started_{0};  // jobs ever started
  std::atomic<uint64_t> done_{0};     // jobs ever run
  std::atomic<bool> quit_{false};
  // Guarded by the lock:
  bool helper_sleeps_ = false;
  bool caller_sleeps_ = false;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_HELPER_QUEUE_H_
