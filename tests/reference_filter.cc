#include "reference_filter.h"

#include <vector>

namespace placeharvest {
namespace {

struct Line {
  std::string text;    // without its line end
  std::string ending;  // "\n", "\r\n", "\r", or "" for a last line without
};

bool starts_with(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

// "<digits> [@xref@ ]<tag>[ <value>]"; an empty tag for any other line.
std::string tag_of(const std::string& text, std::string* value) {
  size_t level_end = text.find_first_not_of("0123456789");
  if (level_end == 0 || level_end == std::string::npos ||
      text[level_end] != ' ') {
    return "";
  }
  std::string rest = text.substr(level_end + 1);
  if (starts_with(rest, "@")) {
    size_t closing = rest.find('@', 1);
    if (closing == std::string::npos || rest.substr(closing + 1, 1) != " ") {
      return "";
    }
    rest = rest.substr(closing + 2);
  }
  size_t space = rest.find(' ');
  *value = space == std::string::npos ? "" : rest.substr(space + 1);
  return rest.substr(0, space);
}

}  // namespace

ReferenceSplit reference_split(const std::string& input) {
  // The first CR or LF decides: a run of CRs followed by a byte other than
  // LF means CR line ends; otherwise lines end at LF, and the program's own
  // line end is CR LF if the first line ends so.
  bool cr_file = false;
  std::string own_ending = "\n";
  size_t first = input.find_first_of("\r\n");
  size_t after_crs = first == std::string::npos
                         ? std::string::npos
                         : input.find_first_not_of('\r', first);
  if (first != std::string::npos && input[first] == '\r' &&
      after_crs != std::string::npos && input[after_crs] != '\n') {
    cr_file = true;
    own_ending = "\r";
  } else {
    size_t lf = input.find('\n');
    if (lf != std::string::npos && lf > 0 && input[lf - 1] == '\r') {
      own_ending = "\r\n";
    }
  }

  std::vector<Line> lines;
  char terminator = cr_file ? '\r' : '\n';
  for (size_t start = 0; start < input.size();) {
    size_t end = input.find(terminator, start);
    if (end == std::string::npos) {
      lines.push_back({input.substr(start), ""});
      break;
    }
    Line line{input.substr(start, end - start), std::string(1, terminator)};
    if (!cr_file && !line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.ending = "\r\n";
    }
    lines.push_back(line);
    start = end + 1;
  }

  auto ending_of = [&](const Line& line) {
    return line.ending.empty() ? own_ending : line.ending;
  };
  const std::string value_tags[] = {"4 LATI ", "4 LONG ", "4 ZOOM ", "4 PLEV "};
  ReferenceSplit split;
  const std::string coordinate_tags[] = {"MAP", "LATI", "LONG", "ZOOM", "PLEV"};
  for (size_t i = 0; i < lines.size();) {
    const Line& line = lines[i];
    if (starts_with(line.text, "0 _PLAC ")) {
      // A level-0 place record: every line up to the next level-0 line, by
      // tag; the first line of each coordinate tag counts.
      split.coordinates += "2 PLAC" + line.text.substr(7) + ending_of(line);
      bool seen[5] = {};
      std::string values[5];
      size_t next = i + 1;
      for (; next < lines.size() && !starts_with(lines[next].text, "0 ");
           ++next) {
        std::string value;
        std::string tag = tag_of(lines[next].text, &value);
        size_t k = 0;
        while (k < 5 && coordinate_tags[k] != tag) ++k;
        bool first = k < 5 && !seen[k];
        if (first) {
          seen[k] = true;
          values[k] = value + ending_of(lines[next]);
        }
        // Text on a MAP line has no place in the block either.
        bool map_text = k == 0 && !value.empty();
        if ((!first || map_text) && split.left_out_lines++ == 0) {
          split.first_left_out_line = next + 1;
        }
      }
      if (seen[0] || seen[1] || seen[2] || seen[3] || seen[4]) {
        split.coordinates += "3 MAP" + own_ending;
      }
      for (size_t k = 1; k < 5; ++k) {
        if (seen[k]) split.coordinates += value_tags[k - 1] + values[k];
      }
      if (next - i < 6 && next == lines.size()) {
        split.cut_short = true;
        split.cut_short_line = i + 1;
      }
      i = next;
      continue;
    }
    if (line.text.find("0 _PLAC ") == std::string::npos) {
      split.cleaned += line.text + line.ending;
      ++i;
      continue;
    }
    split.coordinates += "2 PLAC" +
                         line.text.substr(line.text.find("0 _PLAC") + 7) +
                         ending_of(line);
    // Any other place line: up to five more lines by position, until one
    // that begins a level-0 record.
    if (split.positional_place_lines++ == 0) {
      split.first_positional_place_line = i + 1;
    }
    size_t taken = 1;
    while (taken < 6 && i + taken < lines.size() &&
           !starts_with(lines[i + taken].text, "0 ")) {
      const Line& next = lines[i + taken];
      if (taken == 1) {
        split.coordinates += "3 MAP" + own_ending;
      } else {
        split.coordinates += value_tags[taken - 2];
        if (next.text.size() > 7) split.coordinates += next.text.substr(7);
        split.coordinates += ending_of(next);
      }
      ++taken;
    }
    if (taken < 6 && i + taken == lines.size()) {
      split.cut_short = true;
      split.cut_short_line = i + 1;
    }
    i += taken;
  }
  split.coordinates += "0 TLR" + own_ending;
  return split;
}

std::string reference_eight_bit_form(const std::u16string& units,
                                     bool odd_last_byte, char last_byte) {
  std::string form;
  for (char16_t unit : units) {
    if (unit < 0x80) {
      form += static_cast<char>(unit);
    } else if (unit < 0x800) {
      form += static_cast<char>(0xC0 | unit >> 6);
      form += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      form += static_cast<char>(0xE0 | unit >> 12);
      form += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      form += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  if (odd_last_byte) {
    unsigned char byte = static_cast<unsigned char>(last_byte);
    form += static_cast<char>(0xF8);
    form += static_cast<char>(0x80 | byte >> 6);
    form += static_cast<char>(0x80 | (byte & 0x3F));
  }
  return form;
}

std::string utf16_bytes(const std::u16string& units, bool little_endian) {
  std::string bytes;
  for (char16_t unit : units) {
    char low = static_cast<char>(unit & 0xFF);
    char high = static_cast<char>(unit >> 8);
    bytes += little_endian ? low : high;
    bytes += little_endian ? high : low;
  }
  return bytes;
}

std::string reference_utf16(const std::string& form, bool little_endian) {
  std::u16string units;
  std::string bytes;
  auto flush = [&] {
    bytes += utf16_bytes(units, little_endian);
    units.clear();
  };
  auto continuation = [&](size_t i) {
    return i < form.size() &&
           (static_cast<unsigned char>(form[i]) & 0xC0) == 0x80;
  };
  for (size_t i = 0; i < form.size();) {
    unsigned char lead = static_cast<unsigned char>(form[i]);
    size_t length = lead < 0x80    ? 1
                    : lead < 0xC0  ? 0
                    : lead < 0xE0  ? 2
                    : lead < 0xF0  ? 3
                    : lead == 0xF8 ? 3
                                   : 0;
    bool whole = length > 0;
    for (size_t k = 1; whole && k < length; ++k) whole = continuation(i + k);
    if (!whole) {  // the rest of a cut sequence, or a cut lead
      ++i;
      while (continuation(i)) ++i;
      continue;
    }
    uint32_t value = length == 1 ? lead : lead & (length == 2 ? 0x1F : 0x0F);
    if (lead == 0xF8) value = 0;
    for (size_t k = 1; k < length; ++k) {
      value = value << 6 | (static_cast<unsigned char>(form[i + k]) & 0x3F);
    }
    if (lead == 0xF8) {
      flush();
      bytes += static_cast<char>(value);
    } else {
      units += static_cast<char16_t>(value);
    }
    i += length;
  }
  flush();
  return bytes;
}

std::string first_difference(const ReferenceSplit& got,
                             const ReferenceSplit& expected) {
  if (got.coordinates != expected.coordinates) return "coordinates file";
  if (got.cleaned != expected.cleaned) return "cleaned file";
  if (got.cut_short != expected.cut_short) return "cut-short record";
  if (got.cut_short && got.cut_short_line != expected.cut_short_line) {
    return "line of the cut-short record";
  }
  if (got.left_out_lines != expected.left_out_lines ||
      got.first_left_out_line != expected.first_left_out_line) {
    return "lines left out";
  }
  if (got.positional_place_lines != expected.positional_place_lines ||
      got.first_positional_place_line != expected.first_positional_place_line) {
    return "place lines taken by position";
  }
  return "";
}

std::ostream& operator<<(std::ostream& out, const ReferenceSplit& split) {
  return out << "{coordinates \"" << split.coordinates << "\", cleaned \""
             << split.cleaned << "\", cut short " << split.cut_short << " at "
             << split.cut_short_line << ", left out " << split.left_out_lines
             << " from " << split.first_left_out_line << ", by position "
             << split.positional_place_lines << " from "
             << split.first_positional_place_line << "}";
}

ReferenceSplit reference_split_file(const std::string& file) {
  if (file.size() < 2) return reference_split(file);
  unsigned char first = static_cast<unsigned char>(file[0]);
  unsigned char second = static_cast<unsigned char>(file[1]);
  auto unit_at = [&](size_t i, bool little_endian) {
    unsigned char a = static_cast<unsigned char>(file[i]);
    unsigned char b = static_cast<unsigned char>(file[i + 1]);
    return static_cast<char16_t>(little_endian ? a | b << 8 : a << 8 | b);
  };
  // Without a mark: the first unit of the first 64 bytes that is not CR or
  // LF is "0".
  auto begins_with_zero = [&](bool little_endian) {
    for (size_t i = 0; i + 1 < file.size() && i < 64; i += 2) {
      char16_t unit = unit_at(i, little_endian);
      if (unit != u'\r' && unit != u'\n') return unit == u'0';
    }
    return false;
  };
  bool little = (first == 0xFF && second == 0xFE) || begins_with_zero(true);
  bool big =
      !little && ((first == 0xFE && second == 0xFF) || begins_with_zero(false));
  if (!little && !big) return reference_split(file);
  std::u16string units;
  for (size_t i = 0; i + 1 < file.size(); i += 2) units += unit_at(i, little);
  bool odd = file.size() % 2 == 1;
  ReferenceSplit split = reference_split(
      reference_eight_bit_form(units, odd, odd ? file.back() : 0));
  bool mark = first == 0xFF || first == 0xFE;
  split.coordinates = (mark ? utf16_bytes(u"\xfeff", little) : "") +
                      reference_utf16(split.coordinates, little);
  split.cleaned = reference_utf16(split.cleaned, little);
  return split;
}

std::u16string units_of(const std::string& utf8) {
  std::u16string units;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t point = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (size_t k = 1; k < length; ++k) {
      point = point << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    if (point >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(point);
    }
    i += length;
  }
  return units;
}

}  // namespace placeharvest
