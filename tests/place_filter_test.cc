#include "place_filter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

#include "reference_filter.h"
#include "split.h"
#include "string_streams.h"

namespace placeharvest {
namespace {

using namespace std::string_literals;

struct Case {
  const char* name;
  std::string input;
  std::string coordinates;
  std::string cleaned;
  uint64_t left_out_lines = 0;
  uint64_t first_left_out_line = 0;
};

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    Split got = split(c.input);
    EXPECT_EQ(got.outcome.coordinates, c.coordinates) << c.name;
    EXPECT_EQ(got.outcome.cleaned, c.cleaned) << c.name;
    EXPECT_EQ(got.result.status, ExtractStatus::kComplete) << c.name;
    EXPECT_EQ(got.result.left_out_lines, c.left_out_lines) << c.name;
    EXPECT_EQ(got.result.first_left_out_line, c.first_left_out_line) << c.name;
  }
}

const std::string kSixLineRecord =
    "0 _PLAC Stockholm\n1 MAP\n2 LATI N59.3293\n2 LONG E18.0686\n"
    "2 ZOOM 10\n2 PLEV 3\n";
const std::string kSixLineBlock =
    "2 PLAC Stockholm\n3 MAP\n4 LATI N59.3293\n4 LONG E18.0686\n"
    "4 ZOOM 10\n4 PLEV 3\n";

const std::vector<Case> kPassThrough = {
    {"empty", "", "0 TLR\n", ""},
    {"lf", "0 HEAD\n1 CHAR UTF-8\n0 TRLR\n", "0 TLR\n",
     "0 HEAD\n1 CHAR UTF-8\n0 TRLR\n"},
    {"crlf", "0 HEAD\r\n0 TRLR\r\n", "0 TLR\r\n", "0 HEAD\r\n0 TRLR\r\n"},
    {"cr", "0 HEAD\r0 TRLR\r", "0 TLR\r", "0 HEAD\r0 TRLR\r"},
    {"no final line end", "0 HEAD\n0 TRLR", "0 TLR\n", "0 HEAD\n0 TRLR"},
    {"nul, ctrl-z and 8-bit bytes are data",
     "1 NOTE a\0b\n1 NOTE \x1a\xe5\xe4\xf6\n"s, "0 TLR\n",
     "1 NOTE a\0b\n1 NOTE \x1a\xe5\xe4\xf6\n"s},
    {"look-alikes", "0 _PLAC\n0 _PLACE x\n0 _plac x\n0 @P1@ _PLAC x\n",
     "0 TLR\n", "0 _PLAC\n0 _PLACE x\n0 _plac x\n0 @P1@ _PLAC x\n"},
    {"long line", "1 NOTE " + std::string(5000, 'x') + "\n", "0 TLR\n",
     "1 NOTE " + std::string(5000, 'x') + "\n"},
};

TEST(PlaceFilter, CopiesFilesWithoutPlaceRecordsUnchanged) {
  expect_cases(kPassThrough);
}

