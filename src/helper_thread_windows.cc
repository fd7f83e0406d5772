#include <windows.h>

#include "helper_queue.h"
#include "helper_thread.h"

namespace placeharvest {
namespace {

// A job writes from buffers the caller owns, turning text back into UTF-16
// on the way for a UTF-16 input, with a few bytes of locals: a small stack
// is plenty.
constexpr SIZE_T kStackSize = 256 * 1024;

struct WindowsSync {
  SRWLOCK lock_ = SRWLOCK_INIT;
  CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;

  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }
  void sleep() { SleepConditionVariableSRW(&changed, &lock_, INFINITE, 0); }
  void wake_all() { WakeAllConditionVariable(&changed); }
  static void yield() { SwitchToThread(); }
};

}  // namespace

struct HelperThread::Thread {
  HANDLE handle = nullptr;
  HelperQueue<WindowsSync> queue;

  // A new helper, or null where none can be had or would help.
  static Thread* begin() {
    // With one processor, a second thread would only take turns with the
    // first.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    if (system.dwNumberOfProcessors < 2) return nullptr;
    auto* thread = new Thread;
    thread->handle = CreateThread(nullptr, kStackSize, run, thread,
                                  STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread->handle == nullptr) {
      delete thread;
      return nullptr;
    }
    return thread;
  }

  static DWORD WINAPI run(void* self) {
    static_cast<Thread*>(self)->queue.run();
    return 0;
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
  WaitForSingleObject(thread_->handle, INFINITE);
  CloseHandle(thread_->handle);
  delete thread_;
}

}  // namespace placeharvest
