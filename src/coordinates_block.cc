#include "coordinates_block.h"

#include <algorithm>
#include <cstring>

namespace placeharvest {
namespace {

constexpr std::string_view kPlaceTag = "2 PLAC";
constexpr std::string_view kMapLine = "3 MAP";
constexpr std::string_view kValuePrefixes[PlaceBlock::kValues] = {
    "4 LATI ", "4 LONG ", "4 ZOOM ", "4 PLEV "};
constexpr std::string_view kTrailer = "0 TLR";

// Hands each piece of `block` to `put`, in order: the one statement of a
// block's lines, used to measure a block and to write it.
template <typename Put>
void format_block(const PlaceBlock& block, std::string_view line_end, Put put) {
  put(kPlaceTag);
  put(block.name.view());
  if (block.has_map) {
    put(kMapLine);
    put(line_end);
  }
  for (size_t i = 0; i < PlaceBlock::kValues; ++i) {
    if (!block.has_value[i]) continue;
    put(kValuePrefixes[i]);
    put(block.values[i].view());
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

bool looks_like_coordinates_file(std::string_view start) {
  // A text editor that saves the file again may put a UTF-8 byte-order
  // mark in front.
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  if (start.substr(0, kUtf8Mark.size()) == kUtf8Mark.substr(0, start.size())) {
    start.remove_prefix(std::min(start.size(), kUtf8Mark.size()));
  }
  for (std::string_view beginning : {kPlaceTag, kTrailer}) {
    size_t size = std::min(start.size(), beginning.size());
    if (start.substr(0, size) == beginning.substr(0, size)) return true;
  }
  return false;
}

}  // namespace placeharvest
