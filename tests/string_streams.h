// In-memory input and outputs for driving the filter in tests.
#ifndef PLACEHARVEST_TESTS_STRING_STREAMS_H_
#define PLACEHARVEST_TESTS_STRING_STREAMS_H_

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "place_filter.h"

namespace placeharvest {

// Hands out the input in pieces of at most `piece` bytes, as a pipe does;
// fails with EIO once `fail_after` bytes have been handed out. A viewable
// source shows its text in place instead, as a mapped file does.
class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string text, size_t piece = SIZE_MAX,
                        size_t fail_after = SIZE_MAX, bool viewable = false)
      : text_(std::move(text)),
        piece_(piece),
        fail_after_(fail_after),
        viewable_(viewable) {}

  bool can_view() const override { return viewable_; }

  const char* view(uint64_t offset, size_t size, size_t* available) override {
    if (offset + size > fail_after_) {
      errno = EIO;
      return nullptr;
    }
    // A copy of its own, so that reading past the view shows under
    // AddressSanitizer.
    shown_.assign(text_, std::min<size_t>(offset, text_.size()), size);
    *available = shown_.size();
    return shown_.data();
  }

  long long read(char* data, size_t capacity) override {
    if (position_ >= fail_after_) {
      errno = EIO;
      return -1;
    }
    size_t count = std::min(
        {capacity, piece_, text_.size() - position_, fail_after_ - position_});
    std::memcpy(data, text_.data() + position_, count);
    position_ += count;
    return static_cast<long long>(count);
  }

 private:
  std::string text_;
  size_t piece_;
  size_t fail_after_;
  bool viewable_;
  size_t position_ = 0;
  std::string shown_;
};

// Collects what is written; fails with ENOSPC once it holds `room` bytes.
class StringSink : public ByteSink {
 public:
  explicit StringSink(size_t room = SIZE_MAX) : room_(room) {}

  bool write(const ByteSpan* spans, size_t count) override {
    for (size_t i = 0; i < count; ++i) {
      if (spans[i].size > room_ - text.size()) {
        errno = ENOSPC;
        return false;
      }
      text.append(spans[i].data, spans[i].size);
    }
    return true;
  }

  std::string text;

 private:
  size_t room_;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_TESTS_STRING_STREAMS_H_
