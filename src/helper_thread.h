// A second thread for work that can go on while the caller works: the
// input's next block is read while the caller finds lines in this one.
#ifndef PLACEHARVEST_HELPER_THREAD_H_
#define PLACEHARVEST_HELPER_THREAD_H_

namespace placeharvest {

// Runs one job at a time beside the calling thread. Where the platform has
// no threads, or none can be started (a limit on memory or on processes),
// start() runs the job itself before it returns; callers cannot tell the
// difference but by the time taken. Signals are never delivered to the
// helper. Only one thread may call start() and wait().
class HelperThread {
 public:
  using Job = void (*)(void* context);

  HelperThread() = default;
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;
  // Waits for the job, then ends the thread.
  ~HelperThread();

  // Starts `job(context)`; the job started before must have been waited for.
  void start(Job job, void* context);
  // Returns once the job started last has finished.
  void wait();

 private:
  struct Thread;
  // Neither is used where the platform has no threads.
  [[maybe_unused]] Thread* thread_ = nullptr;
  [[maybe_unused]] bool tried_ = false;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_HELPER_THREAD_H_
