#include "line_finder.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "byte_kernels.h"

namespace placeharvest {
namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);
constexpr size_t kPage = kPageSize;
// Line ends are found LineFinder::kWindow bytes at a time; that many bytes
// after the data are kept zero, so that a window may reach past it.
constexpr size_t kWindow = LineFinder::kWindow;
static_assert(kWindow == 64, "byte_bits() looks at 64 bytes at a time");

}  // namespace

LineFinder::LineFinder(ByteSource& input, Marker marker, size_t block_size,
                       std::function<bool()> before_move)
    : input_(input),
      marker_(marker),
      block_size_(std::max<size_t>(block_size, 1)),
      before_move_(std::move(before_move)),
      counting_(!input.can_read_again()) {}

void LineFinder::detect_line_ends() {
  for (size_t from = 0;;) {
    const char* found =
        std::find_if(buffer_ + from, buffer_ + end_,
                     [](char c) { return c == '\n' || c == '\r'; });
    size_t position = static_cast<size_t>(found - buffer_);
    if (position < end_ && *found == '\n') {
      if (position > 0 && buffer_[position - 1] == '\r') line_end_ = "\r\n";
      return;
    }
    // A run of CRs decides by the byte after it, which may not be read yet.
    size_t after_run = position;
    while (after_run < end_ && buffer_[after_run] == '\r') ++after_run;
    if (after_run == end_) {
      if (at_end_) return;  // no line end, or CRs at the very end
      from = position - begin_;
      if (!fill()) return;
      from += begin_;
      continue;
    }
    if (buffer_[after_run] == '\n') {
      line_end_ = "\r\n";  // "\r\r\n": a file written twice as text
    } else {
      line_end_byte_ = '\r';
      line_end_ = "\r";
    }
    return;
  }
}

bool LineFinder::ordinary_lines(std::string_view* run) {
  if (begin_ == marker_line_) return false;
  search_from_ = begin_;
  for (;;) {
    size_t marker = find_marker(search_from_, end_);
    size_t run_end;
    if (marker != kNotFound) {
      run_end = after_last_line_end(search_from_, marker);
      if (run_end == kNotFound) return false;  // the marker's line is next
      marker_line_ = run_end;
    } else {
      run_end = after_last_line_end(search_from_, end_);
      if (run_end == kNotFound && at_end_ && end_ > begin_) {
        run_end = end_;  // a last line without a line end
      }
    }
    if (run_end != kNotFound) {
      *run = std::string_view(buffer_ + begin_, run_end - begin_);
      return true;
    }
    if (at_end_) return false;
    // A marker may straddle the end of what has been read so far.
    search_from_ =
        std::max(begin_, end_ - std::min(end_, marker_.text.size() - 1));
    size_t kept_from = search_from_ - begin_;
    if (!fill()) return false;
    search_from_ = begin_ + kept_from;
  }
}

bool LineFinder::peek_line_slowly(Line* line) {
  for (;;) {
    size_t found = next_line_end(search_from_);
    const char* start = buffer_ + begin_;
    if (found != kNotFound) {
      shape_line(found + 1 - begin_, line);
      return true;
    }
    if (at_end_) {
      if (begin_ == end_) return false;
      line->content = std::string_view(start, end_ - begin_);
      line->ending = {};
      return true;
    }
    size_t kept_from = end_ - begin_;
    if (!fill()) return false;
    search_from_ = begin_ + kept_from;
  }
}

// Returns the first line end in [from, end_), or kNotFound.
size_t LineFinder::next_line_end(size_t from) {
  while (from < end_) {
    if (!window_valid_ || from < window_start_ ||
        from >= window_start_ + kWindow) {
      window_start_ = from;
      window_bits_ = byte_bits(buffer_ + from, line_end_byte_);
      window_valid_ = true;
    }
    uint64_t bits = window_bits_ >> (from - window_start_);
    if (bits != 0) {
      size_t found = from + lowest_bit(bits);
      return found < end_ ? found : kNotFound;
    }
    from = window_start_ + kWindow;
  }
  return kNotFound;
}

void LineFinder::take(size_t size) {
  if (counting_)
    lines_done_ += count_byte(buffer_ + begin_, size, line_end_byte_);
  begin_ += size;
  search_from_ = begin_;
}

