// What the file's line ends are, and how many stand in front of a position.
#include <algorithm>
#include <vector>

#include "line_finder.h"

namespace placeharvest {

void LineFinder::detect_line_ends() {
  bool dropped = false;
  for (size_t from = input_.begin();;) {
    const char* data = input_.data();
    const char* found =
        std::find_if(data + from, data + input_.end(),
                     [](char c) { return c == '\n' || c == '\r'; });
    size_t position = static_cast<size_t>(found - data);
    size_t end = input_.end();
    // An LF found first is not behind a CR, which would have been found
    // first; the byte in front of it may not even be the input's.
    if (position < end && *found == '\n') break;
    // A run of CRs decides by the byte after it, which may not be read yet.
    size_t after_run = position;
    while (after_run < end && data[after_run] == '\r') ++after_run;
    if (after_run == end) {
      if (input_.at_end()) break;  // no line end, or CRs at the very end
      // Only the run of CRs is needed to decide; an input that can be read
      // again is read again from its start once it is decided.
      if (input_.can_read_again()) {
        dropped = dropped || position > input_.begin();
        input_.drop_to(position);
      }
      from = position - input_.begin();
      if (!fill()) return;
      from += input_.begin();
      continue;
    }
    if (data[after_run] == '\n') {
      line_end_ = "\r\n";  // "\r\r\n": a file written twice as text
    } else {
      line_end_byte_ = '\r';
      line_end_ = "\r";
    }
    break;
  }
  // Looking at the first line may have filled the buffer; lines are found
  // from its start.
  if (dropped) {
    read_again_from(0);
  } else {
    search_from_ = input_.begin();
  }
}

Position LineFinder::position() const {
  Position position;
  position.offset = input_.offset_of(input_.begin());
  if (counting_) position.line = lines_done_ + 1;
  return position;
}

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
  std::vector<uint64_t> offsets, line_ends(pending.size());
  for (const Position* position : pending) offsets.push_back(position->offset);
  if (!input_.count_before(offsets.data(), offsets.size(), line_end_byte_,
                           line_ends.data())) {
    return false;
  }
  for (size_t i = 0; i < pending.size(); ++i) {
    pending[i]->line = line_ends[i] + 1;
  }
  return true;
}

}  // namespace placeharvest
