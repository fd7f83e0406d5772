// The place filter: one pass over a GEDCOM file that moves every place
// record into a coordinates file and copies every other line, byte for byte,
// into a cleaned file.
#ifndef PLACEHARVEST_PLACE_FILTER_H_
#define PLACEHARVEST_PLACE_FILTER_H_

#include <cstddef>
#include <cstdint>

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

  // Sources that can show their bytes in place, without a copy (a file
  // mapped into memory), say so here; the filter then calls view() only.
  virtual bool can_view() const { return false; }
  // Shows the input from byte `offset` on: returns the address of that byte
  // and stores in `available` how many bytes can be read there, `size` or
  // fewer at the end of the input. The view stays valid until the next
  // call. Returns nullptr on failure, with errno set.
  virtual const char* view(uint64_t offset, size_t size, size_t* available) {
    (void)offset, (void)size, (void)available;
    return nullptr;
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
};

struct ExtractResult {
  ExtractStatus status = ExtractStatus::kComplete;
  // errno of the failed read or write.
  int error_number = 0;
  // With kCutShortRecord: the 1-based line number of the place line that
  // began the record the input ended in.
  uint64_t cut_short_record_line = 0;
};

// The amount read from the input at a time.
constexpr size_t kDefaultBlockSize = 1024 * 1024;

// Reads `input` to its end and splits it:
//  - A line ends at LF, a CR right before the LF being part of the line end;
//    a file whose first line end is a CR followed by neither CR nor LF has
//    CR line ends instead.
//  - A place line is a line that holds "0 _PLAC ". It and the lines after it
//    form a place record of at most six lines; a line that begins "0 " (a new
//    level-0 record) ends the record early and is not part of it.
//  - Each record becomes a block in `coordinates`: "2 PLAC" with the text
//    after the line's first "0 _PLAC", then "3 MAP" for the record's second
//    line, then "4 LATI ", "4 LONG ", "4 ZOOM " and "4 PLEV " each followed by
//    the text after the 7th byte of the record's next lines. Lines keep their
//    own line ends; lines the filter makes use the file's line end.
//  - Every other line goes to `cleaned` unchanged.
//  - "0 TLR" ends `coordinates`, unless reading or writing failed.
// Memory is bounded by twice the larger of `block_size` and the longest
// line. `block_size` must be at least 1; small values exist to test the
// block handling.
// On a failure the filter stops at once and says which stream failed.
ExtractResult extract_places(ByteSource& input, ByteSink& coordinates,
                             ByteSink& cleaned,
                             size_t block_size = kDefaultBlockSize);

}  // namespace placeharvest

#endif  // PLACEHARVEST_PLACE_FILTER_H_
