#include "place_record.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "byte_kernels.h"

namespace placeharvest {
namespace {

// The name begins after the first anchor.
constexpr std::string_view kNameAnchor = kPlaceMarker.substr(0, 7);
constexpr std::string_view kLevelZeroStart = "0 ";
// A line taken by position holds a one-digit level, a space, a four-letter
// tag and a space in front of its value.
constexpr size_t kValueOffset = 7;

constexpr size_t kNoTag = static_cast<size_t>(-1);
constexpr size_t kMap = kCoordinateValues;

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A tag of up to kLongestTag bytes and its length as one number, so that
// the tags are told apart by one comparison each.
static_assert(kLongestTag <= 4, "a tag and its length fit one number");
constexpr uint64_t tag_key(std::string_view tag) {
  uint64_t key =
      tag.size() <= kLongestTag ? static_cast<uint64_t>(tag.size()) << 32 : 0;
  for (size_t i = 0; i < tag.size() && i < kLongestTag; ++i) {
    key |= static_cast<uint64_t>(static_cast<unsigned char>(tag[i])) << (8 * i);
  }
  return key;
}

// The keys of the coordinate tags, in table order, and MAP's last.
struct TagKeys {
  uint64_t keys[kCoordinateValues + 1];
};
constexpr TagKeys make_tag_keys() {
  TagKeys made = {};
  for (size_t i = 0; i < kCoordinateValues; ++i) {
    made.keys[i] = tag_key(kCoordinateTags[i].tag);
  }
  made.keys[kMap] = tag_key(kMapTag);
  return made;
}
constexpr TagKeys kTagKeys = make_tag_keys();

// The 8 bytes at `bytes` as a number, the first byte lowest.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the tag's bytes are read as a little-endian number");
uint64_t load_8_bytes(const char* bytes) {
  uint64_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

// The key of the tag that begins at `line[at]` and runs to the next space
// or the end of `line`, and that tag's length; a key no tag has for one
// longer than kLongestTag. Reads 8 bytes from `at`, which a line allows.
uint64_t key_of_tag_at(std::string_view line, size_t at, size_t* length) {
  uint64_t bytes = load_8_bytes(line.data() + at);
  constexpr uint64_t kOnes = 0x0101010101010101;
  uint64_t spaces = bytes ^ (kOnes * ' ');  // a zero byte for each space
  uint64_t zero_bytes = (spaces - kOnes) & ~spaces & (kOnes << 7);
  size_t to_space = zero_bytes != 0 ? lowest_bit(zero_bytes) / 8 : 8;
  *length = std::min(to_space, line.size() - at);
  if (*length > kLongestTag) return 0;
  uint64_t mask = (uint64_t{1} << (8 * *length)) - 1;
  return (bytes & mask) | static_cast<uint64_t>(*length) << 32;
}

// Which coordinate tag a GEDCOM line has: its level (one or more digits)
// from the first byte, one space, an optional cross-reference "@...@" and
// one space, then the tag, which runs to the next space or the end. Returns
// the value's index in PlaceBlock, kMap, or kNoTag for any other line, and
// stores in `value` what follows the tag and the one space after it.
size_t coordinate_tag(std::string_view line, std::string_view* value) {
  size_t at = 0;
  const size_t size = line.size();
  while (at < size && is_digit(line[at])) ++at;
  if (at == 0 || at == size || line[at] != ' ') return kNoTag;
  ++at;
  if (at < size && line[at] == '@') {
    size_t closing = line.find('@', at + 1);
    if (closing == std::string_view::npos || closing + 1 == size ||
        line[closing + 1] != ' ') {
      return kNoTag;
    }
    at = closing + 2;
  }
  size_t length;
  uint64_t key = key_of_tag_at(line, at, &length);
  for (size_t i = 0; i <= kMap; ++i) {
    if (key == kTagKeys.keys[i]) {
      *value = line.substr(std::min(at + length + 1, size));
      return i;
    }
  }
  return kNoTag;
}

// Keeps `text`, which ends `line`'s content, with the line's own line end,
// or the file's for a last line without one.
void keep(BlockText& kept, std::string_view text, const Line& line,
          const LineFinder& lines) {
  if (line.ending.empty()) {
    kept.assign(text, lines.line_end());
  } else {
    // The line end follows the text in the input.
    kept.assign(std::string_view(text.data(), text.size() + line.ending.size()),
                {});
  }
}

}  // namespace

const PlaceBlock& PlaceRecordReader::read(LineFinder& lines,
                                          const Line& place_line) {
  Position start = lines.position();
  block_.clear();
  reading_ = true;
  std::string_view content = place_line.content;
  bool by_tags = starts_with(content, kPlaceMarker);
  // The anchor that begins a line is its first.
  size_t anchor = by_tags ? 0 : content.find(kNameAnchor);
  keep(block_.name, content.substr(anchor + kNameAnchor.size()), place_line,
       lines);
  lines.take_line(place_line);
  size_t taken = by_tags ? read_by_tags(lines) : read_by_position(lines);
  reading_ = false;
  if (!by_tags && positional_place_lines++ == 0) {
    first_positional_place_line = start;
  }
  ++place_records;
  if (taken < kPositionalRecordLines && lines.at_end()) {
    cut_short = true;
    cut_short_record = start;
  }
  return block_;
}

// What is not a coordinate has no place in either output: the coordinates
// file has no room for it, and in the cleaned file it would hang under
// whatever record came before. Returns how many lines the record had.
size_t PlaceRecordReader::read_by_tags(LineFinder& lines) {
  Line line;
  size_t taken = 1;
  bool had_map_line = false;
  for (; lines.peek_line(&line); ++taken) {
    if (starts_with(line.content, kLevelZeroStart)) break;
    std::string_view value;
    size_t tag = coordinate_tag(line.content, &value);
    bool first = tag == kMap     ? !had_map_line
                 : tag != kNoTag ? !block_.has_value[tag]
                                 : false;
    // The MAP line's own text has no place in the block, whose "3 MAP"
    // stands alone: a line that has some is left out like any other.
    bool left_out = !first || (tag == kMap && !value.empty());
    if (first) {
      if (tag == kMap) {
        had_map_line = true;
      } else {
        block_.has_value[tag] = true;
        keep(block_.values[tag], value, line, lines);
      }
      block_.has_map = true;
    }
    if (left_out && left_out_lines++ == 0) first_left_out = lines.position();
    lines.take_line(line);
  }
  return taken;
}

// Up to five lines after the place line, whatever they are, until one that
// begins a level-0 record. Returns how many lines the record had.
size_t PlaceRecordReader::read_by_position(LineFinder& lines) {
  Line line;
  size_t taken = 1;
  for (; taken < kPositionalRecordLines && lines.peek_line(&line); ++taken) {
    if (starts_with(line.content, kLevelZeroStart)) break;
    if (taken == 1) {
      block_.has_map = true;  // the line itself is dropped
    } else {
      size_t value = taken - 2;
      block_.has_value[value] = true;
      keep(block_.values[value],
           line.content.substr(std::min(kValueOffset, line.content.size())),
           line, lines);
    }
    lines.take_line(line);
  }
  return taken;
}

}  // namespace placeharvest
