#include "place_filter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

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

// Gathers what is to be written to one output as spans, so that text taken
// from the input (nearly all of the cleaned file) reaches the sink without
// being copied. Short pieces (tags, values, line ends) are copied into a
// staging buffer instead: the system copies a few large spans far faster
// than many tiny ones. Spans point into the input, so flush() must run
// before the input's data changes.
class SpanWriter {
 public:
  explicit SpanWriter(ByteSink& sink)
      : sink_(sink), staging_(new char[kStagingSize]) {
    spans_.reserve(kMaxSpans);
  }

  void add(std::string_view text) {
    if (text.empty() || failed_) return;
    bool copy = text.size() < kCopyBelow;
    if (spans_.size() == kMaxSpans ||
        (copy && staged_ + text.size() > kStagingSize)) {
      if (!flush()) return;
    }
    const char* data = text.data();
    if (copy) {
      char* staged = staging_.get() + staged_;
      std::memcpy(staged, data, text.size());
      staged_ += text.size();
      data = staged;
    }
    if (!spans_.empty() && spans_.back().data + spans_.back().size == data) {
      spans_.back().size += text.size();
    } else {
      spans_.push_back({data, text.size()});
    }
  }

  bool flush() {
    if (failed_) return false;
    if (!spans_.empty() && !sink_.write(spans_.data(), spans_.size())) {
      failed_ = true;
      error_number_ = errno;
    }
    spans_.clear();
    staged_ = 0;
    return !failed_;
  }

  bool failed() const { return failed_; }
  int error_number() const { return error_number_; }

 private:
  // One POSIX writev() takes up to 1024 spans.
  static constexpr size_t kMaxSpans = 1024;
  static constexpr size_t kCopyBelow = 256;
  static constexpr size_t kStagingSize = 64 * 1024;

  ByteSink& sink_;
  std::vector<ByteSpan> spans_;
  std::unique_ptr<char[]> staging_;
  size_t staged_ = 0;
  bool failed_ = false;
  int error_number_ = 0;
};

