// In-memory input and outputs for driving the filter in tests.
#ifndef PLACEHARVEST_TESTS_STRING_STREAMS_H_
#define PLACEHARVEST_TESTS_STRING_STREAMS_H_

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "place_filter.h"

namespace placeharvest {

// Hands out the input in pieces of at most `piece` bytes, as a pipe does;
// fails with EIO once `fail_after` bytes have been handed out. A source
// that can be read again acts as a regular file does, and tells its size
// unless `size_known` is false, as for a file that grew after it was
// opened.
class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string text, size_t piece = SIZE_MAX,
                        size_t fail_after = SIZE_MAX,
                        bool can_read_again = false, bool size_known = true)
      : text_(std::move(text)),
        piece_(piece),
        fail_after_(fail_after),
        can_read_again_(can_read_again),
        size_known_(size_known) {}

  bool can_read_again() const override { return can_read_again_; }
  uint64_t expected_size() const override {
    return can_read_again_ && size_known_ ? text_.size() : 0;
  }

  long long read(char* data, size_t capacity) override {
    long long count = read_at(position_, data, capacity);
    if (count > 0) position_ += static_cast<size_t>(count);
    return count;
  }

  long long read_at(uint64_t offset, char* data, size_t capacity) override {
    if (offset >= fail_after_) {
      errno = EIO;
      return -1;
    }
    size_t from = static_cast<size_t>(std::min<uint64_t>(offset, text_.size()));
    size_t count =
        std::min({capacity, piece_, text_.size() - from, fail_after_ - from});
    std::memcpy(data, text_.data() + from, count);
    return static_cast<long long>(count);
  }

 private:
  std::string text_;
  size_t piece_;
  size_t fail_after_;
  bool can_read_again_;
  bool size_known_;
  size_t position_ = 0;
};

// Collects what is written; fails with ENOSPC once it holds `room` bytes.
// Takes up to `max_spans` spans a write, as a file of some platform does.
class StringSink : public ByteSink {
 public:
  explicit StringSink(size_t room = SIZE_MAX, size_t max_spans = 1024)
      : room_(room), max_spans_(max_spans) {}

  size_t max_spans_per_write() const override { return max_spans_; }

  bool write(const ByteSpan* spans, size_t count) override {
    if (count > max_spans_) std::abort();  // the writer broke its promise
    for (size_t i = 0; i < count; ++i) {
      if (spans[i].size > room_ - text.size()) {
        errno = ENOSPC;
        if (room_freed_after_failure) room_ = SIZE_MAX;
        return false;
      }
      text.append(spans[i].data, spans[i].size);
    }
    return true;
  }

  std::string text;
  // As when another program frees space on a full disk: writes after the
  // one that failed succeed.
  bool room_freed_after_failure = false;

 private:
  size_t room_;
  size_t max_spans_;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_TESTS_STRING_STREAMS_H_