const std::vector<Case> kRecords = {
    {"six-line record", "0 HEAD\n" + kSixLineRecord + "0 TRLR\n",
     kSixLineBlock + "0 TLR\n", "0 HEAD\n0 TRLR\n"},
    {"two records and a record between",
     kSixLineRecord + "0 @N1@ NOTE between\n" + kSixLineRecord,
     kSixLineBlock + kSixLineBlock + "0 TLR\n", "0 @N1@ NOTE between\n"},
    {"lines after the sixth of a record by position stay",
     "1 NOTE 0 _PLAC A\n1 MAP\n2 LATI a\n2 LONG b\n2 ZOOM c\n2 PLEV d\n"
     "2 NOTE more\n",
     "2 PLAC A\n3 MAP\n4 LATI a\n4 LONG b\n4 ZOOM c\n4 PLEV d\n0 TLR\n",
     "2 NOTE more\n"},
    {"marker in the middle of a line",
     "1 NOTE x 0 _PLAC Uppsala\n" +
         kSixLineRecord.substr(kSixLineRecord.find('\n') + 1),
     "2 PLAC Uppsala\n" + kSixLineBlock.substr(kSixLineBlock.find('\n') + 1) +
         "0 TLR\n",
     ""},
    {"level 10 holds the marker",
     "10 _PLAC Lund\n1 MAP\n2 LATI a\n"
     "2 LONG b\n2 ZOOM c\n2 PLEV d\n",
     "2 PLAC Lund\n3 MAP\n4 LATI a\n4 LONG b\n4 ZOOM c\n4 PLEV d\n0 TLR\n", ""},
    {"name from the first anchor", "0 _PLACX 0 _PLAC Y\n0 TRLR\n",
     "2 PLACX 0 _PLAC Y\n0 TLR\n", "0 TRLR\n"},
    {"marker inside a record starts none",
     "0 _PLAC A\n1 MAP\n2 LATI x 0 _PLAC y\n2 LONG b\n2 ZOOM c\n2 PLEV d\n",
     "2 PLAC A\n3 MAP\n4 LATI x 0 _PLAC y\n4 LONG b\n4 ZOOM c\n4 PLEV d\n"
     "0 TLR\n",
     ""},
    {"the second line is dropped unread",
     "1 NOTE 0 _PLAC A\n1 NOTE 0 _PLAC x\n2 LATI a\n2 LONG b\n2 ZOOM c\n2 PLEV "
     "d\n",
     "2 PLAC A\n3 MAP\n4 LATI a\n4 LONG b\n4 ZOOM c\n4 PLEV d\n0 TLR\n", ""},
    {"short value lines end their line",
     "1 NOTE 0 _PLAC A\n1 MAP\n2 LATI\n\n2 ZOOM \n2 PLEV 3\n",
     "2 PLAC A\n3 MAP\n4 LATI \n4 LONG \n4 ZOOM \n4 PLEV 3\n0 TLR\n", ""},
    {"nul and 8-bit bytes in a record",
     "1 \0 0 _PLAC G\xc3\xa4vle\0x\n1 MAP\n2 LATI N\0 1\n2 LONG b\n2 ZOOM c\n"
     "2 PLEV d\n"s,
     "2 PLAC G\xc3\xa4vle\0x\n3 MAP\n4 LATI N\0 1\n4 LONG b\n4 ZOOM c\n"
     "4 PLEV d\n0 TLR\n"s,
     ""},
    {"long name", "0 _PLAC " + std::string(300, 'n') + "\n0 TRLR\n",
     "2 PLAC " + std::string(300, 'n') + "\n0 TLR\n", "0 TRLR\n"},
    {"complete record without a final line end",
     kSixLineRecord.substr(0, kSixLineRecord.size() - 1),
     kSixLineBlock + "0 TLR\n", ""},
};

TEST(PlaceFilter, RewritesPlaceRecords) { expect_cases(kRecords); }

const std::vector<Case> kLineEnds = {
    {"crlf",
     "0 _PLAC A\r\n1 MAP\r\n2 LATI a\r\n2 LONG b\r\n2 ZOOM c\r\n"
     "2 PLEV d\r\n0 TRLR\r\n",
     "2 PLAC A\r\n3 MAP\r\n4 LATI a\r\n4 LONG b\r\n4 ZOOM c\r\n4 PLEV d\r\n"
     "0 TLR\r\n",
     "0 TRLR\r\n"},
    {"cr", "0 HEAD\r0 _PLAC A\r1 MAP\r2 LATI a\r2 LONG\r2 ZOOM c\r2 PLEV d\r",
     "2 PLAC A\r3 MAP\r4 LATI a\r4 LONG \r4 ZOOM c\r4 PLEV d\r0 TLR\r",
     "0 HEAD\r"},
    {"lines keep their own line end in an lf file",
     "0 HEAD\n0 _PLAC A\r\n1 MAP\r\n2 LATI a\r\n2 LONG b\n2 ZOOM\r\n"
     "2 PLEV d\r\n",
     "2 PLAC A\r\n3 MAP\n4 LATI a\r\n4 LONG b\n4 ZOOM \r\n4 PLEV d\r\n"
     "0 TLR\n",
     "0 HEAD\n"},
    {"lf inside a line of a cr file", "0 HEAD\r0 _PLAC A\nB\r0 TRLR\r",
     "2 PLAC A\nB\r0 TLR\r", "0 HEAD\r0 TRLR\r"},
    {"cr cr lf is an lf file with crlf line ends", "0 HEAD\r\r\n0 TRLR\r\n",
     "0 TLR\r\n", "0 HEAD\r\r\n0 TRLR\r\n"},
    {"a cr at the very end", "0 HEAD\r", "0 TLR\n", "0 HEAD\r"},
    {"cr cr and a byte is an empty line in a cr file",
     "0 HEAD\r\r0 @I1@ INDI\r1 NAME Ebba\r0 _PLAC Ume\r1 MAP\r2 LATI N1\r"
     "0 TRLR\r",
     "2 PLAC Ume\r3 MAP\r4 LATI N1\r0 TLR\r",
     "0 HEAD\r\r0 @I1@ INDI\r1 NAME Ebba\r0 TRLR\r"},
    {"cr cr cr lf", "0 HEAD\r\r\r\n0 TRLR\n", "0 TLR\r\n",
     "0 HEAD\r\r\r\n0 TRLR\n"},
};

