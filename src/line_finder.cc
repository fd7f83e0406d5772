// Runs of whole lines, up to the next line that holds the marker, and the
// buffer they are read through.
#include "line_finder.h"

#include <algorithm>
#include <utility>

namespace placeharvest {

LineFinder::LineFinder(ByteSource& input, Marker marker, size_t block_size,
                       std::function<bool()> before_move)
    : input_(input, block_size, std::move(before_move)),
      marker_(marker),
      counting_(!input.can_read_again()) {}

bool LineFinder::ordinary_lines(std::string_view* run) {
  if (input_.offset_of(input_.begin()) < long_line_end_) {
    return long_line_piece(run);
  }
  if (input_.begin() == marker_line_) return false;
  search_from_ = input_.begin();
  for (;;) {
    const size_t begin = input_.begin();
    const size_t end = input_.end();
    size_t marker = find_marker(input_.data(), search_from_, end, marker_);
    size_t run_end;
    if (marker != end) {
      run_end = after_last_line_end(search_from_, marker);
      if (run_end == kNotFound) return false;  // the marker's line is next
      marker_line_ = run_end;
    } else {
      run_end = after_last_line_end(search_from_, end);
      if (run_end == kNotFound && input_.at_end() && end > begin) {
        run_end = end;  // a last line without a line end
      }
    }
    if (run_end != kNotFound) {
      *run = std::string_view(input_.data() + begin, run_end - begin);
      return true;
    }
    if (input_.at_end()) return false;
    // What has been read is part of one line.
    if (input_.full() && input_.can_read_again() &&
        input_.offset_of(begin) != held_line_) {
      return pass_long_line(run);
    }
    // A marker may straddle the end of what has been read so far.
    search_from_ =
        std::max(begin, end - std::min(end, marker_.text.size() - 1));
    size_t kept_from = search_from_ - begin;
    if (!fill()) return false;
    search_from_ = input_.begin() + kept_from;
  }
}

void LineFinder::take(size_t size) {
  if (counting_) {
    lines_done_ +=
        count_byte(input_.data() + input_.begin(), size, line_end_byte_);
  }
  if (told_ != nullptr) told_->taken(input_.data() + input_.begin(), size);
  input_.drop_to(input_.begin() + size);
  search_from_ = input_.begin();
}

// The finder's indexes into the buffer are stale after either of these.
bool LineFinder::fill() {
  window_valid_ = false;
  marker_line_ = kNotFound;
  return input_.fill();
}

bool LineFinder::read_again_from(uint64_t offset) {
  window_valid_ = false;
  marker_line_ = kNotFound;
  if (!input_.read_again_from(offset)) return false;
  search_from_ = input_.begin();
  return true;
}

// Returns the offset just past the last line end in [from, to), or kNotFound.
size_t LineFinder::after_last_line_end(size_t from, size_t to) const {
  const char* data = input_.data();
  for (size_t i = to; i > from; --i) {
    if (data[i - 1] == line_end_byte_) return i;
  }
  return kNotFound;
}

}  // namespace placeharvest
