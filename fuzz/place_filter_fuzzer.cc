// Drives the filter on arbitrary bytes and holds it to the reference rules.
// The first two bytes choose how the rest reaches the filter: the block size
// (1 to 64 bytes, or the default); whether it is read in whole blocks, read
// in pieces of a few bytes as from a pipe, or read as a file that can be
// read again to count lines, and whose size is known in advance or not; how
// many spans the outputs take a write; and whether the rest is taken as
// bytes or stands for UTF-16 text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "place_filter.h"
#include "reference_filter.h"
#include "string_streams.h"

namespace {

void fail(const char* what) {
  std::fprintf(stderr, "place filter differs from the reference: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace placeharvest;
  if (size < 2) return 0;
  size_t block_size = data[0] < 192 ? 1 + data[0] % 64 : kDefaultBlockSize;
  int mode = data[1] % 3;
  size_t piece = mode == 1 ? 1 + data[1] / 3 % 7 : SIZE_MAX;
  const size_t kSpans[] = {1024, 1, 2};
  size_t max_spans = kSpans[data[1] / 21 % 3];
  std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);
  int encoding = data[1] / 63 % 4;  // bytes, bytes, UTF-16 LE, UTF-16 BE
  if (encoding >= 2) {
    // ASCII stays ASCII; other bytes stand for characters that are two or
    // three bytes in the filter's form, and for surrogates and marks. An
    // odd size leaves an odd last byte.
    const char16_t kUnits[] = {0xE5,   0x20AC, 0xD83D, 0xDE00,
                               0xFEFF, 0xD800, 0x7FF,  0x800};
    std::u16string units;
    for (size_t i = 0; i + (input.size() % 2) < input.size(); ++i) {
      unsigned char byte = static_cast<unsigned char>(input[i]);
      units += byte < 0x80 ? char16_t{byte} : kUnits[byte & 7];
    }
    std::string odd = input.size() % 2 ? input.substr(input.size() - 1) : "";
    input = utf16_bytes(units, encoding == 2) + odd;
  }

  bool size_known = data[0] / 64 != 1;
  StringSource source(input, piece, SIZE_MAX, mode == 2, size_known);
  StringSink coordinates(SIZE_MAX, max_spans);
  StringSink cleaned(SIZE_MAX, max_spans);
  ReferenceSplit expected = reference_split_file(input);
  // Nothing is written before the first checkpoint, and everything but
  // the trailer before the second.
  RunCheckpoints checkpoints;
  bool may_write = false;
  checkpoints.before_writing = [&] {
    if (!coordinates.text.empty() || !cleaned.text.empty()) {
      fail("written before the outputs were ready");
    }
    return may_write = true;
  };
  checkpoints.before_trailer = [&] {
    const std::string& whole = expected.coordinates;
    if (!may_write || cleaned.text != expected.cleaned ||
        coordinates.text.size() >= whole.size() ||
        whole.compare(0, coordinates.text.size(), coordinates.text) != 0) {
      fail("outputs before the trailer");
    }
    return true;
  };
  ExtractResult result =
      extract_places(source, coordinates, cleaned, block_size, checkpoints);

  bool cut_short = result.status == ExtractStatus::kCutShortRecord;
  if (!cut_short && result.status != ExtractStatus::kComplete) fail("status");
  ReferenceSplit got = {coordinates.text,
                        cleaned.text,
                        cut_short,
                        result.cut_short_record_line,
                        result.left_out_lines,
                        result.first_left_out_line,
                        result.positional_place_lines,
                        result.first_positional_place_line};
  std::string difference = first_difference(got, expected);
  if (!difference.empty()) fail(difference.c_str());
  return 0;
}