TEST(PlaceFilter, KeepsTheLineEndsOfTheInput) { expect_cases(kLineEnds); }

const std::vector<Case> kShortRecords = {
    {"three lines, then a level-0 record",
     "0 _PLAC Visby\n1 MAP\n2 LATI N57.6\n2 LONG E18.3\n0 @I1@ INDI\n"
     "1 NAME Anna\n",
     "2 PLAC Visby\n3 MAP\n4 LATI N57.6\n4 LONG E18.3\n0 TLR\n",
     "0 @I1@ INDI\n1 NAME Anna\n"},
    {"a note first, by position",
     "1 NOTE 0 _PLAC Kiruna\n1 NOTE Gruvstad\n2 CONT norr\n0 TRLR\n",
     "2 PLAC Kiruna\n3 MAP\n4 LATI norr\n0 TLR\n", "0 TRLR\n"},
    {"place after place", "0 _PLAC A\n" + kSixLineRecord,
     "2 PLAC A\n" + kSixLineBlock + "0 TLR\n", ""},
    {"the place line alone before the trailer", "0 _PLAC A\n0 TRLR\n",
     "2 PLAC A\n0 TLR\n", "0 TRLR\n"},
    {"only \"0 \" begins a level-0 line", "1 0 _PLAC A\n0\n00 x\n0 TRLR\n",
     "2 PLAC A\n3 MAP\n4 LATI \n0 TLR\n", "0 TRLR\n"},
};

TEST(PlaceFilter, EndsARecordAtTheNextLevelZeroLine) {
  expect_cases(kShortRecords);
}

// Level-0 place records as real exports write them: read by tag, in any
// order, with everything that is not a coordinate left out of both files.
const std::vector<Case> kTaggedRecords = {
    {"standard name after the coordinates",
     "0 HEAD\n0 _PLAC Cork, Ireland\n1 MAP\n2 LATI N51.9\n2 LONG W8.47\n"
     "1 STND Cork, County Cork, Ireland\n0 TRLR\n",
     "2 PLAC Cork, Ireland\n3 MAP\n4 LATI N51.9\n4 LONG W8.47\n0 TLR\n",
     "0 HEAD\n0 TRLR\n", 1, 6},
    {"longitude before latitude, then degrees and minutes",
     "0 _PLAC New York\r\n1 MAP\r\n2 LONG W74.005833\r\n"
     "2 LATI N40.714167\r\n1 _COR\r\n2 _LAD 40\r\n2 _LOM 0\r\n"
     "0 @O1@ OBJE\r\n",
     "2 PLAC New York\r\n3 MAP\r\n4 LATI N40.714167\r\n"
     "4 LONG W74.005833\r\n0 TLR\r\n",
     "0 @O1@ OBJE\r\n", 3, 5},
    {"a note first",
     "0 _PLAC Ume\xc3\xa5\n1 NOTE Stad\n2 CONT vid\n2 CONC  kusten\n1 MAP\n"
     "2 LATI N63.8\n2 LONG E20.3\n0 TRLR\n",
     "2 PLAC Ume\xc3\xa5\n3 MAP\n4 LATI N63.8\n4 LONG E20.3\n0 TLR\n",
     "0 TRLR\n", 3, 2},
    {"all five tags in another order, the first of each counts, and the "
     "text on a MAP line is left out",
     "0 _PLAC A\n2 PLEV 3\n1 MAP 59.48,18.29 see note\n2 ZOOM 9\n"
     "2 LATI N1\n2 LATI N2\n1 MAP\n2 LONG E1\n0 TRLR\n",
     "2 PLAC A\n3 MAP\n4 LATI N1\n4 LONG E1\n4 ZOOM 9\n4 PLEV 3\n0 TLR\n",
     "0 TRLR\n", 3, 3},
    {"the shape of a tag line",
     "0 _PLAC A\n12 LATI N1 and more\n1 @M1@ LONG E1\n2 lati x\n"
     " 2 LATI y\n2 LATITUDE z\n2 LONG\n2  ZOOM 1\n1 @M2 ZOOM 2\n"
     "x MAP\n\n1 NOTE 0 _PLAC B\n0 TRLR\n",
     "2 PLAC A\n3 MAP\n4 LATI N1 and more\n4 LONG E1\n0 TLR\n", "0 TRLR\n", 9,
     4},
    {"no coordinates at all", "0 _PLAC A\n1 STND A, B\n0 _PLAC C\n0 TRLR\n",
     "2 PLAC A\n2 PLAC C\n0 TLR\n", "0 TRLR\n", 1, 2},
    {"the last line without a line end",
     "0 _PLAC A\r\n1 NOTE n\r\n1 MAP\r\n2 LONG E1\r\n2 LATI N1\r\n"
     "2 ZOOM 5",
     "2 PLAC A\r\n3 MAP\r\n4 LATI N1\r\n4 LONG E1\r\n4 ZOOM 5\r\n"
     "0 TLR\r\n",
     "", 1, 2},
};

