// Finding lines: the input is read through one reused buffer and handed out
// as views into it, a line at a time inside place records and in runs of
// whole lines elsewhere, so that most of the file is looked at once and
// never copied. It also knows the file's line ends and counts lines. The
// buffer keeps a block or two, whatever the lines: a line longer than that
// is read twice rather than held where the input can be read again, unless
// it must be seen whole. Runs are found in line_finder.cc, a record's lines
// in record_lines.cc, line ends and numbers in line_ends.cc, long lines in
// long_lines.cc.
#ifndef PLACEHARVEST_LINE_FINDER_H_
#define PLACEHARVEST_LINE_FINDER_H_

#include <cstdint>
#include <functional>
#include <string_view>

#include "byte_kernels.h"
#include "byte_stream.h"
#include "input_buffer.h"
#include "marker.h"

namespace placeharvest {

// One line of the input: its text and its line end, which is empty for a
// last line that has none. At least kWindow bytes that may be read follow
// it in memory, so that a few bytes can be looked at in one load.
struct Line {
  std::string_view content;
  std::string_view ending;
  size_t size() const { return content.size() + ending.size(); }
};

// A place in the input that a message may need the line number of.
struct Position {
  uint64_t offset = 0;
  uint64_t line = 0;  // counted from 1; 0 while not yet counted
};

// Is told of the bytes the finder's reader takes, all of them, in order.
class TakenBytes {
 public:
  virtual void taken(const char* data, size_t size) = 0;

 protected:
  ~TakenBytes() = default;
};

class LineFinder {
 public:
  // Line ends are looked for this many bytes at a time.
  static constexpr size_t kWindow = InputBuffer::kPadding;

  // `before_move` runs before bytes already handed out move or change: what
  // still points into them must be written by then. It returns false to
  // stop reading (a write failed). `block_size` is at least 1.
  LineFinder(ByteSource& input, Marker marker, size_t block_size,
             std::function<bool()> before_move);

  // Reads until the file's line ends are known; call it once, first. The
  // first CR or LF decides: a run of CRs followed by a byte other than LF
  // means CR line ends ("\r\rx" is an empty line in a CR file); anything
  // else means LF line ends, a CR right before an LF being part of the line
  // end.
  void detect_line_ends();
  // The line end the filter writes itself: CR in a CR file; in an LF file
  // CR LF when the first line ends in CR LF, else LF.
  std::string_view line_end() const { return line_end_; }

  // Stores in `run` the whole lines at the reading position up to the next
  // line that holds the marker, or up to what has been read; or, in an
  // input that can be read again, a piece of a line longer than a block
  // that holds no marker, which is never held whole. Returns false, with
  // nothing stored, when a line that holds the marker comes next, at the
  // end of the input, and on a failure.
  bool ordinary_lines(std::string_view* run);
  // Stores the line at the reading position, held whole however long.
  // Returns false at the end of the input and on a failure.
  bool peek_line(Line* line) {
    // Most lines of a record end in the window the line before it used.
    size_t from = search_from_ - window_start_;
    if (window_valid_ && from < kWindow && (window_bits_ >> from) != 0) {
      shape_line(
          search_from_ + lowest_bit(window_bits_ >> from) - input_.begin() + 1,
          line);
      return true;
    }
    return peek_line_slowly(line);
  }
  // Takes `size` bytes at the reading position: those of a run last shown.
  // Views handed out stay valid until the next call of any of the functions
  // above, or longer: until `before_move` runs.
  void take(size_t size);
  // Takes `line`, the line last shown by peek_line().
  void take_line(const Line& line) {
    if (counting_ && !line.ending.empty()) ++lines_done_;
    if (told_ != nullptr) told_->taken(line.content.data(), line.size());
    input_.drop_to(input_.begin() + line.size());
    search_from_ = input_.begin();
  }

  // From now on, tells `told` of the bytes taken.
  void tell_taken(TakenBytes* told) { told_ = told; }
  // From now on, writes from the bytes handed out may still be going on
  // when `before_move` returns, and a file is read ahead, as
  // InputBuffer::leave_bytes_behind() says.
  void leave_bytes_behind(HelperThread* helper) {
    input_.leave_bytes_behind(helper);
  }

  // Where the reading position is. The line number is known at once for an
  // input that cannot be read again (a pipe, counted as it goes); for a
  // file, count_lines() counts it when a message needs it.
  Position position() const;
  // Fills in the line numbers of those of the `count` positions whose
  // `wanted` is true, reading the input again from its start once. Call it
  // only once the input has been read to its end. Returns false on a read
  // error, with errno set.
  bool count_lines(Position* const* positions, const bool* wanted,
                   size_t count);

  // True once every byte of the input has been read and taken.
  bool at_end() const {
    return input_.at_end() && input_.begin() == input_.end();
  }
  bool read_failed() const { return input_.read_failed(); }
  int read_error_number() const { return input_.read_error_number(); }

 private:
  static constexpr size_t kNotFound = static_cast<size_t>(-1);

  // Stores in `line` the `size` bytes at the reading position, a line with
  // its line end.
  void shape_line(size_t size, Line* line) const {
    const char* start = input_.data() + input_.begin();
    size_t ending =
        line_end_byte_ == '\n' && size >= 2 && start[size - 2] == '\r' ? 2 : 1;
    line->content = std::string_view(start, size - ending);
    line->ending = std::string_view(start + size - ending, ending);
  }
  bool peek_line_slowly(Line* line);
  bool pass_long_line(std::string_view* run);
  bool long_line_piece(std::string_view* run);
  bool fill();
  bool read_again_from(uint64_t offset);
  size_t next_line_end(size_t from);
  size_t after_last_line_end(size_t from, size_t to) const;

  InputBuffer input_;
  const Marker marker_;
  const bool counting_;
  TakenBytes* told_ = nullptr;

  // The reading position is input_.begin(), always the start of a line. No
  // line end lies in [begin, search_from_), and, while looking for a
  // marker, no start of one either.
  size_t search_from_ = 0;
  // Where a line that holds the marker is known to begin, once a run was
  // found to end there.
  size_t marker_line_ = kNotFound;
  uint64_t lines_done_ = 0;  // line ends before the reading position
  // A long line that holds no marker is handed out in pieces up to this
  // offset; a long line that holds one, from this offset, is held whole.
  uint64_t long_line_end_ = 0;
  uint64_t held_line_ = static_cast<uint64_t>(-1);

  // The line ends among the kWindow bytes from window_start_, bit i for
  // byte i.
  size_t window_start_ = 0;
  uint64_t window_bits_ = 0;
  bool window_valid_ = false;

  char line_end_byte_ = '\n';
  std::string_view line_end_ = "\n";
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_LINE_FINDER_H_