// Reads more input behind what is kept, moving the kept bytes to the front
// first when no block fits behind them. Returns false on a failure; at the
// end of the input it sets at_end_ instead. The caller's indexes into the
// buffer are stale afterwards, but for begin_ and end_.
bool LineFinder::fill() {
  window_valid_ = false;
  marker_line_ = kNotFound;
  if (buffer_ == nullptr || capacity_ - end_ < block_size_) {
    if (!before_move_()) return false;
    size_t kept = end_ - begin_;
    // The same offset within a page as the kept bytes have in the file.
    size_t front = static_cast<size_t>((offset_ + begin_) % kPage);
    size_t needed = front + kept + block_size_;
    if (needed > capacity_) {
      // Past the first block, only a line longer than a block gets here;
      // doubling keeps the cost of holding it linear in its length.
      size_t capacity = std::max({needed, 2 * capacity_, 2 * block_size_});
      PageBuffer storage(capacity + kWindow);
      if (kept > 0) std::memcpy(storage.data() + front, buffer_ + begin_, kept);
      storage_ = std::move(storage);
      buffer_ = storage_.data();
      capacity_ = capacity;
    } else if (kept > 0) {
      std::memmove(buffer_ + front, buffer_ + begin_, kept);
    }
    offset_ += begin_ - front;
    begin_ = front;
    end_ = front + kept;
  }
  long long count =
      input_.read(buffer_ + end_, std::min(block_size_, capacity_ - end_));
  if (count < 0) {
    read_failed_ = true;
    read_error_number_ = errno;
    return false;
  }
  if (count == 0) at_end_ = true;
  end_ += static_cast<size_t>(count);
  std::memset(buffer_ + end_, 0, kWindow);
  return true;
}

Position LineFinder::position() const {
  Position position;
  position.offset = offset_ + begin_;
  if (counting_) position.line = lines_done_ + 1;
  return position;
}

// Counts the line ends in front of each wanted position, reading the input
// again once, in order of offset.
bool LineFinder::count_lines(Position* const* positions, const bool* wanted,
                             size_t count) {
  std::vector<Position*> pending;
  for (size_t i = 0; i < count; ++i) {
    if (wanted[i] && positions[i]->line == 0) pending.push_back(positions[i]);
  }
  std::sort(pending.begin(), pending.end(),
            [](const Position* a, const Position* b) {
              return a->offset < b->offset;
            });
  uint64_t lines = 0;
  uint64_t offset = 0;
  for (Position* position : pending) {
    while (offset < position->offset) {
      size_t size = static_cast<size_t>(
          std::min<uint64_t>(capacity_, position->offset - offset));
      long long got = input_.read_at(offset, buffer_, size);
      if (got < 0) return false;
      if (got == 0) break;
      lines += count_byte(buffer_, static_cast<size_t>(got), line_end_byte_);
      offset += static_cast<uint64_t>(got);
    }
    position->line = lines + 1;
  }
  return true;
}

// Returns the offset of the first marker that starts in [from, to) and ends
// by `to`, or kNotFound.
size_t LineFinder::find_marker(size_t from, size_t to) const {
  const size_t size = marker_.text.size();
  const size_t rare = marker_.rare_byte;
  if (to - from < size) return kNotFound;
  const char* candidate = buffer_ + from + rare;
  const char* last = buffer_ + to - (size - rare - 1);
  while (candidate < last) {
    // memchr finds the rare byte at memory speed.
    candidate = static_cast<const char*>(std::memchr(
        candidate, marker_.text[rare], static_cast<size_t>(last - candidate)));
    if (candidate == nullptr) return kNotFound;
    const char* start = candidate - rare;
    if (std::memcmp(start, marker_.text.data(), size) == 0) {
      return static_cast<size_t>(start - buffer_);
    }
    ++candidate;
  }
  return kNotFound;
}

// Returns the offset just past the last line end in [from, to), or kNotFound.
size_t LineFinder::after_last_line_end(size_t from, size_t to) const {
  for (size_t i = to; i > from; --i) {
    if (buffer_[i - 1] == line_end_byte_) return i;
  }
  return kNotFound;
}

}  // namespace placeharvest
