// For the page, which has no threads: no helper thread is ever started, so
// every job runs when it is started, and the lock is never taken.
#include "helper_platform.h"

namespace placeharvest {

struct PlatformLock::State {};

PlatformLock::PlatformLock() : state_(nullptr) {}
PlatformLock::~PlatformLock() { delete state_; }
void PlatformLock::lock() {}
void PlatformLock::unlock() {}
void PlatformLock::sleep() {}
void PlatformLock::wake_all() {}

PlatformThread* start_platform_thread(void (*)(void*), void*) {
  return nullptr;
}
void join_platform_thread(PlatformThread*) {}
void yield_processor() {}

}  // namespace placeharvest
