#include "place_filter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>

#include "place_record.h"
#include "span_writer.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace placeharvest {
namespace {

constexpr std::string_view kPlaceMarker = "0 _PLAC ";
// The name text begins after the first anchor, which can stand in front of
// the first marker ("0 _PLACE 0 _PLAC x").
constexpr std::string_view kNameAnchor = "0 _PLAC";
// A line that begins like this opens a new level-0 record and so ends any
// place record before it.
constexpr std::string_view kLevelZeroStart = "0 ";
constexpr std::string_view kPlaceTag = "2 PLAC";
constexpr std::string_view kMapLine = "3 MAP";
constexpr std::string_view kValuePrefixes[] = {"4 LATI ", "4 LONG ", "4 ZOOM ",
                                               "4 PLEV "};
constexpr std::string_view kTrailer = "0 TLR";
// A value line holds a one-digit level, a space, a four-letter tag and a
// space in front of its value.
constexpr size_t kValueOffset = 7;
// The place line, the line that becomes "3 MAP", and the value lines.
constexpr size_t kRecordLines = 2 + std::size(kValuePrefixes);

constexpr std::string_view kLf = "\n";
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kCr = "\r";

constexpr size_t kNotFound = static_cast<size_t>(-1);

uint64_t count_byte(const char* data, size_t size, char byte) {
  // Counting runs over every byte of a piped input, so it must cost far
  // less than the copy. SSE2 compares 16 bytes at a time and sums the
  // matches in byte counters, which are added up before they can overflow.
  uint64_t count = 0;
  size_t i = 0;
#ifdef __SSE2__
  const __m128i needle = _mm_set1_epi8(byte);
  while (size - i >= 16) {
    size_t vectors = std::min<size_t>((size - i) / 16, 255);
    __m128i counters = _mm_setzero_si128();
    for (size_t k = 0; k < vectors; ++k, i += 16) {
      __m128i bytes =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(bytes, needle));
    }
    __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    count += static_cast<uint64_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<uint64_t>(_mm_extract_epi16(sums, 4));
  }
#endif
  for (; i < size; ++i) count += data[i] == byte;
  return count;
}

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// One line of the input: its text and its line end, which is empty for a
// last line that has none.
struct Line {
  std::string_view content;
  std::string_view ending;
  size_t size() const { return content.size() + ending.size(); }
};

// A place in the input that a message may need the line number of. Where
// the input can be read again, lines are counted only once one is needed.
struct Position {
  uint64_t offset = 0;
  uint64_t line = 0;  // counted from 1; 0 while not yet counted
};

class Extractor {
 public:
  Extractor(ByteSource& input, ByteSink& coordinates, ByteSink& cleaned,
            size_t block_size)
      : input_(input),
        coordinates_(coordinates),
        cleaned_(cleaned),
        block_size_(std::max<size_t>(block_size, 1)),
        counting_(!input.can_read_again()) {}

  ExtractResult run();

 private:
  // Finding lines.
  void detect_line_ends();
  bool find_place_line();
  bool peek_line(Line* line);
  void consume(size_t size);
  bool fill();
  Position position() const;
  bool count_line(Position* position);
  size_t find_marker(size_t from, size_t to) const;
  size_t after_last_line_end(size_t from, size_t to) const;

  // Reading a record and writing the outputs.
  Position take_place_line(const Line& line);
  void take_level_zero_record(const Line& place_line);
  void take_positional_record(const Line& place_line);
  void write_line_end(const Line& line);
  ExtractResult finish();

  ByteSource& input_;
  SpanWriter coordinates_;
  SpanWriter cleaned_;
  const size_t block_size_;
  const bool counting_;

  // buffer_[begin_, end_) holds the input not yet dealt with, begin_ being
  // the input's byte offset_ + begin_ and always the start of a line. No
  // line end lies in [begin_, search_from_), and, while looking for a place
  // line, no start of a marker either.
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;
  size_t search_from_ = 0;
  uint64_t offset_ = 0;
  bool at_end_ = false;
  bool read_failed_ = false;
  int read_error_number_ = 0;
  uint64_t lines_done_ = 0;  // line ends before begin_, while counting_

  // The byte that ends a line, and the line end the filter writes itself.
  char line_end_byte_ = '\n';
  std::string_view line_end_ = kLf;

  bool cut_short_ = false;
  Position cut_short_record_;
  uint64_t left_out_lines_ = 0;
  Position first_left_out_;
};

ExtractResult Extractor::run() {
  detect_line_ends();
  Line place_line;
  while (!read_failed_ && !coordinates_.failed() && !cleaned_.failed() &&
         find_place_line() && peek_line(&place_line)) {
    if (starts_with(place_line.content, kPlaceMarker)) {
      take_level_zero_record(place_line);
    } else {
      take_positional_record(place_line);
    }
  }
  return finish();
}

