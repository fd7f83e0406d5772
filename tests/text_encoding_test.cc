// UTF-16 inputs: found and split as the same text in UTF-8 is, and written
// back in the input's own encoding.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "place_filter.h"
#include "reference_filter.h"
#include "split.h"

namespace placeharvest {
namespace {

// What the UTF-16 form, in the byte order given, of a text whose UTF-8
// split is `twin` must give; `mark` when the text begins with a
// byte-order mark.
ReferenceSplit turned(const ReferenceSplit& twin, bool little, bool mark) {
  ReferenceSplit expected = twin;
  expected.coordinates = (mark ? utf16_bytes(u"\xfeff", little) : "") +
                         utf16_bytes(units_of(twin.coordinates), little);
  expected.cleaned = utf16_bytes(units_of(twin.cleaned), little);
  return expected;
}

TEST(Utf16, SplitsAsTheSameTextInUtf8Does) {
  const std::string kTexts[] = {
      // CR LF; a name and a long note with a character beyond the BMP; a
      // note that takes lines by position.
      "0 HEAD\r\n1 CHAR UNICODE\r\n0 _PLAC Ume\xc3\xa5 \xf0\x9f\x8f\xa0\r\n"
      "1 NOTE Stad \xf0\x9f\x8f\xa0 " +
          std::string(300, 'x') +
          "\r\n1 MAP\r\n2 LONG E20.26\r\n2 LATI N63.82\r\n0 @I1@ INDI\r\n"
          "1 NOTE f\xc3\xb6"
          "dd i 0 _PLAC Ume\r\n1 BIRT\r\n2 DATE 1901\r\n"
          "0 TRLR\r\n",
      // CR line ends, an empty line after the first.
      "0 HEAD\r\r0 _PLAC V\xc3\xa4xj\xc3\xb6\r1 MAP\r2 LATI N56.88\r0 TRLR\r",
      // A record cut short by the end of the file.
      "0 HEAD\n0 _PLAC \xc3\x85m\xc3\xa5l\n1 MAP\n2 LATI N59",
      // Empty lines first: without a mark, told by the "0" after them.
      "\r\n\r\n0 HEAD\r\n0 _PLAC Ume\xc3\xa5\r\n1 MAP\r\n2 LATI N63\r\n",
      // Long enough to be turned, and written, beside the reading.
      [] {
        std::string text = "0 HEAD\n";
        for (int i = 0; i < 100; ++i) {
          text +=
              "0 @I" + std::to_string(i) +
              "@ INDI\n1 NAME \xc3\x85sa /Str\xc3\xb6m/\n0 _PLAC Ume\xc3\xa5 " +
              std::to_string(i) + "\n1 MAP\n2 LATI N63.8\n2 LONG E20.3\n";
        }
        return text + "0 TRLR\n";
      }(),
  };
  const std::string kUtf8Mark = "\xef\xbb\xbf";
  for (const std::string& text : kTexts) {
    for (bool mark : {false, true}) {
      std::string utf8 = (mark ? kUtf8Mark : "") + text;
      Split twin = split(utf8);
      for (bool little : {true, false}) {
        std::string input = utf16_bytes(units_of(utf8), little);
        ReferenceSplit expected = turned(twin.outcome, little, mark);
        for (size_t block_size : {size_t{1}, size_t{5}, kDefaultBlockSize}) {
          // A file's cleaned copy comes from its own bytes, a pipe's from
          // what the filter read.
          for (auto [piece, file] : {std::pair{SIZE_MAX, false},
                                     {size_t{3}, false},
                                     {SIZE_MAX, true},
                                     {size_t{3}, true}}) {
            Split got = split(input, {block_size, piece, file});
            EXPECT_EQ(got.outcome, expected)
                << utf8 << (little ? " LE" : " BE") << " block " << block_size
                << (file ? " file" : "");
            EXPECT_EQ(got.result.status, twin.result.status);
          }
        }
      }
    }
  }
}

// A file far longer than the blocks the source keeps for the cleaned copy,
// written beside the reading: each kept block is taken again only once the
// writes that borrow from it are done, and reads of odd sizes leave a byte
// over from one block to the next.
TEST(Utf16, CopiesALongFileFromTheBytesItKeeps) {
  std::string text = "0 HEAD\n";
  for (int i = 0; i < 10000; ++i) {
    text += "0 @I" + std::to_string(i) +
            "@ INDI\n1 NAME \xc3\x85sa /Str\xc3\xb6m/\n1 NOTE " +
            std::string(i % 97, 'x') + "\n0 _PLAC Ume\xc3\xa5\n1 MAP\n";
  }
  text += "0 TRLR\n";
  Split twin = split(text);
  std::string input = utf16_bytes(units_of(text), true);
  // Written beside from the start, or from part of the way in, when the
  // file's size is not known in advance.
  for (size_t piece : {SIZE_MAX, size_t{40001}}) {
    for (bool size_known : {true, false}) {
      Split got = split(input, {1024, piece, true, 1024, size_known});
      EXPECT_EQ(got.outcome, turned(twin.outcome, true, false))
          << piece << " " << size_known;
    }
  }
}

// Unpaired surrogates and an odd last byte are never an error: the cleaned
// file keeps them byte for byte, and a place record carries them over.
TEST(Utf16, PassesBadUtf16ThroughUnchanged) {
  for (bool little : {true, false}) {
    std::string kept =
        utf16_bytes(u"0 HEAD\n1 NOTE \xd800 x\n0 TRLR\n", little);
    std::string input = kept.substr(0, kept.size() - 14) +
                        utf16_bytes(u"0 _PLAC \xdc00y\n1 MAP\n", little) +
                        kept.substr(kept.size() - 14) + "Z";
    for (bool file : {false, true}) {
      Split got = split(input, {7, SIZE_MAX, file});
      EXPECT_EQ(got.outcome.cleaned, kept + "Z");
      EXPECT_EQ(got.outcome.coordinates,
                utf16_bytes(u"2 PLAC \xdc00y\n3 MAP\n0 TLR\n", little));
    }
  }
}

}  // namespace
}  // namespace placeharvest
