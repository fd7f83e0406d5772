// Reading a place record: everything that decides which lines make a place
// record and what its block holds.
//  - A place line holds "0 _PLAC ". The block's name is the text after the
//    line's first "0 _PLAC", which can stand in front of the first marker.
//  - A line that begins "0 " (a new level-0 record) ends any record and is
//    not part of it.
//  - A place line that begins with "0 _PLAC " opens a level-0 place record:
//    every line up to the next level-0 line, read by their GEDCOM tags in
//    any order. "3 MAP" follows when it has a MAP line or a line of a
//    coordinate tag (coordinate_tags.h: LATI, LONG, ZOOM, PLEV), then the
//    value of the first line of each coordinate tag that it has. Its other
//    lines, and a MAP line that has text of its own, go to neither output,
//    and are counted.
//  - Any other place line opens a record of at most six lines taken by
//    position (kPositionalRecordLines): "3 MAP" for its second line, then
//    the text after the 7th byte of each of the next four lines as the
//    values of the first four coordinate tags.
//    Such place lines are counted too, since their lines may be anything.
//  - A record of fewer than six lines that the end of the input cuts off is
//    cut short.
//  - Lines keep their own line ends; the map line, and lines that have
//    none, get the file's line end.
#ifndef PLACEHARVEST_PLACE_RECORD_H_
#define PLACEHARVEST_PLACE_RECORD_H_

#include <cstdint>
#include <string_view>

#include "coordinates_block.h"
#include "line_finder.h"

namespace placeharvest {

inline constexpr std::string_view kPlaceMarker = "0 _PLAC ";
// The underscore is by far the rarest byte of the marker in GEDCOM text.
inline constexpr Marker kPlaceLineMarker = {kPlaceMarker, 2};
static_assert(kPlaceMarker[kPlaceLineMarker.rare_byte] == '_',
              "the marker's rare byte is its underscore");

class PlaceRecordReader {
 public:
  // Reads the place record whose place line `lines` shows next, as
  // `place_line`, and returns its block, valid until the next call. Its
  // text may point into what `lines` has read: write it before taking more.
  const PlaceBlock& read(LineFinder& lines, const Line& place_line);
  // The block's text is where the finder has it: call this before the
  // finder's buffer moves (its before_move), so that a record being read
  // across the move keeps what it has.
  void keep_text() {
    if (reading_) block_.own_text();
  }

  // What the records read so far had, with positions whose line numbers
  // the finder counts when a message needs them.
  uint64_t place_records = 0;
  uint64_t left_out_lines = 0;
  Position first_left_out;
  uint64_t positional_place_lines = 0;
  Position first_positional_place_line;
  bool cut_short = false;
  Position cut_short_record;

 private:
  size_t read_by_tags(LineFinder& lines);
  size_t read_by_position(LineFinder& lines);

  PlaceBlock block_;
  bool reading_ = false;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_PLACE_RECORD_H_
