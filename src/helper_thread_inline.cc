// For platforms without a helper thread: every job runs when it is started.
#include "helper_thread.h"

namespace placeharvest {

struct HelperThread::Thread {};

uint64_t HelperThread::start(Job job, void* context) {
  job(context);
  return ++started_;
}
void HelperThread::wait(uint64_t) {}
HelperThread::~HelperThread() = default;

}  // namespace placeharvest