TEST(PlaceFilter, ReadsLevelZeroRecordsByTheirTags) {
  expect_cases(kTaggedRecords);
}

struct CutShortCase {
  std::string input;
  std::string coordinates;
  uint64_t line;
};

TEST(PlaceFilter, ReportsARecordCutShortByTheEndOfTheInput) {
  const CutShortCase cases[] = {
      {"0 HEAD\n0 _PLAC Ystad\n1 MAP\n2 LATI N55.4",
       "2 PLAC Ystad\n3 MAP\n4 LATI N55.4\n0 TLR\n", 2},
      {"0 _PLAC Ystad", "2 PLAC Ystad\n0 TLR\n", 1},
      {"0 HEAD\r\n1 NOTE\r\n0 _PLAC Ystad\r\n1 MAP\r\n",
       "2 PLAC Ystad\r\n3 MAP\r\n0 TLR\r\n", 3},
      {kSixLineRecord + kSixLineRecord + "0 _PLAC B\n1 MAP\n2 LATI 1\n",
       kSixLineBlock + kSixLineBlock + "2 PLAC B\n3 MAP\n4 LATI 1\n0 TLR\n",
       13},
      {"1 NOTE 0 _PLAC B\n1 MAP\n2 LATI 1\n",
       "2 PLAC B\n3 MAP\n4 LATI 1\n0 TLR\n", 1},
  };
  for (const CutShortCase& c : cases) {
    Split got = split(c.input);
    EXPECT_EQ(got.result.status, ExtractStatus::kCutShortRecord) << c.input;
    EXPECT_EQ(got.result.cut_short_record_line, c.line) << c.input;
    EXPECT_EQ(got.outcome.coordinates, c.coordinates) << c.input;
    EXPECT_EQ(
        got.outcome.cleaned,
        c.input.substr(0, c.input.rfind('\n', c.input.find("0 _PLAC")) + 1))
        << c.input;
  }
  // Lines left out and a cut-short record are both reported.
  Split got = split("0 _PLAC A\n1 NOTE n\n1 MAP\n2 LATI 1\n");
  EXPECT_EQ(got.result.status, ExtractStatus::kCutShortRecord);
  EXPECT_EQ(got.result.cut_short_record_line, 1u);
  EXPECT_EQ(got.result.left_out_lines, 1u);
  EXPECT_EQ(got.result.first_left_out_line, 2u);
  EXPECT_EQ(got.outcome.coordinates, "2 PLAC A\n3 MAP\n4 LATI 1\n0 TLR\n");
}

