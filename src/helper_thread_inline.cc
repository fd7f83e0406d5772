// For platforms without a helper thread: every job runs when it is started.
#include "helper_thread.h"

namespace placeharvest {

struct HelperThread::Thread {};

void HelperThread::start(Job job, void* context) { job(context); }
void HelperThread::wait() {}
HelperThread::~HelperThread() = default;

}  // namespace placeharvest
