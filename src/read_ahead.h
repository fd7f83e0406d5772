// One read made ahead on the helper thread, into a place the caller
// chose, while the caller works on. A read the helper has not begun by
// the time the caller wants its bytes is not made at all: the caller then
// reads them itself, at no more cost than waiting would have had.
#ifndef PLACEHARVEST_READ_AHEAD_H_
#define PLACEHARVEST_READ_AHEAD_H_

#include <cstddef>
#include <cstdint>

#include "byte_stream.h"
#include "helper_thread.h"

namespace placeharvest {

class ReadAhead {
 public:
  ReadAhead() = default;
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  // Finishes the read started, if any.
  ~ReadAhead() { finish(); }

  // Starts reading up to `capacity` bytes of `input` into `data` on
  // `helper`, once the jobs started there before it have run. The caller
  // leaves `data` alone until finish(), and `helper` must outlive the read.
  // One read at a time.
  void start(HelperThread& helper, ByteSource& input, char* data,
             size_t capacity);
  bool started() const { return started_; }
  // Waits for the read started, or takes it back unmade if the helper has
  // not begun it. Returns whether it was made: then the bytes are at the
  // `data` given to start(), and got() is what the read returned, with
  // error_number() its errno when that is below 0.
  bool finish();
  long long got() const { return got_; }
  int error_number() const { return error_number_; }

 private:
  static void run(void* self);

  HelperThread* helper_ = nullptr;
  ByteSource* input_ = nullptr;
  char* data_ = nullptr;
  size_t capacity_ = 0;
  long long got_ = 0;
  int error_number_ = 0;
  bool started_ = false;
  uint64_t number_ = 0;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_READ_AHEAD_H_