// The line ends are decided by the file's first CR or LF: a CR followed by a
// byte that is neither CR nor LF means CR line ends (old Macintosh files);
// anything else means LF line ends. The line end the filter writes itself is
// CR in a CR file, and in an LF file CR LF when the first line ends in CR LF.
void Extractor::detect_line_ends() {
  bool first_line_end_is_cr_pair = false;
  for (size_t from = 0;;) {
    const char* found =
        std::find_if(buffer_.get() + from, buffer_.get() + end_,
                     [](char c) { return c == '\n' || c == '\r'; });
    size_t position = static_cast<size_t>(found - buffer_.get());
    // A CR at the end of what has been read needs the byte after it.
    bool need_more =
        position == end_ ||
        (*found == '\r' && !first_line_end_is_cr_pair && position + 1 == end_);
    if (need_more) {
      if (at_end_) return;  // no line end, or a lone CR at the very end
      from = position;
      if (!fill()) return;
      continue;
    }
    if (*found == '\n') {
      if (position > 0 && buffer_[position - 1] == '\r') line_end_ = kCrLf;
      return;
    }
    if (!first_line_end_is_cr_pair) {
      char next = buffer_[position + 1];
      if (next != '\n' && next != '\r') {
        line_end_byte_ = '\r';
        line_end_ = kCr;
        return;
      }
      // CR LF or CR CR: LF line ends; the first LF decides the line end.
      first_line_end_is_cr_pair = true;
    }
    from = position + 1;
  }
}

// Copies ordinary lines to the cleaned file up to the next place line.
// Returns true with that line at begin_, or false at the end of the input
// or on a failure.
bool Extractor::find_place_line() {
  search_from_ = begin_;
  for (;;) {
    size_t marker = find_marker(search_from_, end_);
    if (marker != kNotFound) {
      size_t line_start = after_last_line_end(search_from_, marker);
      if (line_start == kNotFound) line_start = begin_;
      cleaned_.add(std::string_view(buffer_.get() + begin_, line_start - begin_));
      consume(line_start - begin_);
      return true;
    }
    size_t complete = after_last_line_end(search_from_, end_);
    if (complete == kNotFound && at_end_) complete = end_;  // no line end
    if (complete != kNotFound) {
      cleaned_.add(std::string_view(buffer_.get() + begin_, complete - begin_));
      consume(complete - begin_);
    }
    if (at_end_) return false;
    // A marker may straddle the end of what has been read so far.
    search_from_ =
        std::max(begin_, end_ - std::min(end_, kPlaceMarker.size() - 1));
    if (!fill()) return false;
  }
}

// Shows the line at begin_ without taking it. Returns false at the end of
// the input or on a failure.
bool Extractor::peek_line(Line* line) {
  for (;;) {
    const char* start = buffer_.get() + begin_;
    const void* found = std::memchr(buffer_.get() + search_from_,
                                    line_end_byte_, end_ - search_from_);
    if (found != nullptr) {
      size_t size = static_cast<size_t>(static_cast<const char*>(found) + 1 -
                                        start);
      bool cr_lf =
          line_end_byte_ == '\n' && size >= 2 && start[size - 2] == '\r';
      size_t ending = cr_lf ? 2 : 1;
      line->content = std::string_view(start, size - ending);
      line->ending = std::string_view(start + size - ending, ending);
      return true;
    }
    if (at_end_) {
      if (begin_ == end_) return false;
      line->content = std::string_view(start, end_ - begin_);
      line->ending = {};
      return true;
    }
    search_from_ = end_;
    if (!fill()) return false;
  }
}

void Extractor::consume(size_t size) {
  if (counting_) {
    lines_done_ += count_byte(buffer_.get() + begin_, size, line_end_byte_);
  }
  begin_ += size;
  search_from_ = begin_;
}

// Reads more input behind what is kept. Returns false on a failure; at the
// end of the input it sets at_end_ instead.
bool Extractor::fill() {
  // Spans still to be written may point into the buffer.
  if (!coordinates_.flush() || !cleaned_.flush()) return false;
  size_t kept = end_ - begin_;
  if (kept + block_size_ > capacity_) {
    // Past the first block, only a line longer than a block gets here;
    // doubling keeps the cost of holding it linear in its length.
    size_t capacity =
        std::max({kept + block_size_, 2 * capacity_, 2 * block_size_});
    std::unique_ptr<char[]> buffer(new char[capacity]);
    if (kept > 0) std::memcpy(buffer.get(), buffer_.get() + begin_, kept);
    buffer_ = std::move(buffer);
    capacity_ = capacity;
  } else if (begin_ > 0 && kept > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
  }
  offset_ += begin_;
  search_from_ -= begin_;
  begin_ = 0;
  end_ = kept;

  long long count = input_.read(buffer_.get() + end_, block_size_);
  if (count < 0) {
    read_failed_ = true;
    read_error_number_ = errno;
    return false;
  }
  if (count == 0) at_end_ = true;
  end_ += static_cast<size_t>(count);
  return true;
}

Position Extractor::position() const {
  Position position;
  position.offset = offset_ + begin_;
  if (counting_) position.line = lines_done_ + 1;
  return position;
}

