#include "place_filter.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <new>
#include <string_view>

#include "line_reader.h"
#include "place_record.h"
#include "span_writer.h"

namespace placeharvest {
namespace {

// The name text begins after the first anchor, which can stand in front of
// the first marker ("0 _PLACE 0 _PLAC x").
constexpr std::string_view kNameAnchor = "0 _PLAC";
// A line that begins like this opens a new level-0 record and so ends any
// place record before it.
constexpr std::string_view kLevelZeroStart = "0 ";
constexpr std::string_view kPlaceTag = "2 PLAC";
constexpr std::string_view kTrailer = "0 TLR";
// A value line holds a one-digit level, a space, a four-letter tag and a
// space in front of its value.
constexpr size_t kValueOffset = 7;
// The place line, the line that becomes "3 MAP", and the value lines.
constexpr size_t kRecordLines = 2 + std::size(kValuePrefixes);

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

class Extractor {
 public:
  Extractor(ByteSource& input, ByteSink& coordinates, ByteSink& cleaned,
            size_t block_size)
      : coordinates_(coordinates),
        cleaned_(cleaned),
        // Spans still to be written may point into the reader's buffer.
        lines_(input, std::max<size_t>(block_size, 1),
               [this] { return coordinates_.flush() && cleaned_.flush(); }) {}

  ExtractResult run();

 private:
  bool failed() const { return coordinates_.failed() || cleaned_.failed(); }
  Position take_place_line(const Line& line);
  void take_level_zero_record(const Line& place_line);
  void take_positional_record(const Line& place_line);
  std::string_view line_end_of(const Line& line) const;
  ExtractResult finish();

  SpanWriter coordinates_;
  SpanWriter cleaned_;
  LineReader lines_;

  bool cut_short_ = false;
  Position cut_short_record_;
  uint64_t left_out_lines_ = 0;
  Position first_left_out_;
  uint64_t positional_place_lines_ = 0;
  Position first_positional_place_line_;
};

ExtractResult Extractor::run() {
  lines_.detect_line_ends();
  for (;;) {
    std::string_view run;
    while (lines_.ordinary_lines(&run)) {
      cleaned_.add(run);
      lines_.consume(run.size());
    }
    Line place_line;
    if (lines_.read_failed() || failed() || !lines_.peek_line(&place_line)) {
      break;
    }
    if (starts_with(place_line.content, kPlaceMarker)) {
      take_level_zero_record(place_line);
    } else {
      take_positional_record(place_line);
    }
  }
  return finish();
}

// A line keeps its own line end in the coordinates file; a last line
// without one gets the file's.
std::string_view Extractor::line_end_of(const Line& line) const {
  return line.ending.empty() ? lines_.line_end() : line.ending;
}

// Writes "2 PLAC" and the name of `line`, the place line at the reading
// position, and takes the line. Returns where it stood.
Position Extractor::take_place_line(const Line& line) {
  Position start = lines_.position();
  size_t anchor = line.content.find(kNameAnchor);
  coordinates_.add(kPlaceTag);
  coordinates_.add(line.content.substr(anchor + kNameAnchor.size()));
  coordinates_.add(line_end_of(line));
  lines_.consume(line.size());
  return start;
}

// The place line and every line up to the next level-0 line, read by their
// tags. What is not a coordinate has no place in either output: the
// coordinates file has no room for it, and in the cleaned file it would
// hang under whatever record came before.
void Extractor::take_level_zero_record(const Line& place_line) {
  Position start = take_place_line(place_line);
  PlaceCoordinates coordinates;
  Line line;
  size_t taken = 1;
  for (; lines_.peek_line(&line); ++taken) {
    if (starts_with(line.content, kLevelZeroStart)) break;
    if (!coordinates.take(line.content, line_end_of(line))) {
      if (left_out_lines_++ == 0) first_left_out_ = lines_.position();
    }
    lines_.consume(line.size());
  }
  coordinates.write(coordinates_, lines_.line_end());
  if (taken < kRecordLines && lines_.at_end()) {
    cut_short_ = true;
    cut_short_record_ = start;
  }
}

// The place line and up to five lines after it, taken by position.
void Extractor::take_positional_record(const Line& place_line) {
  Position start = take_place_line(place_line);
  // Lines taken by position may be anything (a note that mentions the
  // marker takes the person's next five lines), so the user is told.
  if (positional_place_lines_++ == 0) first_positional_place_line_ = start;
  Line line;
  size_t taken = 1;
  for (; taken < kRecordLines && lines_.peek_line(&line); ++taken) {
    // A short record: this line belongs to what follows it.
    if (starts_with(line.content, kLevelZeroStart)) return;
    if (taken == 1) {
      coordinates_.add(kMapLine);
      coordinates_.add(lines_.line_end());  // the line itself is dropped
    } else {
      coordinates_.add(kValuePrefixes[taken - 2]);
      if (line.content.size() > kValueOffset) {
        coordinates_.add(line.content.substr(kValueOffset));
      }
      coordinates_.add(line_end_of(line));
    }
    lines_.consume(line.size());
  }
  if (taken < kRecordLines && lines_.at_end()) {
    cut_short_ = true;
    cut_short_record_ = start;
  }
}

ExtractResult Extractor::finish() {
  ExtractResult result;
  if (lines_.read_failed()) {
    result.status = ExtractStatus::kReadFailed;
    result.error_number = lines_.read_error_number();
    return result;
  }
  // The trailer says that the coordinates file is whole, so it follows only
  // once everything else of both outputs is written.
  if (coordinates_.flush() && cleaned_.flush()) {
    coordinates_.add(kTrailer);
    coordinates_.add(lines_.line_end());
    coordinates_.flush();
  }
  if (coordinates_.failed()) {
    result.status = ExtractStatus::kCoordinatesWriteFailed;
    result.error_number = coordinates_.error_number();
    return result;
  }
  if (cleaned_.failed()) {
    result.status = ExtractStatus::kCleanedWriteFailed;
    result.error_number = cleaned_.error_number();
    return result;
  }
  Position* reported[] = {&first_left_out_, &first_positional_place_line_,
                          &cut_short_record_};
  bool wanted[] = {left_out_lines_ > 0, positional_place_lines_ > 0,
                   cut_short_};
  if (!lines_.count_lines(reported, wanted, std::size(reported))) {
    result.status = ExtractStatus::kReadFailed;
    result.error_number = errno;
    return result;
  }
  result.left_out_lines = left_out_lines_;
  result.first_left_out_line = first_left_out_.line;
  result.positional_place_lines = positional_place_lines_;
  result.first_positional_place_line = first_positional_place_line_.line;
  if (cut_short_) {
    result.status = ExtractStatus::kCutShortRecord;
    result.cut_short_record_line = cut_short_record_.line;
  }
  return result;
}

}  // namespace

ExtractResult extract_places(ByteSource& input, ByteSink& coordinates,
                             ByteSink& cleaned, size_t block_size) {
  try {
    return Extractor(input, coordinates, cleaned, block_size).run();
  } catch (const std::bad_alloc&) {
    // A line longer than memory, or a record's values: what was written so
    // far stays, without the trailer.
    ExtractResult result;
    result.status = ExtractStatus::kOutOfMemory;
    return result;
  }
}

bool looks_like_coordinates_file(std::string_view start) {
  for (std::string_view beginning : {kPlaceTag, kTrailer}) {
    size_t size = std::min(start.size(), beginning.size());
    if (start.substr(0, size) == beginning.substr(0, size)) return true;
  }
  return false;
}

}  // namespace placeharvest
