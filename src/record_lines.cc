// The lines of a place record, one at a time, their line ends found a
// window of kWindow bytes at a time (the window's fast path is
// LineFinder::peek_line()).
#include "line_finder.h"

namespace placeharvest {
static_assert(LineFinder::kWindow == 64,
              "byte_bits() looks at 64 bytes at a time");

bool LineFinder::peek_line_slowly(Line* line) {
  for (;;) {
    size_t found = next_line_end(search_from_);
    if (found != kNotFound) {
      shape_line(found + 1 - input_.begin(), line);
      return true;
    }
    if (input_.at_end()) {
      if (input_.begin() == input_.end()) return false;
      line->content = std::string_view(input_.data() + input_.begin(),
                                       input_.end() - input_.begin());
      line->ending = {};
      return true;
    }
    size_t kept_from = input_.end() - input_.begin();
    if (!fill()) return false;
    search_from_ = input_.begin() + kept_from;
  }
}

// Returns the first line end in [from, end), or kNotFound.
size_t LineFinder::next_line_end(size_t from) {
  while (from < input_.end()) {
    if (!window_valid_ || from < window_start_ ||
        from >= window_start_ + kWindow) {
      window_start_ = from;
      window_bits_ = byte_bits(input_.data() + from, line_end_byte_);
      window_valid_ = true;
    }
    uint64_t bits = window_bits_ >> (from - window_start_);
    if (bits != 0) {
      size_t found = from + lowest_bit(bits);
      return found < input_.end() ? found : kNotFound;
    }
    from = window_start_ + kWindow;
  }
  return kNotFound;
}

}  // namespace placeharvest
