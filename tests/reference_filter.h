// The place-record rules stated as plainly as possible, for checking the
// filter against: the whole input in memory, split into lines, one rule at a
// time. It shares no code with the filter and is not meant to be fast.
#ifndef PLACEHARVEST_TESTS_REFERENCE_FILTER_H_
#define PLACEHARVEST_TESTS_REFERENCE_FILTER_H_

#include <cstdint>
#include <ostream>
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

// The first field in which two splits differ, named, or "" when they are
// the same; and the comparison and printing built on it, so that a test
// compares whole splits and shows what differs.
std::string first_difference(const ReferenceSplit& got,
                             const ReferenceSplit& expected);
inline bool operator==(const ReferenceSplit& a, const ReferenceSplit& b) {
  return first_difference(a, b).empty();
}
std::ostream& operator<<(std::ostream& out, const ReferenceSplit& split);

ReferenceSplit reference_split(const std::string& input);

// UTF-16 as the filter must see and write it: each code unit below 0x80 as
// itself, below 0x800 as two bytes and above as three, the way UTF-8 writes
// the Basic Multilingual Plane, each surrogate on its own, and an odd last
// byte as 0xF8 and two continuation bytes.
std::string reference_eight_bit_form(const std::u16string& units,
                                     bool odd_last_byte = false,
                                     char last_byte = 0);
// The UTF-16 bytes of such a form, in either byte order. A sequence that
// lacks its start or its end is left out.
std::string reference_utf16(const std::string& form, bool little_endian);
// The split of a file in whichever encoding the program reads it: UTF-16
// when it begins with a byte-order mark, or with "0" and a zero byte in
// either order; bytes otherwise. The outputs are in the file's encoding.
ReferenceSplit reference_split_file(const std::string& file);

// The UTF-16 code units of valid UTF-8 text.
std::u16string units_of(const std::string& utf8);
// The UTF-16 bytes of `units`.
std::string utf16_bytes(const std::u16string& units, bool little_endian);

}  // namespace placeharvest

#endif  // PLACEHARVEST_TESTS_REFERENCE_FILTER_H_
