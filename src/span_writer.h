// Writing the outputs: what is to be written to one output is gathered as
// spans, so that text taken from the input (nearly all of the cleaned file)
// reaches the sink without being copied.
#ifndef PLACEHARVEST_SPAN_WRITER_H_
#define PLACEHARVEST_SPAN_WRITER_H_

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "place_filter.h"

namespace placeharvest {

class SpanWriter {
 public:
  explicit SpanWriter(ByteSink& sink);

  // Queues `text`. Text of 256 bytes or more is kept as a pointer and must
  // stay valid until the next flush(); shorter text is copied, since the
  // system writes a few large spans far faster than many tiny ones. Does
  // nothing once writing has failed.
  void add(std::string_view text) {
    if (text.size() < kCopyBelow) {
      copy(text);
    } else {
      push(text.data(), text.size());
    }
  }

  // Queues a copy of `text`, which need not outlive the call.
  void copy(std::string_view text) {
    // Place records add many short pieces, one after another: those go on
    // the end of the last span without a call.
    if (text.empty()) return;
    size_t end = staged_ + text.size();
    if (end <= kStagingSize && !spans_.empty() &&
        spans_.back().data + spans_.back().size == staging_.get() + staged_) {
      std::memcpy(staging_.get() + staged_, text.data(), text.size());
      spans_.back().size += text.size();
      staged_ = end;
      return;
    }
    copy_slowly(text);
  }

  // Writes everything queued. Returns false, now and from then on, once a
  // write has failed.
  bool flush();

  bool failed() const { return failed_; }
  int error_number() const { return error_number_; }

 private:
  static constexpr size_t kCopyBelow = 256;
  static constexpr size_t kStagingSize = 64 * 1024;

  void copy_slowly(std::string_view text);
  void push(const char* data, size_t size);

  ByteSink& sink_;
  std::vector<ByteSpan> spans_;
  std::unique_ptr<char[]> staging_;
  size_t staged_ = 0;
  bool failed_ = false;
  int error_number_ = 0;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_SPAN_WRITER_H_