// Finds the line number of `position` by counting the line ends in front of
// it, reading the input again. Returns false on a read error.
bool Extractor::count_line(Position* position) {
  if (position->line != 0) return true;
  uint64_t lines = 0;
  for (uint64_t offset = 0; offset < position->offset;) {
    size_t size = static_cast<size_t>(
        std::min<uint64_t>(capacity_, position->offset - offset));
    long long count = input_.read_at(offset, buffer_.get(), size);
    if (count < 0) return false;
    if (count == 0) break;
    lines += count_byte(buffer_.get(), static_cast<size_t>(count),
                        line_end_byte_);
    offset += static_cast<uint64_t>(count);
  }
  position->line = lines + 1;
  return true;
}

void Extractor::write_line_end(const Line& line) {
  coordinates_.add(line.ending.empty() ? line_end_ : line.ending);
}

// Writes "2 PLAC" and the name of `line`, the place line at begin_, and
// takes the line. Returns where it stood.
Position Extractor::take_place_line(const Line& line) {
  Position start = position();
  size_t anchor = line.content.find(kNameAnchor);
  coordinates_.add(kPlaceTag);
  coordinates_.add(line.content.substr(anchor + kNameAnchor.size()));
  write_line_end(line);
  consume(line.size());
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
  for (; peek_line(&line); ++taken) {
    if (starts_with(line.content, kLevelZeroStart)) break;
    if (!coordinates.take(line.content,
                          line.ending.empty() ? line_end_ : line.ending)) {
      if (left_out_lines_++ == 0) first_left_out_ = position();
    }
    consume(line.size());
  }
  coordinates.write(coordinates_, line_end_);
  if (taken < kRecordLines && at_end_ && begin_ == end_) {
    cut_short_ = true;
    cut_short_record_ = start;
  }
}

// The place line and up to five lines after it, taken by position.
void Extractor::take_positional_record(const Line& place_line) {
  Position start = take_place_line(place_line);
  Line line;
  size_t taken = 1;
  for (; taken < kRecordLines && peek_line(&line); ++taken) {
    // A short record: this line belongs to what follows it.
    if (starts_with(line.content, kLevelZeroStart)) return;
    if (taken == 1) {
      coordinates_.add(kMapLine);
      coordinates_.add(line_end_);  // the line itself is dropped
    } else {
      coordinates_.add(kValuePrefixes[taken - 2]);
      if (line.content.size() > kValueOffset) {
        coordinates_.add(line.content.substr(kValueOffset));
      }
      write_line_end(line);
    }
    consume(line.size());
  }
  if (taken < kRecordLines && at_end_ && begin_ == end_) {
    cut_short_ = true;
    cut_short_record_ = start;
  }
}

ExtractResult Extractor::finish() {
  ExtractResult result;
  if (read_failed_) {
    result.status = ExtractStatus::kReadFailed;
    result.error_number = read_error_number_;
    return result;
  }
  coordinates_.add(kTrailer);
  coordinates_.add(line_end_);
  if (!coordinates_.flush() || !cleaned_.flush()) {
    if (coordinates_.failed()) {
      result.status = ExtractStatus::kCoordinatesWriteFailed;
      result.error_number = coordinates_.error_number();
    } else {
      result.status = ExtractStatus::kCleanedWriteFailed;
      result.error_number = cleaned_.error_number();
    }
    return result;
  }
  if ((left_out_lines_ > 0 && !count_line(&first_left_out_)) ||
      (cut_short_ && !count_line(&cut_short_record_))) {
    result.status = ExtractStatus::kReadFailed;
    result.error_number = errno;
    return result;
  }
  result.left_out_lines = left_out_lines_;
  result.first_left_out_line = first_left_out_.line;
  if (cut_short_) {
    result.status = ExtractStatus::kCutShortRecord;
    result.cut_short_record_line = cut_short_record_.line;
  }
  return result;
}

// Returns the offset of the first marker that starts in [from, to) and ends
// by `to`, or kNotFound.
size_t Extractor::find_marker(size_t from, size_t to) const {
  // The underscore is by far the rarest byte of the marker in GEDCOM text,
  // and memchr finds it at memory speed.
  constexpr size_t kUnderscore = 2;
  if (to - from < kPlaceMarker.size()) return kNotFound;
  const char* text = buffer_.get();
  const char* candidate = text + from + kUnderscore;
  const char* last = text + to - (kPlaceMarker.size() - kUnderscore - 1);
  while (candidate < last) {
    candidate = static_cast<const char*>(
        std::memchr(candidate, '_', static_cast<size_t>(last - candidate)));
    if (candidate == nullptr) return kNotFound;
    const char* start = candidate - kUnderscore;
    if (std::memcmp(start, kPlaceMarker.data(), kPlaceMarker.size()) == 0) {
      return static_cast<size_t>(start - text);
    }
    ++candidate;
  }
  return kNotFound;
}

// Returns the offset just past the last line end in [from, to), or kNotFound.
size_t Extractor::after_last_line_end(size_t from, size_t to) const {
  for (size_t i = to; i > from; --i) {
    if (buffer_[i - 1] == line_end_byte_) return i;
  }
  return kNotFound;
}

}  // namespace

ExtractResult extract_places(ByteSource& input, ByteSink& coordinates,
                             ByteSink& cleaned, size_t block_size) {
  return Extractor(input, coordinates, cleaned, block_size).run();
}

}  // namespace placeharvest
