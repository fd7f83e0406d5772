#include "line_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace placeharvest {
namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);

uint64_t count_byte(const char* data, size_t size, char byte) {
  // Counting runs over every byte of a piped input, so it must cost far
  // less than the copy. SSE2 compares 16 bytes at a time and sums the
  // matches in byte counters, which are added up before they can overflow.
  uint64_t count = 0;
  size_t i = 0;
#ifdef __SSE2__
  const __m128i needle = _mm_set1_epi8(byte);
  while (size - i >= 16) {
    size_t vectors = std::min<size_t>((size - i) / 16, 255);
    __m128i counters = _mm_setzero_si128();
    for (size_t k = 0; k < vectors; ++k, i += 16) {
      __m128i bytes =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(bytes, needle));
    }
    __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    count += static_cast<uint64_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<uint64_t>(_mm_extract_epi16(sums, 4));
  }
#endif
  for (; i < size; ++i) count += data[i] == byte;
  return count;
}

}  // namespace

LineReader::LineReader(ByteSource& input, size_t block_size,
                       std::function<bool()> before_refill)
    : input_(input),
      block_size_(block_size),
      before_refill_(std::move(before_refill)),
      counting_(!input.can_read_again()) {}

void LineReader::detect_line_ends() {
  for (size_t from = 0;;) {
    const char* found =
        std::find_if(buffer_.get() + from, buffer_.get() + end_,
                     [](char c) { return c == '\n' || c == '\r'; });
    size_t position = static_cast<size_t>(found - buffer_.get());
    if (position < end_ && *found == '\n') {
      if (position > 0 && buffer_[position - 1] == '\r') line_end_ = "\r\n";
      return;
    }
    // A run of CRs decides by the byte after it, which may not be read yet.
    size_t after_run = position;
    while (after_run < end_ && buffer_[after_run] == '\r') ++after_run;
    if (after_run == end_) {
      if (at_end_) return;  // no line end, or CRs at the very end
      from = position;
      if (!fill()) return;
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

bool LineReader::ordinary_lines(std::string_view* run) {
  search_from_ = begin_;
  for (;;) {
    size_t marker = find_marker(search_from_, end_);
    size_t run_end;
    if (marker != kNotFound) {
      run_end = after_last_line_end(search_from_, marker);
      if (run_end == kNotFound) return false;  // the place line is next
    } else {
      run_end = after_last_line_end(search_from_, end_);
      if (run_end == kNotFound && at_end_ && end_ > begin_) {
        run_end = end_;  // a last line without a line end
      }
    }
    if (run_end != kNotFound) {
      *run = std::string_view(buffer_.get() + begin_, run_end - begin_);
      return true;
    }
    if (at_end_) return false;
    // A marker may straddle the end of what has been read so far.
    search_from_ =
        std::max(begin_, end_ - std::min(end_, kPlaceMarker.size() - 1));
    if (!fill()) return false;
  }
}

// Shows the line at begin_ without taking it. Returns false at the end of
// the input or on a failure.
bool LineReader::peek_line(Line* line) {
  for (;;) {
    const char* start = buffer_.get() + begin_;
    const void* found = std::memchr(buffer_.get() + search_from_,
                                    line_end_byte_, end_ - search_from_);
    if (found != nullptr) {
      size_t size =
          static_cast<size_t>(static_cast<const char*>(found) + 1 - start);
      bool cr_lf =
          line_end_byte_ == '\n' && size >= 2 && start[size - 2] == '\r';
      size_t ending = cr_lf ? 2 : 1;
      line->content = std::string_view(start, size - ending);
      line->ending = std::string_view(start + size - ending, ending);
      return true;
    }
    if (at_end_) {
      if (begin_ == end_) return false;
      line->content = std::string_view(start, end_ - begin_);
      line->ending = {};
      return true;
    }
    search_from_ = end_;
    if (!fill()) return false;
  }
}

void LineReader::consume(size_t size) {
  if (counting_) {
    lines_done_ += count_byte(buffer_.get() + begin_, size, line_end_byte_);
  }
  begin_ += size;
  search_from_ = begin_;
}

// Reads more input behind what is kept. Returns false on a failure; at the
// end of the input it sets at_end_ instead.
bool LineReader::fill() {
  if (!before_refill_()) return false;
  size_t kept = end_ - begin_;
  if (kept + block_size_ > capacity_) {
    // Past the first block, only a line longer than a block gets here;
    // doubling keeps the cost of holding it linear in its length.
    size_t capacity =
        std::max({kept + block_size_, 2 * capacity_, 2 * block_size_});
    std::unique_ptr<char[]> buffer(new char[capacity]);
    if (kept > 0) std::memcpy(buffer.get(), buffer_.get() + begin_, kept);
    buffer_ = std::move(buffer);
    capacity_ = capacity;
  } else if (begin_ > 0 && kept > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
  }
  offset_ += begin_;
  search_from_ -= begin_;
  begin_ = 0;
  end_ = kept;

  long long count = input_.read(buffer_.get() + end_, block_size_);
  if (count < 0) {
    read_failed_ = true;
    read_error_number_ = errno;
    return false;
  }
  if (count == 0) at_end_ = true;
  end_ += static_cast<size_t>(count);
  return true;
}

Position LineReader::position() const {
  Position position;
  position.offset = offset_ + begin_;
  if (counting_) position.line = lines_done_ + 1;
  return position;
}

// Counts the line ends in front of each wanted position, reading the input
// again once, in order of offset.
bool LineReader::count_lines(Position* const* positions, const bool* wanted,
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
      long long got = input_.read_at(offset, buffer_.get(), size);
      if (got < 0) return false;
      if (got == 0) break;
      lines +=
          count_byte(buffer_.get(), static_cast<size_t>(got), line_end_byte_);
      offset += static_cast<uint64_t>(got);
    }
    position->line = lines + 1;
  }
  return true;
}

// Returns the offset of the first marker that starts in [from, to) and ends
// by `to`, or kNotFound.
size_t LineReader::find_marker(size_t from, size_t to) const {
  // The underscore is by far the rarest byte of the marker in GEDCOM text,
  // and memchr finds it at memory speed.
  constexpr size_t kUnderscore = 2;
  if (to - from < kPlaceMarker.size()) return kNotFound;
  const char* text = buffer_.get();
  const char* candidate = text + from + kUnderscore;
  const char* last = text + to - (kPlaceMarker.size() - kUnderscore - 1);
  while (candidate < last) {
    candidate = static_cast<const char*>(
        std::memchr(candidate, '_', static_cast<size_t>(last - candidate)));
    if (candidate == nullptr) return kNotFound;
    const char* start = candidate - kUnderscore;
    if (std::memcmp(start, kPlaceMarker.data(), kPlaceMarker.size()) == 0) {
      return static_cast<size_t>(start - text);
    }
    ++candidate;
  }
  return kNotFound;
}

// Returns the offset just past the last line end in [from, to), or kNotFound.
size_t LineReader::after_last_line_end(size_t from, size_t to) const {
  for (size_t i = to; i > from; --i) {
    if (buffer_[i - 1] == line_end_byte_) return i;
  }
  return kNotFound;
}

}  // namespace placeharvest
