// A second thread for work that can go on while the caller works: the
// cleaned file is written while the caller reads and splits the input.
#ifndef PLACEHARVEST_HELPER_THREAD_H_
#define PLACEHARVEST_HELPER_THREAD_H_

#include <cstdint>

namespace placeharvest {

// Runs jobs in the order they are started, beside the calling thread, but
// for those the caller takes back, to run itself (finish) or not at all
// (take_back). Where the platform has no threads, or none can be started
// (a limit on memory or on processes), start() runs the job itself before
// it returns; callers cannot tell the difference but by the time taken.
// Signals are never delivered to the helper, but for the SIGPIPE of its
// own write to a pipe that nobody reads, which stops the program as it
// would on the calling thread. Only one thread may call
// start(), wait(), finish() and take_back().
class HelperThread {
 public:
  using Job = void (*)(void* context);

  HelperThread() = default;
  HelperThread(const HelperThread&) = delete;
  HelperThread& operator=(const HelperThread&) = delete;
  // Waits for every job, then ends the thread.
  ~HelperThread();

  // Starts `job(context)` once the jobs started before it have run, and
  // returns its number, for wait().
  uint64_t start(Job job, void* context);
  // Returns once job `number`, and every job before it, has run.
  void wait(uint64_t number);
  // Returns once job `number` has run: on the calling thread, unless the
  // helper has begun it by then, so that a helper busy with the jobs
  // before it never keeps the caller waiting; the helper then passes over
  // it. Only for a job that needs none of the jobs before it to have run.
  void finish(uint64_t number);
  // Takes job `number` back unrun, unless the helper has begun it, and
  // returns whether it did: the helper then passes over it, and the caller
  // does its work in its own way or not at all.
  bool take_back(uint64_t number);
  // Returns once every job started has run.
  void wait() { wait(started_); }

 private:
  struct Thread;
  Thread* thread_ = nullptr;
  bool tried_ = false;
  uint64_t started_ = 0;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_HELPER_THREAD_H_
