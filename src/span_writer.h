// Writing one output: what goes to it is gathered as spans, so that text
// borrowed from the input (nearly all of the cleaned file) reaches the sink
// without being copied, and short text is copied into a staging buffer.
// The writes may go on beside the caller, on a helper thread, while the
// caller gathers the next spans into a second staging buffer.
#ifndef PLACEHARVEST_SPAN_WRITER_H_
#define PLACEHARVEST_SPAN_WRITER_H_

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "byte_stream.h"
#include "helper_thread.h"

namespace placeharvest {

class SpanWriter {
 public:
  explicit SpanWriter(ByteSink& sink);
  // Waits for a write going on beside the caller.
  ~SpanWriter();

  // From now on, writes go on beside the caller on `helper`, which other
  // writers may share and which must outlive this writer; the sink is then
  // used by the helper alone.
  void write_beside(HelperThread* helper);

  // Writes handed to the helper and not yet waited for, at most: with more
  // than one, a write that takes longer than usual does not hold up the
  // caller.
  static constexpr size_t kWritesInFlight = 2;

  // Queues `text`, which must stay valid until it is written: until the
  // next flush(), or when writing beside the caller, until the
  // kWritesInFlight-th send() after the one that hands it to the sink has
  // returned. Short text is copied all the same, since the system writes a
  // few large spans far faster than many tiny ones; so is all text for a
  // sink that takes one span per write. Does nothing once writing has
  // failed.
  void add_borrowed(std::string_view text) {
    if (text.size() < copy_below_) {
      add_copy(text);
    } else {
      push(text.data(), text.size());
    }
  }

  // Queues a copy of `text`, which need not outlive the call.
  void add_copy(std::string_view text) {
    // Blocks add many short pieces, one after another: those go on the end
    // of the last span without a call.
    size_t end = staged_ + text.size();
    if (end <= kStagingSize && staging_ends_last_span()) {
      std::memcpy(staging_.get() + staged_, text.data(), text.size());
      spans_.back().size += text.size();
      staged_ = end;
      return;
    }
    copy_slowly(text);
  }

  // Returns where `size` bytes can be staged, to be queued by commit(), or
  // null when they do not fit the staging buffer or writing has failed.
  char* room(size_t size) {
    if (staged_ + size <= kStagingSize && staging_ends_last_span()) {
      return staging_.get() + staged_;
    }
    return room_slowly(size);
  }
  // Queues the `size` bytes stored where room() said.
  void commit(size_t size) {
    spans_.back().size += size;
    staged_ += size;
  }

  // Hands everything queued to the sink. Beside the caller, it first waits
  // until what was handed over before the last kWritesInFlight - 1 calls
  // is written. Returns false, now and from then on, once a write has
  // failed; a write beside the caller is known to have failed only at a
  // later send() or flush().
  bool send();
  // Writes everything queued and waits until it is written. Returns false,
  // now and from then on, once a write has failed.
  bool flush();

  bool failed() const { return failed_; }
  int error_number() const { return error_number_; }

 private:
  static constexpr size_t kStagingSize = 64 * 1024;

  bool staging_ends_last_span() const {
    return !spans_.empty() &&
           spans_.back().data + spans_.back().size == staging_.get() + staged_;
  }
  // A write handed to the helper: the spans, the staging they may point
  // into, and how the write went, valid once the helper is done with it.
  struct Sent {
    SpanWriter* writer = nullptr;
    std::vector<ByteSpan> spans;
    std::unique_ptr<char[]> staging;
    uint64_t send_call = 0;  // the send() that handed it over
    uint64_t number = 0;     // the helper's number for the write
    bool ok = true;
    int error_number = 0;
  };

  bool write_out(const std::vector<ByteSpan>& spans);
  static void write_sent(void* sent);
  void finish_sent(uint64_t up_to_call);
  void copy_slowly(std::string_view text);
  char* room_slowly(size_t size);
  void push(const char* data, size_t size);

  ByteSink& sink_;
  const size_t max_spans_;
  const size_t copy_below_;
  size_t batch_spans_;  // spans handed to the sink at a time
  std::vector<ByteSpan> spans_;
  std::unique_ptr<char[]> staging_;
  size_t staged_ = 0;
  bool failed_ = false;
  int error_number_ = 0;
  // Beside the caller: the writes in flight, oldest first, from
  // sent_[oldest_] on, in a ring.
  HelperThread* helper_ = nullptr;
  Sent sent_[kWritesInFlight];
  size_t oldest_ = 0;
  size_t in_flight_ = 0;
  uint64_t send_calls_ = 0;
  // Used by the writes in flight alone.
  bool beside_failed_ = false;
  int beside_error_number_ = 0;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_SPAN_WRITER_H_