// Inputs whose markers, CR LF pairs and record line ends fall on every
// possible block boundary once the block sizes below are run over them.
const std::vector<std::string> kBoundaryInputs = {
    "0 HEAD\r\r\r\r1 NOTE 0 _PLAC x\r1 MAP\r0 _PLAC A\r1 MAP\r0 TRLR\r",
    "0 HEAD\r\n1 NOTE 0 _PLA\r\n0 _PLAC A\r\n1 MAP\r\n2 LATI 1\r\n"
    "2 LONG 2\r\n0 @I1@ INDI\r\n",
    "0 HEAD\r0 _PLAC A\r1 MAP\r2 LATI 1\r0 _PLAC B\r\r\r\r\r\r0 TRLR\r",
    std::string(300, 'x') + " 0 _PLAC " + std::string(300, 'y') + "\n" +
        std::string(400, '\n') + "0 _PLAC C",
    "0 _PLAC A\r\n1 NOTE " + std::string(300, 'n') +
        "\r\n2 CONT x\r\n1 MAP\r\n2 LONG E1\r\n2 LATI " +
        std::string(300, '9') + "\r\n2 LATI N2\r\n0 _PLAC B\r\n0 TRLR\r\n",
};

std::vector<std::string> all_test_inputs() {
  std::vector<std::string> inputs = kBoundaryInputs;
  for (const auto* cases : {&kPassThrough, &kRecords, &kLineEnds,
                            &kShortRecords, &kTaggedRecords}) {
    for (const Case& c : *cases) inputs.push_back(c.input);
  }
  return inputs;
}

TEST(PlaceFilter, GivesTheSameOutputsForEveryBlockSize) {
  std::vector<std::string> inputs = all_test_inputs();
  for (const std::string& input : inputs) {
    Split whole = split(input);
    for (size_t block_size : {1, 2, 3, 5, 7, 8, 9, 16, 100}) {
      // Read whole blocks, read as from a pipe, or from a file that can be
      // read again to count lines; written as gathered spans, or as one span
      // a write, as on Windows.
      for (auto [piece, can_read_again, max_spans] :
           {std::tuple{SIZE_MAX, false, size_t{1024}},
            std::tuple{size_t{1}, false, size_t{2}},
            std::tuple{SIZE_MAX, true, size_t{1}}}) {
        Split got =
            split(input, {block_size, piece, can_read_again, max_spans});
        std::string shown = "block " + std::to_string(block_size) + " piece " +
                            std::to_string(piece) +
                            (can_read_again ? " file: " : ": ") + input;
        EXPECT_EQ(got.outcome, whole.outcome) << shown;
        EXPECT_EQ(got.result.status, whole.result.status) << shown;
      }
    }
  }
}

// The reference that the fuzzer holds the filter to must itself agree with
// every case above.
TEST(ReferenceFilter, AgreesWithTheFilterOnEveryTestInput) {
  std::vector<std::string> inputs = all_test_inputs();
  for (const std::string& input : inputs) {
    EXPECT_EQ(split(input).outcome, reference_split_file(input)) << input;
  }
}

// Thousands of records and long lines between them in one block: more
// pieces than one write takes, and more short text than is staged at once.
TEST(PlaceFilter, WritesManyRecordsOfOneBlockInOrder) {
  std::string input;
  std::string coordinates;
  std::string cleaned;
  for (int i = 0; i < 3000; ++i) {
    std::string note =
        "0 @N" + std::to_string(i) + "@ NOTE " + std::string(300, 'x');
    input += note + "\n0 _PLAC P" + std::to_string(i) + "\n1 MAP\n2 LATI N" +
             std::to_string(i) + "\n2 LONG E1\n";
    coordinates += "2 PLAC P" + std::to_string(i) + "\n3 MAP\n4 LATI N" +
                   std::to_string(i) + "\n4 LONG E1\n";
    cleaned += note + "\n";
  }
  input += "0 TRLR\n";
  Split got = split(input);
  EXPECT_EQ(got.outcome.coordinates, coordinates + "0 TLR\n");
  EXPECT_EQ(got.outcome.cleaned, cleaned + "0 TRLR\n");
}

