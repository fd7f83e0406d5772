// Finding lines: the input is read through one reused buffer and handed
// out as views into it, a line at a time inside place records and in runs
// of whole lines elsewhere, so that most of the file is looked at once and
// never copied.
#ifndef PLACEHARVEST_LINE_READER_H_
#define PLACEHARVEST_LINE_READER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "place_filter.h"

namespace placeharvest {

// A line that holds this anywhere is a place line.
inline constexpr std::string_view kPlaceMarker = "0 _PLAC ";

// One line of the input: its text and its line end, which is empty for a
// last line that has none.
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

class LineReader {
 public:
  // `before_refill` runs before the buffer's contents move or change: what
  // still points into them must be written by then. It returns false to
  // stop reading (a write failed). `block_size` is at least 1.
  LineReader(ByteSource& input, size_t block_size,
             std::function<bool()> before_refill);

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
  // place line (one that holds "0 _PLAC "), or up to what has been read.
  // Returns false, with nothing stored, when a place line comes next, at
  // the end of the input, and on a failure.
  bool ordinary_lines(std::string_view* run);
  // Stores the line at the reading position. Returns false at the end of
  // the input and on a failure.
  bool peek_line(Line* line);
  // Takes `size` bytes at the reading position: what was last shown, or
  // its first whole lines. Views handed out stay valid until the next call
  // of any of the three functions above.
  void consume(size_t size);

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
  bool at_end() const { return at_end_ && begin_ == end_; }
  bool read_failed() const { return read_failed_; }
  int read_error_number() const { return read_error_number_; }

 private:
  bool fill();
  size_t find_marker(size_t from, size_t to) const;
  size_t after_last_line_end(size_t from, size_t to) const;

  ByteSource& input_;
  const size_t block_size_;
  const std::function<bool()> before_refill_;
  const bool counting_;

  // buffer_[begin_, end_) holds the input not yet taken, begin_ being the
  // input's byte offset_ + begin_ and always the start of a line. No line
  // end lies in [begin_, search_from_), and, while looking for a place line,
  // no start of a marker either.
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;
  size_t search_from_ = 0;
  uint64_t offset_ = 0;
  bool at_end_ = false;
  bool read_failed_ = false;
  int read_error_number_ = 0;
  uint64_t lines_done_ = 0;  // line ends before begin_, while counting_

  char line_end_byte_ = '\n';
  std::string_view line_end_ = "\n";
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_LINE_READER_H_
