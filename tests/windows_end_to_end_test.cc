// What only Windows has: wildcards expanded by the program from its own
// command line, file names beyond the ANSI code page, and file names that
// differ only in case.
#include "end_to_end.h"

namespace placeharvest_test {
namespace {

TEST_F(EndToEnd, ExpandsAnUnquotedWildcardToTheOneFileItMatches) {
  write_file(path("in.ged"), kInput);
  Outcome outcome = run_command_line(" *.ged c.txt r.txt");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(read_file(path("c.txt")), kCoordinates);
}

TEST_F(EndToEnd, ExpandsToSeveralFilesInOrderWithoutRegardToCase) {
  write_file(path("xb.ged"), "xb");
  write_file(path("XA.ged"), kInput);
  // XA.ged comes before xb.ged: the input, then the coordinates file.
  Outcome outcome = run_command_line(" x?.GED r.txt");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(read_file(path("XA.ged")), kInput);
  EXPECT_EQ(read_file(path("xb.ged")), kCoordinates);
  EXPECT_EQ(read_file(path("r.txt")), kCleaned);
}

TEST_F(EndToEnd, TakesWildcardsInQuotesAndBracketsLiterally) {
  write_file(path("in.ged"), kInput);
  write_file(path("b[1].ged"), kInput);
  struct Case {
    std::string arguments;
    int status;
    std::string error;
  } cases[] = {
      {" \"*.ged\" c.txt r.txt", 2, "PlaceHarvest: *.ged: Invalid argument\n"},
      {" \"in\"*.ged c.txt r.txt", 0, ""},
      {" b[1].ged c.txt r.txt", 0, ""},
      {" b[*.ged c.txt r.txt", 0, ""},
      {" [bi]*.ged c.txt r.txt", 2,
       "PlaceHarvest: [bi]*.ged: Invalid argument\n"},
      {" nothing*.ged c.txt r.txt", 2,
       "PlaceHarvest: nothing*.ged: Invalid argument\n"},
  };
  for (const Case& c : cases) {
    Outcome outcome = run_command_line(c.arguments);
    EXPECT_EQ(outcome.status, c.status) << c.arguments;
    EXPECT_EQ(outcome.error, message(c.error)) << c.arguments;
  }
}

TEST_F(EndToEnd, OpensFilesNamedBeyondTheAnsiCodePage) {
  // Swedish letters, and Greek, which no Western code page holds.
  write_file(path("Sl\xc3\xa4kttr\xc3\xa4"
                  "d.ged"),
             kInput);
  Outcome outcome =
      run({"Sl\xc3\xa4kttr\xc3\xa4"
           "d.ged",
           "\xce\xa7\xcf\x8e\xcf\x81\xce\xb1.ged", "\xc3\x96vrigt.ged"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(read_file(path("\xce\xa7\xcf\x8e\xcf\x81\xce\xb1.ged")),
            kCoordinates);
  EXPECT_EQ(read_file(path("\xc3\x96vrigt.ged")), kCleaned);
  outcome = run({"missing-\xc3\xa5.ged", "c.txt", "r.txt"});
  EXPECT_EQ(outcome.error,
            message("PlaceHarvest: missing-\xc3\xa5.ged: No such file or "
                    "directory\n"));
}

TEST_F(EndToEnd, RefusesToWriteOverTheInputUnderAnotherName) {
  write_file(path("in.ged"), kInput);
  fs::create_hard_link(path("in.ged"), path("hard.ged"));
  const std::string refusal = "; refusing to overwrite it\n";
  expect_refusals({
      {{"in.ged", "IN.GED", "r.txt"},
       "PlaceHarvest: IN.GED: is the input file in.ged" + refusal},
      {{"in.ged", "c.txt", ".\\in.ged"},
       "PlaceHarvest: .\\in.ged: is the input file in.ged" + refusal},
      {{"in.ged", "hard.ged", "r.txt"},
       "PlaceHarvest: hard.ged: is the input file in.ged" + refusal},
      {{"in.ged", "c.txt", "C.TXT"},
       "PlaceHarvest: C.TXT: is the coordinates file c.txt as well; "
       "refusing to write both into it\n"},
      {{"in.ged", "\xc3\xa5.txt", "\xc3\x85.TXT"},
       "PlaceHarvest: \xc3\x85.TXT: is the coordinates file \xc3\xa5.txt as "
       "well; refusing to write both into it\n"},
  });
}

}  // namespace
}  // namespace placeharvest_test
