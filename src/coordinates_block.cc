#include "coordinates_block.h"

#include <algorithm>
#include <cstring>

#include "utf16.h"

namespace placeharvest {
namespace {

constexpr std::string_view kPlaceTag = "2 PLAC";
constexpr std::string_view kMapLine = "3 MAP";
constexpr std::string_view kTrailer = "0 TLR";

// Hands each piece of `block` that is not empty to `put_piece`, in order:
// the one statement of a block's lines, used to measure a block and to
// write it.
template <typename Put>
void format_block(const PlaceBlock& block, std::string_view line_end,
                  Put put_piece) {
  auto put = [&](std::string_view text) {
    if (!text.empty()) put_piece(text);
  };
  put(kPlaceTag);
  put(block.name.text());
  put(block.name.line_end());
  if (block.has_map) {
    put(kMapLine);
    put(line_end);
  }
  for (size_t i = 0; i < kCoordinateValues; ++i) {
    if (!block.has_value[i]) continue;
    put(kCoordinateTags[i].prefix);
    put(block.values[i].text());
    put(block.values[i].line_end());
  }
}

}  // namespace

void write_block(SpanWriter& coordinates, const PlaceBlock& block,
                 std::string_view line_end) {
  size_t size = 0;
  format_block(block, line_end,
               [&](std::string_view text) { size += text.size(); });
  // A block of ordinary size goes into the writer's staging in one piece.
  if (char* room = coordinates.room(size)) {
    format_block(block, line_end, [&](std::string_view text) {
      std::memcpy(room, text.data(), text.size());
      room += text.size();
    });
    coordinates.commit(size);
  } else {
    format_block(block, line_end,
                 [&](std::string_view text) { coordinates.add_copy(text); });
  }
}

void write_trailer(SpanWriter& coordinates, std::string_view line_end) {
  coordinates.add_copy(kTrailer);
  coordinates.add_copy(line_end);
}

RecognisedFile recognise_file(std::string_view start) {
  std::string text = text_of_start(start);
  std::string_view begins = text;
  // A text editor that saves the file again may put a UTF-8 byte-order
  // mark in front.
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  if (begins.substr(0, kUtf8Mark.size()) ==
      kUtf8Mark.substr(0, begins.size())) {
    begins.remove_prefix(std::min(begins.size(), kUtf8Mark.size()));
  }
  for (std::string_view beginning : {kPlaceTag, kTrailer}) {
    size_t size = std::min(begins.size(), beginning.size());
    if (begins.substr(0, size) == beginning.substr(0, size)) {
      return {true, {}};
    }
  }
  size_t end = text.find_first_of(std::string_view("\r\n\0", 3));
  std::string_view line = std::string_view(text).substr(0, end);
  if (end == std::string_view::npos) {
    // The start may have cut through a UTF-8 character: none is shown half.
    while (!line.empty() && (line.back() & 0xC0) == 0x80) line.remove_suffix(1);
    if (!line.empty() && (line.back() & 0x80) != 0) line.remove_suffix(1);
  }
  return {false, std::string(line)};
}

}  // namespace placeharvest
