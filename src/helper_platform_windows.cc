#include <windows.h>

#include "helper_platform.h"

namespace placeharvest {

struct PlatformLock::State {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
};

PlatformLock::PlatformLock() : state_(new State) {}
PlatformLock::~PlatformLock() { delete state_; }
void PlatformLock::lock() { AcquireSRWLockExclusive(&state_->lock); }
void PlatformLock::unlock() { ReleaseSRWLockExclusive(&state_->lock); }
void PlatformLock::sleep() {
  SleepConditionVariableSRW(&state_->changed, &state_->lock, INFINITE, 0);
}
void PlatformLock::wake_all() { WakeAllConditionVariable(&state_->changed); }

struct PlatformThread {
  HANDLE handle;
  void (*run)(void*);
  void* context;

  static DWORD WINAPI start(void* self) {
    auto* thread = static_cast<PlatformThread*>(self);
    thread->run(thread->context);
    return 0;
  }
};

PlatformThread* start_platform_thread(void (*run)(void*), void* context) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  if (system.dwNumberOfProcessors < 2) return nullptr;
  auto* thread = new PlatformThread{nullptr, run, context};
  thread->handle =
      CreateThread(nullptr, kHelperStackSize, PlatformThread::start, thread,
                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread->handle == nullptr) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void join_platform_thread(PlatformThread* thread) {
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

void yield_processor() { SwitchToThread(); }

}  // namespace placeharvest