uint64_t count_byte(const char* data, size_t size, char byte) {
  // Line counting runs over every byte of the cleaned file, so it must cost
  // far less than the copy. SSE2 compares 16 bytes at a time and sums the
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

class Extractor {
 public:
  Extractor(ByteSource& input, ByteSink& coordinates, ByteSink& cleaned,
            size_t block_size)
      : input_(input),
        coordinates_(coordinates),
        cleaned_(cleaned),
        block_size_(std::max<size_t>(block_size, 1)),
        viewing_(input.can_view()) {}

  ExtractResult run();

 private:
  enum class State { kDetectingLineEnds, kScanning, kInRecord };
  enum class Step { kContinue, kNeedInput, kEndOfInput };
  enum class Fill { kData, kEnd, kFailed };

  Step detect_line_ends();
  Step scan();
  Step take_record_line();
  Fill fill();
  ExtractResult finish();

  bool count_lines_before(uint64_t end, uint64_t* lines);
  size_t find_marker(size_t from, size_t to) const;
  size_t after_last_line_end(size_t from, size_t to) const;
  void copy_to_cleaned(size_t from, size_t to);
  ExtractResult write_failure() const;

  ByteSource& input_;
  SpanWriter coordinates_;
  SpanWriter cleaned_;
  const size_t block_size_;

  // The input is either read into buffer_ or, where the source can show it
  // in place, viewed there without a copy, view_offset_ being the input's
  // offset of data_[0]. The cleaned file is then written straight from the
  // view: one copy of the data in all, as when copying a file.
  const bool viewing_;
  size_t capacity_ = 0;
  std::unique_ptr<char[]> buffer_;
  uint64_t view_offset_ = 0;
  const char* data_ = nullptr;
  // data_[begin_, end_) holds the input not yet dealt with; begin_ is always
  // at the start of a line. While scanning, data_[begin_, search_from_) is
  // known to hold no line end and no start of a marker; inside a record, no
  // line end.
  size_t begin_ = 0;
  size_t end_ = 0;
  size_t search_from_ = 0;
  bool at_end_ = false;
  int read_error_number_ = 0;

  State state_ = State::kDetectingLineEnds;
  // The byte that ends a line, and the line end the filter writes itself.
  char line_end_byte_ = '\n';
  std::string_view line_end_ = kLf;
  bool first_line_end_is_cr_pair_ = false;

  uint64_t lines_done_ = 0;
  size_t record_line_ = 0;  // lines of the current record taken so far
  uint64_t record_start_line_ = 0;
  uint64_t record_start_offset_ = 0;  // when viewing
};

ExtractResult Extractor::run() {
  for (;;) {
    Step step = Step::kContinue;
    switch (state_) {
      case State::kDetectingLineEnds:
        step = detect_line_ends();
        break;
      case State::kScanning:
        step = scan();
        break;
      case State::kInRecord:
        step = take_record_line();
        break;
    }
    if (coordinates_.failed() || cleaned_.failed()) return write_failure();
    if (step == Step::kEndOfInput) return finish();
    if (step == Step::kNeedInput) {
      switch (fill()) {
        case Fill::kData:
          break;
        case Fill::kEnd:
          at_end_ = true;
          break;
        case Fill::kFailed: {
          if (coordinates_.failed() || cleaned_.failed()) {
            return write_failure();
          }
          ExtractResult result;
          result.status = ExtractStatus::kReadFailed;
          result.error_number = read_error_number_;
          return result;
        }
      }
    }
  }
}

// The line ends are decided by the file's first CR or LF: a CR followed by a
// byte that is neither CR nor LF means CR line ends (old Macintosh files);
// anything else means LF line ends. The line end the filter writes itself is
// CR in a CR file, and in an LF file CR LF when the first line ends in CR LF.
Extractor::Step Extractor::detect_line_ends() {
  for (;;) {
    const char* first = data_ + search_from_;
    const char* last = data_ + end_;
    const char* found = std::find_if(
        first, last, [](char c) { return c == '\n' || c == '\r'; });
    size_t position = static_cast<size_t>(found - data_);
    if (found == last) {
      if (!at_end_) {
        search_from_ = end_;
        return Step::kNeedInput;
      }
      break;  // no line end at all
    }
    if (*found == '\n') {
      if (position > 0 && data_[position - 1] == '\r') line_end_ = kCrLf;
      break;
    }
    if (!first_line_end_is_cr_pair_) {
      if (position + 1 == end_) {
        if (!at_end_) {
          search_from_ = position;
          return Step::kNeedInput;
        }
        break;  // a lone CR at the very end
      }
      char next = data_[position + 1];
      if (next != '\n' && next != '\r') {
        line_end_byte_ = '\r';
        line_end_ = kCr;
        break;
      }
      // CR LF or CR CR: LF line ends; the first LF decides the line end.
      first_line_end_is_cr_pair_ = true;
    }
    search_from_ = position + 1;
  }
  state_ = State::kScanning;
  search_from_ = begin_;
  return Step::kContinue;
}

Extractor::Step Extractor::scan() {
  size_t marker = find_marker(search_from_, end_);
  if (marker == kNotFound) {
    size_t complete = after_last_line_end(search_from_, end_);
    if (complete != kNotFound) {
      copy_to_cleaned(begin_, complete);
      begin_ = complete;
    }
    if (at_end_) {
      copy_to_cleaned(begin_, end_);  // a last line without a line end
      begin_ = end_;
      return Step::kEndOfInput;
    }
    // A marker may straddle the end of what has been read so far.
    search_from_ =
        std::max(begin_, end_ - std::min(end_, kPlaceMarker.size() - 1));
    return Step::kNeedInput;
  }
  size_t line_start = after_last_line_end(search_from_, marker);
  if (line_start == kNotFound) line_start = begin_;
  copy_to_cleaned(begin_, line_start);
  begin_ = line_start;
  state_ = State::kInRecord;
  record_line_ = 0;
  record_start_line_ = lines_done_ + 1;
  record_start_offset_ = view_offset_ + begin_;
  search_from_ = marker + kPlaceMarker.size();
  return Step::kContinue;
}

Extractor::Step Extractor::take_record_line() {
  const char* line = data_ + begin_;
  const void* found =
      std::memchr(data_ + search_from_, line_end_byte_, end_ - search_from_);
  size_t line_size;
  std::string_view ending;
  if (found != nullptr) {
    line_size = static_cast<const char*>(found) + 1 - line;
    bool cr_lf =
        line_end_byte_ == '\n' && line_size >= 2 && line[line_size - 2] == '\r';
    ending =
        std::string_view(line + line_size - (cr_lf ? 2 : 1), cr_lf ? 2 : 1);
  } else if (!at_end_) {
    search_from_ = end_;
    return Step::kNeedInput;
  } else if (begin_ == end_) {
    return Step::kEndOfInput;  // inside the record: finish() reports it
  } else {
    // The input's last line has no line end; the coordinates file gets one
    // so that the trailer stands on a line of its own.
    line_size = end_ - begin_;
    ending = line_end_;
  }
  std::string_view content(line, line_size - (found ? ending.size() : 0));

  if (record_line_ == 0) {
    size_t anchor = content.find(kNameAnchor);
    coordinates_.add(kPlaceTag);
    coordinates_.add(content.substr(anchor + kNameAnchor.size()));
  } else if (content.substr(0, kLevelZeroStart.size()) == kLevelZeroStart) {
    // A short record: this line belongs to what follows it.
    state_ = State::kScanning;
    search_from_ = begin_;
    return Step::kContinue;
  } else if (record_line_ == 1) {
    coordinates_.add(kMapLine);
    ending = line_end_;  // the line itself is dropped
  } else {
    coordinates_.add(kValuePrefixes[record_line_ - 2]);
    if (content.size() > kValueOffset) {
      coordinates_.add(content.substr(kValueOffset));
    }
  }
  coordinates_.add(ending);

  begin_ += line_size;
  search_from_ = begin_;
  ++lines_done_;
  if (++record_line_ == kRecordLines) state_ = State::kScanning;
  return Step::kContinue;
}

Extractor::Fill Extractor::fill() {
  // The pending spans point into the data, which is about to change.
  if (!coordinates_.flush() || !cleaned_.flush()) return Fill::kFailed;
  size_t kept = end_ - begin_;
  search_from_ -= begin_;
  if (viewing_) {
    uint64_t offset = view_offset_ + begin_;
    size_t available = 0;
    // A view that must hold a line longer than a block grows by doubling,
    // so that viewing the line costs time linear in its length.
    const char* view =
        input_.view(offset, kept + std::max(block_size_, kept), &available);
    if (view == nullptr) {
      read_error_number_ = errno;
      return Fill::kFailed;
    }
    data_ = view;
    view_offset_ = offset;
    begin_ = 0;
    end_ = available;
    return available > kept ? Fill::kData : Fill::kEnd;
  }

  if (kept + block_size_ > capacity_) {
    // Past the first block, only a line longer than a block gets here;
    // doubling keeps the cost of holding it linear in its length.
    size_t capacity =
        std::max({kept + block_size_, 2 * capacity_, 2 * block_size_});
    std::unique_ptr<char[]> buffer(new char[capacity]);
    if (kept > 0) std::memcpy(buffer.get(), data_ + begin_, kept);
    buffer_ = std::move(buffer);
    capacity_ = capacity;
  } else if (begin_ > 0 && kept > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
  }
  data_ = buffer_.get();
  begin_ = 0;
  end_ = kept;

  long long count = input_.read(buffer_.get() + end_, block_size_);
  if (count < 0) {
    read_error_number_ = errno;
    return Fill::kFailed;
  }
  if (count == 0) return Fill::kEnd;
  end_ += static_cast<size_t>(count);
  return Fill::kData;
}

ExtractResult Extractor::finish() {
  ExtractResult result;
  if (state_ == State::kInRecord) {
    result.status = ExtractStatus::kCutShortRecord;
    result.cut_short_record_line = record_start_line_;
    if (viewing_) {
      // The spans point into the view, which counting moves on.
      if (!coordinates_.flush() || !cleaned_.flush()) return write_failure();
      uint64_t lines = 0;
      if (!count_lines_before(record_start_offset_, &lines)) {
        result.status = ExtractStatus::kReadFailed;
        result.error_number = errno;
        return result;
      }
      result.cut_short_record_line = lines + 1;
    }
  }
  coordinates_.add(kTrailer);
  coordinates_.add(line_end_);
  if (!coordinates_.flush() || !cleaned_.flush()) return write_failure();
  return result;
}

// Counts the line ends of the viewed input in front of offset `end`.
bool Extractor::count_lines_before(uint64_t end, uint64_t* lines) {
  *lines = 0;
  for (uint64_t offset = 0; offset < end;) {
    size_t available = 0;
    const char* view = input_.view(
        offset,
        static_cast<size_t>(std::min<uint64_t>(block_size_, end - offset)),
        &available);
    if (view == nullptr) return false;
    if (available == 0) break;
    *lines += count_byte(view, available, line_end_byte_);
    offset += available;
  }
  return true;
}

ExtractResult Extractor::write_failure() const {
  ExtractResult result;
  if (coordinates_.failed()) {
    result.status = ExtractStatus::kCoordinatesWriteFailed;
    result.error_number = coordinates_.error_number();
  } else {
    result.status = ExtractStatus::kCleanedWriteFailed;
    result.error_number = cleaned_.error_number();
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
  const char* text = data_;
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
    if (data_[i - 1] == line_end_byte_) return i;
  }
  return kNotFound;
}

void Extractor::copy_to_cleaned(size_t from, size_t to) {
  if (from == to) return;
  // Viewed input is counted only if a line number is needed: counting
  // costs more than the rest of the scan.
  if (!viewing_) {
    lines_done_ += count_byte(data_ + from, to - from, line_end_byte_);
  }
  cleaned_.add(std::string_view(data_ + from, to - from));
}

}  // namespace

ExtractResult extract_places(ByteSource& input, ByteSink& coordinates,
                             ByteSink& cleaned, size_t block_size) {
  return Extractor(input, coordinates, cleaned, block_size).run();
}

}  // namespace placeharvest
