#include "span_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace placeharvest {
namespace {

// Text shorter than this is copied rather than borrowed: a span of its own
// would cost the system more than the copy.
constexpr size_t kBorrowFrom = 256;
// Enough spans to make each write large, without a vector that outgrows
// what one write takes.
constexpr size_t kMostSpans = 1024;

}  // namespace

SpanWriter::SpanWriter(ByteSink& sink)
    : sink_(sink),
      max_spans_(std::clamp<size_t>(sink.max_spans_per_write(), 1, kMostSpans)),
      copy_below_(max_spans_ == 1 ? SIZE_MAX : kBorrowFrom),
      staging_(new char[kStagingSize]) {
  spans_.reserve(max_spans_);
}

void SpanWriter::copy_slowly(std::string_view text) {
  while (!text.empty() && !failed_) {
    // Room for the piece and for its span, so that push() does not flush
    // the staging buffer under it.
    if ((staged_ == kStagingSize ||
         (spans_.size() == max_spans_ && !staging_ends_last_span())) &&
        !flush()) {
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

char* SpanWriter::room_slowly(size_t size) {
  if (failed_ || size > kStagingSize) return nullptr;
  if (staged_ + size > kStagingSize && !flush()) return nullptr;
  if (!staging_ends_last_span()) {
    if (spans_.size() == max_spans_ && !flush()) return nullptr;
    spans_.push_back({staging_.get() + staged_, 0});
  }
  return staging_.get() + staged_;
}

void SpanWriter::push(const char* data, size_t size) {
  if (failed_ || size == 0) return;
  if (!spans_.empty() && spans_.back().data + spans_.back().size == data) {
    spans_.back().size += size;
    return;
  }
  if (spans_.size() == max_spans_ && !flush()) return;
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
