// What each platform gives the helper thread (helper_thread.h): a lock with
// a condition to sleep on, a thread, and a way to give up the processor.
// helper_platform_posix.cc and helper_platform_windows.cc have threads;
// helper_platform_none.cc, for the page, has none.
#ifndef PLACEHARVEST_HELPER_PLATFORM_H_
#define PLACEHARVEST_HELPER_PLATFORM_H_

#include <cstddef>

namespace placeharvest {

// The helper's stack. It writes from buffers its caller owns, turning text
// back into UTF-16 on the way for a UTF-16 input, with a few bytes of
// locals: a small stack is plenty, and stays small under a low limit on
// memory.
inline constexpr size_t kHelperStackSize = 256 * 1024;

class PlatformLock {
 public:
  PlatformLock();
  PlatformLock(const PlatformLock&) = delete;
  PlatformLock& operator=(const PlatformLock&) = delete;
  ~PlatformLock();

  void lock();
  void unlock();
  // Sleeps until wake_all(), or for no reason; called with the lock held.
  void sleep();
  void wake_all();

 private:
  struct State;
  State* state_;
};

struct PlatformThread;
// Starts `run(context)` on a new thread with a stack of kHelperStackSize
// that takes no signals but SIGPIPE, where the caller takes that. Returns
// null when no thread can be had, or when one processor is all there is.
PlatformThread* start_platform_thread(void (*run)(void*), void* context);
// Waits for the thread to end, and frees it.
void join_platform_thread(PlatformThread* thread);

// Lets another thread that waits for this processor have it.
void yield_processor();

}  // namespace placeharvest

#endif  // PLACEHARVEST_HELPER_PLATFORM_H_
