// The line finder on its own: line ends at every offset of its 64-byte
// window and across block ends, and reads placed at the file's page offset.
#include "line_finder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "place_filter.h"
#include "reference_filter.h"
#include "string_streams.h"

namespace placeharvest {
namespace {

constexpr Marker kNoMarker = {"\x01\x02", 0};

// The lines of `input` as the finder hands them out, one peek at a time.
std::vector<std::string> lines_of(const std::string& input, size_t block_size,
                                  size_t piece) {
  StringSource source(input, piece);
  LineFinder finder(source, kNoMarker, block_size, [] { return true; });
  finder.detect_line_ends();
  std::vector<std::string> lines;
  Line line;
  while (finder.peek_line(&line)) {
    lines.push_back(std::string(line.content) + "|" + std::string(line.ending));
    finder.take_line(line);
  }
  return lines;
}

TEST(LineFinder, FindsLineEndsAtEveryOffsetOfItsWindow) {
  for (std::string end : {"\n", "\r\n", "\r"}) {
    // Lines of every length from 0 to 130, so that line ends fall on every
    // byte of a window and runs of them share one.
    std::string input = "0 HEAD" + end;
    std::vector<std::string> expected = {"0 HEAD|" + end};
    for (size_t length = 0; length <= 130; ++length) {
      std::string text(length, static_cast<char>('a' + length % 26));
      input += text + end;
      expected.push_back(text + "|" + end);
    }
    input += "last";
    expected.push_back("last|");
    for (size_t block_size : {1, 3, 63, 64, 65, 200, 4096}) {
      for (size_t piece : {SIZE_MAX, size_t{5}}) {
        EXPECT_EQ(lines_of(input, block_size, piece), expected)
            << "block " << block_size << " piece " << piece;
      }
    }
  }
}

// A source that checks that each read lands at the offset within a page
// that its bytes have in the file, and hands out short, uneven pieces as a
// pipe does.
class PageCheckingSource : public ByteSource {
 public:
  explicit PageCheckingSource(std::string text) : text_(std::move(text)) {}

  long long read(char* data, size_t capacity) override {
    // The first two bytes are looked at on their own, to tell the encoding.
    if (position_ >= 2 &&
        reinterpret_cast<uintptr_t>(data) % 4096 != position_ % 4096) {
      ++misplaced_reads;
    }
    size_t count = std::min(
        {capacity, text_.size() - position_, size_t{1000} + position_ % 3001});
    text_.copy(data, count, position_);
    position_ += count;
    return static_cast<long long>(count);
  }

  int misplaced_reads = 0;

 private:
  std::string text_;
  size_t position_ = 0;
};

TEST(LineFinder, PlacesEachReadAtTheFilesPageOffset) {
  std::string input = "0 HEAD\n";
  for (int i = 0; i < 3000; ++i) {
    input += "1 NOTE " + std::string(static_cast<size_t>(i % 300), 'n') +
             "\n0 _PLAC P" + std::to_string(i) + "\n1 MAP\n2 LATI N" +
             std::to_string(i) + "\n";
  }
  ReferenceSplit expected = reference_split(input);
  for (size_t block_size : {size_t{5000}, size_t{8192}, kDefaultBlockSize}) {
    PageCheckingSource source(input);
    StringSink coordinates;
    StringSink cleaned;
    extract_places(source, coordinates, cleaned, block_size);
    EXPECT_EQ(source.misplaced_reads, 0) << block_size;
    EXPECT_EQ(coordinates.text, expected.coordinates) << block_size;
    EXPECT_EQ(cleaned.text, expected.cleaned) << block_size;
  }
}

}  // namespace
}  // namespace placeharvest
