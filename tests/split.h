// Running the filter on text in memory, as the unit tests and the fuzzer
// do, with its outputs and counts in the reference's form (a ReferenceSplit),
// so that results are compared whole.
#ifndef PLACEHARVEST_TESTS_SPLIT_H_
#define PLACEHARVEST_TESTS_SPLIT_H_

#include <cstdint>
#include <string>

#include "place_filter.h"
#include "reference_filter.h"
#include "string_streams.h"

namespace placeharvest {

struct SplitOptions {
  size_t block_size = kDefaultBlockSize;
  size_t piece = SIZE_MAX;      // the most one read gives, as from a pipe
  bool can_read_again = false;  // a file, whose lines are counted at the end
  size_t max_spans = 1024;      // the spans one write takes
  bool size_known = true;       // whether a file tells its size in advance
  RunCheckpoints checkpoints = {};
};

struct Split {
  ReferenceSplit outcome;
  ExtractResult result;
};

inline Split split(const std::string& input, const SplitOptions& options = {}) {
  StringSource source(input, options.piece, SIZE_MAX, options.can_read_again,
                      options.size_known);
  StringSink coordinates(SIZE_MAX, options.max_spans);
  StringSink cleaned(SIZE_MAX, options.max_spans);
  Split got;
  got.result = extract_places(source, coordinates, cleaned, options.block_size,
                              options.checkpoints);
  const ExtractResult& result = got.result;
  got.outcome = {coordinates.text,
                 cleaned.text,
                 result.status == ExtractStatus::kCutShortRecord,
                 result.cut_short_record_line,
                 result.left_out_lines,
                 result.first_left_out_line,
                 result.positional_place_lines,
                 result.first_positional_place_line};
  return got;
}

}  // namespace placeharvest

#endif  // PLACEHARVEST_TESTS_SPLIT_H_
