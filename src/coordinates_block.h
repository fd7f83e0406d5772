// The coordinates file's format: each place record becomes a block of
// "2 PLAC" and the place name, "3 MAP", and the prefix of each coordinate
// tag it has ("4 LATI " and so on, coordinate_tags.h) with its value; the
// file ends with "0 TLR". This unit alone knows the format: it writes the
// blocks and the trailer, and it recognises its own files. Another output
// format would be another unit like it.
#ifndef PLACEHARVEST_COORDINATES_BLOCK_H_
#define PLACEHARVEST_COORDINATES_BLOCK_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "coordinate_tags.h"
#include "span_writer.h"

namespace placeharvest {

// The text of one line of a block, and a line end after it for text that
// has none of its own: where the input has them, until own() keeps a copy
// of the text, so that reading a record copies nothing.
class BlockText {
 public:
  void assign(std::string_view text, std::string_view line_end) {
    text_ = text;
    line_end_ = line_end;
  }
  // Stops depending on where the text was.
  void own() {
    if (text_.data() == owned_.data()) return;
    owned_.assign(text_);
    text_ = owned_;
  }
  std::string_view text() const { return text_; }
  std::string_view line_end() const { return line_end_; }

 private:
  std::string_view text_;
  std::string_view line_end_;
  std::string owned_;
};

// What one place record gives the coordinates file. Reused from record to
// record, so that what it owns keeps its storage.
struct PlaceBlock {
  BlockText name;  // the text after "2 PLAC"
  bool has_map = false;
  // In the order of kCoordinateTags.
  bool has_value[kCoordinateValues] = {};
  BlockText values[kCoordinateValues];

  void clear() {
    has_map = false;
    for (bool& has : has_value) has = false;
  }
  // Makes the block's text its own (see BlockText::own).
  void own_text() {
    name.own();
    for (size_t i = 0; i < kCoordinateValues; ++i) {
      if (has_value[i]) values[i].own();
    }
  }
};

// Writes `block` to `coordinates`: "2 PLAC" and its name; "3 MAP" and
// `line_end` when it has a map; then each value it has behind its prefix.
// Nothing written refers to `block` afterwards.
void write_block(SpanWriter& coordinates, const PlaceBlock& block,
                 std::string_view line_end);

// Writes the line that ends a whole coordinates file.
void write_trailer(SpanWriter& coordinates, std::string_view line_end);

// How many of an existing file's first bytes recognising it takes.
inline constexpr size_t kRecognisedFrom = 24;

// What the first bytes `start` (up to kRecognisedFrom, or the whole file)
// of an existing file say: whether it may be a coordinates file, which it
// is when it begins "2 PLAC" or "0 TLR" (or a piece of either, when the
// file is shorter), in its 8-bit or UTF-16 form, with or without a
// byte-order mark; an empty file counts. For another file, its first line
// as far as `start` shows it, to name it to the user.
struct RecognisedFile {
  bool is_coordinates_file;
  std::string first_line;
};
RecognisedFile recognise_file(std::string_view start);

}  // namespace placeharvest

#endif  // PLACEHARVEST_COORDINATES_BLOCK_H_
