#include "span_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace placeharvest {
namespace {

// One POSIX writev() takes up to 1024 spans.
constexpr size_t kMaxSpans = 1024;

}  // namespace

SpanWriter::SpanWriter(ByteSink& sink)
    : sink_(sink), staging_(new char[kStagingSize]) {
  spans_.reserve(kMaxSpans);
}

void SpanWriter::copy_slowly(std::string_view text) {
  while (!text.empty() && !failed_) {
    // Room for the piece and for its span, so that push() does not flush
    // the staging buffer under it.
    if ((staged_ == kStagingSize || spans_.size() == kMaxSpans) && !flush()) {
      return;
    }
    size_t piece = std::min(text.size(), kStagingSize - staged_);
    char* staged = staging_.get() + staged_;
    std::memcpy(staged, text.data(), piece);
    staged_ += piece;
    push(staged, piece);
    text.remove_prefix(piece);
  }
}

void SpanWriter::push(const char* data, size_t size) {
  if (failed_) return;
  if (!spans_.empty() && spans_.back().data + spans_.back().size == data) {
    spans_.back().size += size;
    return;
  }
  if (spans_.size() == kMaxSpans && !flush()) return;
  spans_.push_back({data, size});
}

bool SpanWriter::flush() {
  if (failed_) return false;
  if (!spans_.empty() && !sink_.write(spans_.data(), spans_.size())) {
    failed_ = true;
    error_number_ = errno;
  }
  spans_.clear();
  staged_ = 0;
  return !failed_;
}

}  // namespace placeharvest
