// The coordinate tags: the GEDCOM tags a level-0 place record's lines are
// read by, and what the coordinates file writes for each, in the order it
// writes them. The reader, the block's format and the report all come from
// this table: a new tag is one line here.
#ifndef PLACEHARVEST_COORDINATE_TAGS_H_
#define PLACEHARVEST_COORDINATE_TAGS_H_

#include <cstddef>
#include <iterator>
#include <string_view>

namespace placeharvest {

struct CoordinateTag {
  std::string_view tag;     // as the input has it, after the level
  std::string_view prefix;  // in front of its value in the coordinates file
};

// The tag of the line that says a place has a map, which the block writes
// as a line of its own, with no value.
inline constexpr std::string_view kMapTag = "MAP";

inline constexpr CoordinateTag kCoordinateTags[] = {
    {"LATI", "4 LATI "},
    {"LONG", "4 LONG "},
    {"ZOOM", "4 ZOOM "},
    {"PLEV", "4 PLEV "},
};
inline constexpr size_t kCoordinateValues = std::size(kCoordinateTags);

// The reader tells tags apart by their first bytes, at most this many.
inline constexpr size_t kLongestTag = 4;

namespace tag_table {
constexpr bool fits(std::string_view tag) {
  if (tag.empty() || tag.size() > kLongestTag) return false;
  for (char c : tag) {
    if (c == ' ' || c == '@' || c == '\r' || c == '\n') return false;
  }
  return true;
}
constexpr bool well_formed() {
  if (!fits(kMapTag)) return false;
  for (size_t i = 0; i < kCoordinateValues; ++i) {
    const CoordinateTag& entry = kCoordinateTags[i];
    if (!fits(entry.tag) || entry.tag == kMapTag || entry.prefix.empty()) {
      return false;
    }
    for (size_t j = 0; j < i; ++j) {
      if (kCoordinateTags[j].tag == entry.tag) return false;
    }
  }
  return true;
}
}  // namespace tag_table
static_assert(tag_table::well_formed(),
              "every coordinate tag is 1 to kLongestTag bytes without a "
              "space, distinct from the others and from MAP, and has a "
              "prefix");

// A place line that does not begin with the marker takes the lines after
// it by position: this many lines in all, the place line, the line that
// becomes the map line, and one line for each of the first
// kPositionalValues tags. Fixed, whatever tags the table has.
inline constexpr size_t kPositionalValues = 4;
inline constexpr size_t kPositionalRecordLines = 2 + kPositionalValues;
static_assert(kPositionalValues <= kCoordinateValues,
              "a record taken by position has a tag for each value line");

}  // namespace placeharvest

#endif  // PLACEHARVEST_COORDINATE_TAGS_H_
