#include "place_record.h"

namespace placeharvest {
namespace {

constexpr std::string_view kTags[] = {"MAP", "LATI", "LONG", "ZOOM", "PLEV"};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string_view gedcom_tag(std::string_view line, std::string_view* value) {
  size_t at = 0;
  while (at < line.size() && is_digit(line[at])) ++at;
  if (at == 0 || at == line.size() || line[at] != ' ') return {};
  ++at;
  if (at < line.size() && line[at] == '@') {
    size_t closing = line.find('@', at + 1);
    if (closing == std::string_view::npos || closing + 1 == line.size() ||
        line[closing + 1] != ' ') {
      return {};
    }
    at = closing + 2;
  }
  size_t tag_end = line.find(' ', at);
  if (tag_end == std::string_view::npos) {
    *value = {};
    return line.substr(at);
  }
  *value = line.substr(tag_end + 1);
  return line.substr(at, tag_end - at);
}

bool PlaceCoordinates::take(std::string_view line, std::string_view line_end) {
  std::string_view value;
  std::string_view tag = gedcom_tag(line, &value);
  for (size_t i = 0; i < kTags; ++i) {
    if (tag != placeharvest::kTags[i]) continue;
    if (seen_[i]) return false;
    seen_[i] = true;
    // The MAP line's own text is not written: "3 MAP" is the block's.
    if (i > 0) values_[i].assign(value).append(line_end);
    return true;
  }
  return false;
}

void PlaceCoordinates::write(SpanWriter& coordinates,
                             std::string_view own_line_end) const {
  bool any = false;
  for (bool seen : seen_) any = any || seen;
  if (!any) return;
  coordinates.add(kMapLine);
  coordinates.add(own_line_end);
  for (size_t i = 1; i < kTags; ++i) {
    if (!seen_[i]) continue;
    coordinates.add(kValuePrefixes[i - 1]);
    coordinates.copy(values_[i]);  // this record's values die with it
  }
}

}  // namespace placeharvest
