// The cleaned file of a UTF-16 input that can be read again, copied from
// the input's own bytes rather than turned back from the 8-bit form the
// filter reads (utf16.h): the filter says which of the bytes it takes go to
// the cleaned file, and this copies the UTF-16 they came from, as the
// source still keeps them or, where it does not, read again.
#ifndef PLACEHARVEST_CLEANED_COPY_H_
#define PLACEHARVEST_CLEANED_COPY_H_

#include <cstddef>
#include <cstdint>

#include "byte_stream.h"
#include "line_finder.h"
#include "page_buffer.h"
#include "span_writer.h"
#include "utf16.h"

namespace placeharvest {

class CleanedCopy final : public TakenBytes {
 public:
  // `input` is the UTF-16 input, which can be read again, and `source` its
  // 8-bit form, which from now on keeps the bytes it reads for this copy;
  // `cleaned` the cleaned file.
  CleanedCopy(ByteSource& input, Utf16Source& source, ByteSink& cleaned);

  // Told of each piece of the form taken, whole sequences.
  void taken(const char* form, size_t size) override;
  // Where in the input the bytes taken so far end.
  uint64_t offset() const { return offset_; }

  // Copies the input's bytes [from, to) to the cleaned file, behind those
  // copied before; `from` is not before the end of the last range. Does
  // nothing once a read or a write has failed.
  void copy(uint64_t from, uint64_t to);
  // Writes everything copied. Returns false, now and from then on, once a
  // read or a write has failed.
  bool flush();
  // From now on, the copy is written on `helper` while the caller goes on;
  // see SpanWriter::write_beside().
  void write_beside(HelperThread* helper);

  bool read_failed() const { return read_failed_; }
  bool write_failed() const { return writer_.failed(); }
  int error_number() const {
    return read_failed_ ? read_error_number_ : writer_.error_number();
  }

 private:
  bool send(uint64_t borrowed_to);
  bool read_window_at(uint64_t offset);

  ByteSource& input_;
  Utf16Source& source_;
  SpanWriter writer_;
  bool beside_ = false;
  // Bytes borrowed since the last send(), and, beside the caller, where
  // the bytes borrowed ended at each of the last sends, in a ring.
  size_t borrowed_since_send_ = 0;
  uint64_t borrowed_to_at_send_[SpanWriter::kWritesInFlight] = {};
  uint64_t sends_ = 0;
  // The input's bytes [window_from_, window_to_) are read into
  // windows_[current_], at the same offset within a page as in the input.
  // Writing beside, the windows before it are taken in turn, each once the
  // writes that borrow from it are done.
  PageBuffer windows_[SpanWriter::kWritesInFlight + 1];
  size_t current_ = 0;
  uint64_t window_from_ = 0;
  uint64_t window_to_ = 0;
  uint64_t offset_ = 0;
  bool read_failed_ = false;
  int read_error_number_ = 0;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_CLEANED_COPY_H_
