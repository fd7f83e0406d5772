// Lines longer than the buffer, in an input that can be read again, which
// the finder reads twice rather than hold.
#include <algorithm>
#include <cstring>

#include "line_finder.h"

namespace placeharvest {

// A line longer than the buffer, in an input that can be read again, is
// not held: it is read on to its end once, keeping only what a marker
// across two reads needs, and then read again from its start, to be handed
// out in pieces when it holds no marker, or held whole as a place line.
bool LineFinder::pass_long_line(std::string_view* run) {
  const uint64_t start = input_.offset_of(input_.begin());
  const size_t overlap = marker_.text.size() - 1;
  bool has_marker = false;
  uint64_t line_end;
  for (;;) {
    size_t end = input_.end();
    input_.drop_to(std::max(input_.begin(), end - std::min(end, overlap)));
    if (!fill()) return false;
    const size_t from = input_.begin();
    const char* data = input_.data();
    const void* found =
        std::memchr(data + from, line_end_byte_, input_.end() - from);
    size_t to =
        found != nullptr
            ? static_cast<size_t>(static_cast<const char*>(found) - data)
            : input_.end();
    has_marker = has_marker || find_marker(data, from, to, marker_) != to;
    line_end = input_.offset_of(found != nullptr ? to + 1 : to);
    if (found != nullptr || input_.at_end() || has_marker) break;
  }
  if (!read_again_from(start)) return false;
  if (has_marker) {
    held_line_ = start;
    return ordinary_lines(run);
  }
  long_line_end_ = line_end;
  return long_line_piece(run);
}

bool LineFinder::long_line_piece(std::string_view* run) {
  if (input_.begin() == input_.end() && !fill()) return false;
  // An input that changed while it was read may end before the line does.
  if (input_.begin() == input_.end()) return false;
  uint64_t left = long_line_end_ - input_.offset_of(input_.begin());
  size_t size = static_cast<size_t>(
      std::min<uint64_t>(left, input_.end() - input_.begin()));
  *run = std::string_view(input_.data() + input_.begin(), size);
  return true;
}

}  // namespace placeharvest
