// Reading a place record: the lines of a level-0 place record ("0 _PLAC
// <name>" at the start of a line, and every line after it up to the next
// level-0 line) are recognised by their GEDCOM tags, whatever their order.
#ifndef PLACEHARVEST_PLACE_RECORD_H_
#define PLACEHARVEST_PLACE_RECORD_H_

#include <string>
#include <string_view>

#include "span_writer.h"

namespace placeharvest {

// The lines of a block in the coordinates file after "2 PLAC": the map line
// and the prefixes of the four values, in the order they are written.
inline constexpr std::string_view kMapLine = "3 MAP";
inline constexpr std::string_view kValuePrefixes[] = {"4 LATI ", "4 LONG ",
                                                      "4 ZOOM ", "4 PLEV "};

// The tag of a GEDCOM line: its level (one or more digits) from the first
// byte, one space, an optional cross-reference "@...@" and one space, then
// the tag, which runs to the next space or the end. Stores in `value` what
// follows the tag and the one space after it (empty if nothing does).
// Returns an empty tag, and leaves `value` alone, for a line without that
// shape. `line` holds no line end.
std::string_view gedcom_tag(std::string_view line, std::string_view* value);

// The coordinates of one level-0 place record, gathered while its lines
// are read and written as one block when it ends: MAP, LATI, LONG, ZOOM and
// PLEV may come in any order, and only the first line of each tag counts.
class PlaceCoordinates {
 public:
  // Takes one line of the record after the place line, and the line end to
  // write after its value. Returns false when the line is none of the first
  // MAP, LATI, LONG, ZOOM or PLEV lines: it belongs in neither output.
  bool take(std::string_view line, std::string_view line_end);

  // Writes the block's lines after "2 PLAC": "3 MAP" and `own_line_end`
  // when the record had any of the five tags, then "4 LATI ", "4 LONG ",
  // "4 ZOOM " and "4 PLEV ", each with its value and line end, for the
  // tags the record had. Nothing written refers to this object.
  void write(SpanWriter& coordinates, std::string_view own_line_end) const;

 private:
  static constexpr size_t kTags = 5;  // MAP first, then the four values
  bool seen_[kTags] = {};
  std::string values_[kTags];  // each with its line end
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_PLACE_RECORD_H_
