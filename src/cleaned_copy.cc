#include "cleaned_copy.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string_view>

#include "utf16.h"

namespace placeharvest {
namespace {

// The input is read again this much at a time: the ranges between place
// records are short, and a read or a write of each would cost more than
// the bytes.
constexpr size_t kWindow = 64 * 1024;

}  // namespace

CleanedCopy::CleanedCopy(ByteSource& input, ByteSink& cleaned)
    : input_(input), writer_(cleaned) {
  windows_[0] = PageBuffer(kWindow + kPageSize);
}

void CleanedCopy::taken(const char* form, size_t size) {
  offset_ += utf16_size_of_form(form, size);
}

void CleanedCopy::copy(uint64_t from, uint64_t to) {
  while (from < to && !read_failed_ && !writer_.failed()) {
    if ((from < window_from_ || from >= window_to_) && !read_window_at(from)) {
      return;
    }
    size_t size = static_cast<size_t>(std::min(to, window_to_) - from);
    const char* start = windows_[current_].data() + window_from_ % kPageSize +
                        static_cast<size_t>(from - window_from_);
    writer_.add_borrowed(std::string_view(start, size));
    from += size;
  }
}

void CleanedCopy::write_beside(HelperThread* helper) {
  writer_.write_beside(helper);
  for (PageBuffer& window : windows_) {
    if (window.data() == nullptr) window = PageBuffer(kWindow + kPageSize);
  }
}

// Reads the window from `offset` on, once what borrows from it is written.
bool CleanedCopy::read_window_at(uint64_t offset) {
  if (windows_[1].data() == nullptr) {
    if (!writer_.flush()) return false;
  } else {
    // What borrows from the next window was handed over at the latest by
    // the send() that came kWritesInFlight calls before this one, and so is
    // written once this one has returned.
    if (!writer_.send()) return false;
    current_ = (current_ + 1) % std::size(windows_);
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