// Once the outputs are written beside the reading, a file is read a block
// ahead, behind room for the rest of the line at hand; lines longer than
// that room are held whole (a place record's) or passed and read again.
TEST(PlaceFilter, ReadsLongLinesOfAFileWhileReadingAhead) {
  std::string input = "0 HEAD\n";
  for (int i = 0; i < 300; ++i) input += "1 NOTE " + std::to_string(i) + "\n";
  input += "0 _PLAC " + std::string(20000, 'p') + "\n1 MAP\n2 LATI N" +
           std::string(30000, '1') + "\n2 LONG E1\n1 NOTE " +
           std::string(40000, 'n') + "\n" + kSixLineRecord + "0 TRLR\n";
  const Split whole = split(input);
  for (size_t block_size : {1, 8, 1000}) {
    Split got = split(input, {block_size, SIZE_MAX, true});
    EXPECT_EQ(got.outcome, whole.outcome) << block_size;
    EXPECT_EQ(got.result.status, whole.result.status) << block_size;
  }
}

TEST(PlaceFilter, StopsAtAReadErrorWithoutTheTrailer) {
  std::string text = "0 HEAD\n";
  for (int i = 0; i < 600; ++i) text += "1 NOTE " + std::to_string(i) + "\n";
  text += kSixLineRecord + "0 TRLR\n";
  for (bool utf16 : {false, true}) {
    std::string input = utf16 ? utf16_bytes(units_of(text), true) : text;
    size_t unit = utf16 ? 2 : 1;
    // In the first blocks, and past them, where the cleaned file is written
    // (and UTF-16 is turned) beside the reading.
    for (size_t fail_after : {20 * unit, 4000 * unit}) {
      for (bool can_read_again : {false, true}) {
        StringSource source(input, 16, fail_after, can_read_again);
        StringSink coordinates;
        StringSink cleaned;
        ExtractResult result = extract_places(source, coordinates, cleaned, 8);
        EXPECT_EQ(result.status, ExtractStatus::kReadFailed);
        EXPECT_EQ(result.error_number, EIO);
        EXPECT_TRUE(coordinates.text.empty());
        EXPECT_LE(cleaned.text.size(), fail_after);
        EXPECT_EQ(input.compare(0, cleaned.text.size(), cleaned.text), 0);
      }
    }
  }
}

TEST(PlaceFilter, StopsAtAWriteErrorAndSaysWhichOutput) {
  std::string input = "0 HEAD\n";
  for (int i = 0; i < 40; ++i) {
    input += "0 @N" + std::to_string(i) + "@ NOTE\n" + kSixLineRecord;
  }
  input += "0 TRLR\n";
  const ReferenceSplit whole = split(input).outcome;
  // In the first blocks, and past them, where the cleaned file is written
  // beside the reading; and where the writes after the one that failed
  // would succeed, which must not be tried.
  for (auto [coordinates_room, cleaned_room] :
       {std::pair<size_t, size_t>{0, SIZE_MAX},
        {3, SIZE_MAX},
        {40, SIZE_MAX},
        {70, SIZE_MAX},
        {2000, SIZE_MAX},
        {SIZE_MAX, 0},
        {SIZE_MAX, 10},
        {SIZE_MAX, 300}}) {
    for (bool room_freed : {false, true}) {
      StringSource source(input);
      StringSink coordinates(coordinates_room);
      StringSink cleaned(cleaned_room);
      coordinates.room_freed_after_failure = room_freed;
      cleaned.room_freed_after_failure = room_freed;
      ExtractResult result = extract_places(source, coordinates, cleaned, 8);
      std::string shown = std::to_string(coordinates_room) + " " +
                          std::to_string(cleaned_room) +
                          (room_freed ? " freed" : "");
      EXPECT_EQ(result.status, cleaned_room == SIZE_MAX
                                   ? ExtractStatus::kCoordinatesWriteFailed
                                   : ExtractStatus::kCleanedWriteFailed)
          << shown;
      EXPECT_EQ(result.error_number, ENOSPC) << shown;
      // What was written is the start of each output; a coordinates file cut
      // off by the other output's failure must not look whole.
      EXPECT_EQ(whole.coordinates.compare(0, coordinates.text.size(),
                                          coordinates.text),
                0)
          << shown;
      EXPECT_EQ(whole.cleaned.compare(0, cleaned.text.size(), cleaned.text), 0)
          << shown;
      EXPECT_EQ(coordinates.text.find("0 TLR"), std::string::npos) << shown;
    }
  }
}

}  // namespace
}  // namespace placeharvest
