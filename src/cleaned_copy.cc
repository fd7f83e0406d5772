#include "cleaned_copy.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string_view>

#include "utf16.h"

namespace placeharvest {
namespace {

// The input is read again this much at a time, and bytes the source keeps
// are handed to the writer this much at a time: the ranges between place
// records are short, and a read or a write of each would cost more than
// the bytes.
constexpr size_t kWindow = 64 * 1024;
// Beside the caller, kept bytes are handed over this much at a time: the
// helper writes the whole cleaned file, and fewer, larger writes keep it
// less busy. 256 KiB took a 100 MB tree in UTF-16 0.93 to 0.97 times as
// long as 64 KiB; 512 KiB, with the more blocks kept that it needs, 1.04
// to 1.07 times.
constexpr size_t kSendBeside = 256 * 1024;

}  // namespace

CleanedCopy::CleanedCopy(ByteSource& input, Utf16Source& source,
                         ByteSink& cleaned)
    : input_(input), source_(source), writer_(cleaned) {
  source_.keep_raw_from(0);
}

void CleanedCopy::taken(const char* form, size_t size) {
  offset_ += utf16_size_of_form(form, size);
}

// Most bytes are still kept by the source, which read them a moment ago:
// only the rest is read again.
void CleanedCopy::copy(uint64_t from, uint64_t to) {
  while (from < to && !read_failed_ && !writer_.failed()) {
    const char* start;
    size_t size = source_.kept_raw(from, to - from, &start);
    if (size > 0) {
      // So that the source can reuse what it keeps.
      size_t send_at = beside_ ? kSendBeside : kWindow;
      if (borrowed_since_send_ >= send_at && !send(from)) return;
    } else {
      if ((from < window_from_ || from >= window_to_) &&
          !read_window_at(from)) {
        return;
      }
      size = static_cast<size_t>(std::min(to, window_to_) - from);
      start = windows_[current_].data() + window_from_ % kPageSize +
              static_cast<size_t>(from - window_from_);
    }
    writer_.add_borrowed(std::string_view(start, size));
    borrowed_since_send_ += size;
    from += size;
  }
}

void CleanedCopy::write_beside(HelperThread* helper) {
  writer_.write_beside(helper);
  beside_ = true;
}

// Hands what was borrowed, from in front of `borrowed_to`, to the writer.
// What a write borrowed need no longer be kept once it is done: at once
// on the caller's thread; beside it, kWritesInFlight calls later. Reading
// the file again instead took a 10 MB tree in UTF-16 1.06 times as long.
bool CleanedCopy::send(uint64_t borrowed_to) {
  if (!writer_.send()) return false;
  borrowed_since_send_ = 0;
  if (!beside_) {
    source_.keep_raw_from(borrowed_to);
    return true;
  }
  uint64_t& oldest =
      borrowed_to_at_send_[sends_++ % std::size(borrowed_to_at_send_)];
  source_.keep_raw_from(oldest);
  oldest = borrowed_to;
  return true;
}

// Reads the window from `offset` on, once what borrows from it is written:
// what borrows from the next window was handed over at the latest by the
// send() kWritesInFlight calls before this one, or, not beside the caller,
// by this one.
bool CleanedCopy::read_window_at(uint64_t offset) {
  if (!send(offset)) return false;
  if (beside_) current_ = (current_ + 1) % std::size(windows_);
  // Most files never need one.
  if (windows_[current_].data() == nullptr) {
    windows_[current_] = PageBuffer(kWindow + kPageSize);
  }
  size_t front = static_cast<size_t>(offset % kPageSize);
  long long got =
      input_.read_at(offset, windows_[current_].data() + front, kWindow);
  if (got <= 0) {
    // An input that ends early has changed while it was read.
    read_failed_ = true;
    read_error_number_ = got < 0 ? errno : EIO;
    return false;
  }
  window_from_ = offset;
  window_to_ = offset + static_cast<uint64_t>(got);
  return true;
}

bool CleanedCopy::flush() { return !read_failed_ && writer_.flush(); }

}  // namespace placeharvest
