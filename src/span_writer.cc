#include "span_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

namespace placeharvest {
namespace {

// Text shorter than this is copied rather than borrowed: a span of its own
// would cost the system more than the copy.
constexpr size_t kBorrowFrom = 256;
// Enough spans to make each write large, without a vector that outgrows
// what one write takes.
constexpr size_t kMostSpans = 1024;
// Beside the caller, each hand-over takes this many writes' spans, so that
// the caller seldom waits for the write it handed over before.
constexpr size_t kWritesBeside = 4;

}  // namespace

SpanWriter::SpanWriter(ByteSink& sink)
    : sink_(sink),
      max_spans_(std::clamp<size_t>(sink.max_spans_per_write(), 1, kMostSpans)),
      copy_below_(max_spans_ == 1 ? SIZE_MAX : kBorrowFrom),
      batch_spans_(max_spans_),
      staging_(new char[kStagingSize]) {
  spans_.reserve(batch_spans_);
}

SpanWriter::~SpanWriter() { finish_sent(send_calls_); }

void SpanWriter::write_beside(HelperThread* helper) {
  if (helper_ != nullptr) return;
  helper_ = helper;
  batch_spans_ = max_spans_ * kWritesBeside;
  spans_.reserve(batch_spans_);
  for (Sent& sent : sent_) {
    sent.writer = this;
    sent.spans.reserve(batch_spans_);
    sent.staging.reset(new char[kStagingSize]);
  }
}

void SpanWriter::copy_slowly(std::string_view text) {
  while (!text.empty() && !failed_) {
    // Room for the piece and for its span, so that push() does not flush
    // the staging buffer under it.
    if ((staged_ == kStagingSize ||
         (spans_.size() == batch_spans_ && !staging_ends_last_span())) &&
        !send()) {
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
  if (staged_ + size > kStagingSize && !send()) return nullptr;
  if (!staging_ends_last_span()) {
    if (spans_.size() == batch_spans_ && !send()) return nullptr;
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
  if (spans_.size() == batch_spans_ && !send()) return;
  spans_.push_back({data, size});
}

bool SpanWriter::send() {
  // Each call counts, whether it hands anything over or not: a caller that
  // reuses memory after so many calls need not know which handed it over.
  ++send_calls_;
  if (send_calls_ >= kWritesInFlight) {
    finish_sent(send_calls_ - kWritesInFlight);
  }
  if (failed_) return false;
  if (spans_.empty()) return true;
  if (helper_ == nullptr) {
    if (!write_out(spans_)) {
      failed_ = true;
      error_number_ = errno;
    }
  } else {
    // At most kWritesInFlight - 1 are left, each from a call of its own.
    Sent& sent = sent_[(oldest_ + in_flight_) % kWritesInFlight];
    // The spans may point into the staging buffer, which goes with them.
    std::swap(spans_, sent.spans);
    std::swap(staging_, sent.staging);
    sent.send_call = send_calls_;
    sent.number = helper_->start(write_sent, &sent);
    ++in_flight_;
  }
  spans_.clear();
  staged_ = 0;
  return !failed_;
}

bool SpanWriter::flush() {
  send();
  finish_sent(send_calls_);
  return !failed_;
}

bool SpanWriter::write_out(const std::vector<ByteSpan>& spans) {
  for (size_t from = 0; from < spans.size(); from += max_spans_) {
    size_t count = std::min(max_spans_, spans.size() - from);
    if (!sink_.write(spans.data() + from, count)) return false;
  }
  return true;
}

void SpanWriter::write_sent(void* context) {
  Sent& sent = *static_cast<Sent*>(context);
  SpanWriter& writer = *sent.writer;
  // The writes in flight run one after another on the helper. One behind a
  // write that failed is not tried: it could leave a gap in the output.
  if (!writer.beside_failed_ && !writer.write_out(sent.spans)) {
    writer.beside_failed_ = true;
    writer.beside_error_number_ = errno;
  }
  sent.ok = !writer.beside_failed_;
  sent.error_number = writer.beside_error_number_;
}

// Waits for this writer's writes beside the caller that send() call
// `up_to_call` or an earlier one handed over, and takes note of how they
// went.
void SpanWriter::finish_sent(uint64_t up_to_call) {
  while (in_flight_ > 0 && sent_[oldest_].send_call <= up_to_call) {
    Sent& sent = sent_[oldest_];
    helper_->wait(sent.number);
    if (!sent.ok && !failed_) {
      failed_ = true;
      error_number_ = sent.error_number;
    }
    oldest_ = (oldest_ + 1) % kWritesInFlight;
    --in_flight_;
  }
}

}  // namespace placeharvest
