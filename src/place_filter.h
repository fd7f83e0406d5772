// The place filter: one pass over a GEDCOM file that moves every place
// record into a coordinates file and copies every other line, byte for byte,
// into a cleaned file.
#ifndef PLACEHARVEST_PLACE_FILTER_H_
#define PLACEHARVEST_PLACE_FILTER_H_

#include <cstddef>
#include <cstdint>
#include <functional>

#include "byte_stream.h"

namespace placeharvest {

enum class ExtractStatus {
  kComplete,        // both outputs are whole
  kCutShortRecord,  // both outputs are whole, but the input ended inside
                    // a place record (see cut_short_record_line)
  kReadFailed,      // the input could not be read to its end
  kCoordinatesWriteFailed,
  kCleanedWriteFailed,
  kOutOfMemory,  // a line or a record did not fit in memory
  kStopped,      // a checkpoint stopped the run (see RunCheckpoints)
};

struct ExtractResult {
  ExtractStatus status = ExtractStatus::kComplete;
  // errno of the failed read or write.
  int error_number = 0;
  // With kCutShortRecord: the 1-based line number of the place line that
  // began the record the input ended in.
  uint64_t cut_short_record_line = 0;
  // With kComplete and kCutShortRecord: how many place records became
  // blocks of the coordinates file.
  uint64_t place_records = 0;
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
constexpr size_t kDefaultBlockSize = 1024 * 1024;

// The amount to read at a time from an input of `size` bytes (0 when not
// known). Every page of the buffer costs a fault the first time it is
// touched, which a smaller file does not earn back in fewer reads
// (measured in doc/performance.md).
constexpr size_t block_size_for(uint64_t size) {
  constexpr uint64_t kMiB = 1024 * 1024;
  constexpr struct {
    uint64_t below;
    size_t block_size;
  } kSteps[] = {{32 * kMiB, 128 * 1024}, {256 * kMiB, 256 * 1024}};
  for (const auto& step : kSteps) {
    if (size > 0 && size < step.below) return step.block_size;
  }
  return kDefaultBlockSize;
}

// What the caller does at two points of a run; each returns false to stop
// the run there, having said why itself.
struct RunCheckpoints {
  // Once the filter's memory is had and the input's first block read,
  // before anything is written: where the caller empties its outputs, so
  // that what can fail first fails before anything has changed.
  std::function<bool()> before_writing;
  // Once both sinks have been handed everything but the trailer and the
  // line numbers of the report are counted: where the caller makes sure
  // that the outputs and the input are as they should be.
  std::function<bool()> before_trailer;
};

// Reads `input` to its end and splits it: each place record becomes a
// block in `coordinates` (see place_record.h and coordinates_block.h), and
// every other line goes to `cleaned` unchanged. "0 TLR" ends `coordinates`
// once everything before it is written and both checkpoints have passed,
// and never after a failure, so that a cut-off file does not look whole.
// Nothing is written before `checkpoints.before_writing` has passed, and
// nothing after a failure to get memory or to read the first block. The file's
// line ends are those of line_finder.h. Memory is bounded by twice the larger
// of `block_size` and the longest line, plus the coordinate values of one
// record. `block_size` must be at least 1; small values exist to test the block
// handling. On a failure the filter stops at once and says which stream failed;
// when memory runs out it says so (kOutOfMemory) instead of throwing.
ExtractResult extract_places(ByteSource& input, ByteSink& coordinates,
                             ByteSink& cleaned,
                             size_t block_size = kDefaultBlockSize,
                             const RunCheckpoints& checkpoints = {});

}  // namespace placeharvest

#endif  // PLACEHARVEST_PLACE_FILTER_H_
