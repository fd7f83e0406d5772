// The place filter: one pass over a GEDCOM file that moves every place
// record into a coordinates file and copies every other line, byte for byte,
// into a cleaned file.
#ifndef PLACEHARVEST_PLACE_FILTER_H_
#define PLACEHARVEST_PLACE_FILTER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace placeharvest {

// A run of bytes owned by someone else.
struct ByteSpan {
  const char* data;
  size_t size;
};

// Where the filter reads from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Stores up to `capacity` bytes at `data` and returns how many it stored:
  // 0 at the end of the input, a negative value on a read error (with errno
  // set). May store fewer bytes than asked for before the end.
  virtual long long read(char* data, size_t capacity) = 0;

  // Sources that can be read again from any offset (a regular file, unlike
  // a pipe) say so here; the filter then counts lines only when it needs a
  // line number, by reading again with read_at().
  virtual bool can_read_again() const { return false; }
  // Like read(), from byte `offset` of the input. Called only when
  // can_read_again(), and only once read() has returned 0.
  virtual long long read_at(uint64_t offset, char* data, size_t capacity) {
    (void)offset, (void)data, (void)capacity;
    return -1;
  }
};

// Where the filter writes to.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all `count` spans, in order, whole. Returns false on a write
  // error, with errno set. The spans are only valid during the call.
  virtual bool write(const ByteSpan* spans, size_t count) = 0;
};

enum class ExtractStatus {
  kComplete,        // both outputs are whole
  kCutShortRecord,  // both outputs are whole, but the input ended inside
                    // a place record (see cut_short_record_line)
  kReadFailed,      // the input could not be read to its end
  kCoordinatesWriteFailed,
  kCleanedWriteFailed,
  kOutOfMemory,  // a line or a record did not fit in memory
};

struct ExtractResult {
  ExtractStatus status = ExtractStatus::kComplete;
  // errno of the failed read or write.
  int error_number = 0;
  // With kCutShortRecord: the 1-based line number of the place line that
  // began the record the input ended in.
  uint64_t cut_short_record_line = 0;
  // With kComplete and kCutShortRecord: how many lines of level-0 place
  // records went into neither output, and the line number of the first.
  uint64_t left_out_lines = 0;
  uint64_t first_left_out_line = 0;
  // With kComplete and kCutShortRecord: how many place lines that do not
  // begin with "0 _PLAC " took the lines after them by position, and the
  // line number of the first.
  uint64_t positional_place_lines = 0;
  uint64_t first_positional_place_line = 0;
};

// The amount read from the input at a time.
constexpr size_t kDefaultBlockSize = 128 * 1024;

// Reads `input` to its end and splits it:
//  - A line ends at LF, a CR right before the LF being part of the line end;
//    a file whose first line end is a run of CRs followed by a byte other
//    than LF has CR line ends instead.
//  - A place line holds "0 _PLAC ". Each place record becomes a block in
//    `coordinates` that begins with "2 PLAC" and the text after the line's
//    first "0 _PLAC". A line that begins "0 " (a new level-0 record) ends
//    any record and is not part of it.
//  - A place line that begins with "0 _PLAC " opens a level-0 place record:
//    every line up to the next level-0 line. Its lines are read by their
//    GEDCOM tags: "3 MAP" follows when it has a MAP, LATI, LONG, ZOOM or
//    PLEV line, then "4 LATI ", "4 LONG ", "4 ZOOM " and "4 PLEV " with the
//    value of the first line of each of those tags that it has. Its other
//    lines go to neither output; the result counts them.
//  - Any other place line opens a record of at most six lines taken by
//    position: "3 MAP" for its second line, then "4 LATI ", "4 LONG ",
//    "4 ZOOM " and "4 PLEV " each followed by the text after the 7th byte of
//    the next lines.
//  - Lines keep their own line ends; lines the filter makes, and lines that
//    have none, get the file's line end.
//  - A record of fewer than six lines that the end of the input cuts off is
//    reported as cut short.
//  - Every other line goes to `cleaned` unchanged.
//  - "0 TLR" ends `coordinates` once everything before it is written, and
//    never after a failure, so that a cut-off file does not look whole.
// Memory is bounded by twice the larger of `block_size` and the longest
// line, plus the coordinate values of one record. `block_size` must be at
// least 1; small values exist to test the block handling.
// On a failure the filter stops at once and says which stream failed; when
// memory runs out it says so (kOutOfMemory) instead of throwing.
ExtractResult extract_places(ByteSource& input, ByteSink& coordinates,
                             ByteSink& cleaned,
                             size_t block_size = kDefaultBlockSize);

// True when `start`, the first bytes of an existing file, may begin a
// coordinates file: "2 PLAC" or "0 TLR", or a piece of either when the
// file is shorter. An empty file counts.
bool looks_like_coordinates_file(std::string_view start);

}  // namespace placeharvest

#endif  // PLACEHARVEST_PLACE_FILTER_H_
