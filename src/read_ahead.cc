#include "read_ahead.h"

#include <cerrno>

namespace placeharvest {

void ReadAhead::start(HelperThread& helper, ByteSource& input, char* data,
                      size_t capacity) {
  helper_ = &helper;
  input_ = &input;
  data_ = data;
  capacity_ = capacity;
  started_ = true;
  number_ = helper_->start(run, this);
}

void ReadAhead::run(void* self) {
  ReadAhead& ahead = *static_cast<ReadAhead*>(self);
  ahead.got_ = ahead.input_->read(ahead.data_, ahead.capacity_);
  if (ahead.got_ < 0) ahead.error_number_ = errno;
}

bool ReadAhead::finish() {
  if (!started_) return false;
  started_ = false;
  if (helper_->take_back(number_)) return false;
  helper_->wait(number_);
  return true;
}

}  // namespace placeharvest
