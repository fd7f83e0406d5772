// The place-record rules stated as plainly as possible, for checking the
// filter against: the whole input in memory, split into lines, one rule at a
// time. It shares no code with the filter and is not meant to be fast.
#ifndef PLACEHARVEST_TESTS_REFERENCE_FILTER_H_
#define PLACEHARVEST_TESTS_REFERENCE_FILTER_H_

#include <cstdint>
#include <string>

namespace placeharvest {

struct ReferenceSplit {
  std::string coordinates;
  std::string cleaned;
  bool cut_short = false;
  uint64_t cut_short_line = 0;  // of the place line, counted from 1
  uint64_t left_out_lines = 0;
  uint64_t first_left_out_line = 0;  // counted from 1
  uint64_t positional_place_lines = 0;
  uint64_t first_positional_place_line = 0;  // counted from 1
};

ReferenceSplit reference_split(const std::string& input);

}  // namespace placeharvest

#endif  // PLACEHARVEST_TESTS_REFERENCE_FILTER_H_
