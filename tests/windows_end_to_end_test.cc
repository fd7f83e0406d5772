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

// A wildcard that stands for several family trees must not make outputs of
// them: the run is refused before any file is opened, and every tree keeps
// its bytes. The names come in order without regard to case, so the
// refusal names the second tree.
TEST_F(EndToEnd, RefusesOutputsThatCameFromAWildcard) {
  write_file(path("XA.ged"), kInput);
  write_file(path("xb.ged"), "0 HEAD\n1 NOTE second tree\n0 TRLR\n");
  write_file(path("xc.ged"), "0 HEAD\n1 NOTE third tree\n0 TRLR\n");
  const auto before = snapshot();
  struct Case {
    std::string arguments;
    std::string error;
  } cases[] = {
      {" x*.ged",
       "PlaceHarvest: xb.ged: came from the wildcard x*.ged; refusing to "
       "write to it (name each output in full)\n"},
      {" X?.GED",
       "PlaceHarvest: xb.ged: came from the wildcard X?.GED; refusing to "
       "write to it (name each output in full)\n"},
      {" XA.ged out.txt xc*",
       "PlaceHarvest: xc.ged: came from the wildcard xc*; refusing to "
       "write to it (name each output in full)\n"},
  };
  for (const Case& c : cases) {
    Outcome outcome = run_command_line(c.arguments);
    EXPECT_EQ(outcome.status, 2) << c.arguments;
    EXPECT_EQ(outcome.error, message(c.error)) << c.arguments;
    EXPECT_EQ(snapshot(), before) << c.arguments;
  }
  // Two trees and one name: the second tree would be the coordinates file.
  fs::remove(path("xc.ged"));
  const auto two_trees = snapshot();
  Outcome outcome = run_command_line(" *.ged out.ged");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.error,
            message("PlaceHarvest: xb.ged: came from the wildcard *.ged; "
                    "refusing to write to it (name each output in full)\n"));
  EXPECT_EQ(snapshot(), two_trees);
}

TEST_F(EndToEnd, TakesWildcardsInQuotesAndBracketsLiterally) {
  write_file(path("in.ged"), kInput);
  write_file(path("b[1].ged"), kInput);
  struct Case {
    std::string arguments;
    int status;
    std::string error;
  } cases[] = {
      {" \"*.ged\" c.txt r.txt", 2,
       "PlaceHarvest: *.ged: cannot open: Invalid argument\n"},
      {" \"in\"*.ged c.txt r.txt", 0, ""},
      {" b[1].ged c.txt r.txt", 0, ""},
      {" b[*.ged c.txt r.txt", 0, ""},
      // A pattern that matches nothing is said to, not tried as a name.
      {" [bi]*.ged c.txt r.txt", 2,
       "PlaceHarvest: [bi]*.ged: no file matches this pattern\n"},
      {" nothing*.ged c.txt r.txt", 2,
       "PlaceHarvest: nothing*.ged: no file matches this pattern\n"},
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
            message("PlaceHarvest: missing-\xc3\xa5.ged: cannot open: No such "
                    "file or directory\n"));
}

// NTFS allows a name that holds half of a surrogate pair. It is used as
// given, never turned into another name, one that may exist.
TEST_F(EndToEnd, UsesANameWithALoneSurrogateAsGiven) {
  write_file(path("in.ged"), kInput);
  const std::string replaced = "t\xef\xbf\xbd.ged";  // U+FFFD in its place
  write_file(path(replaced), "keep");
  Outcome outcome =
      run_command_line(std::wstring(L" in.ged c.txt t\xD800.ged"));
  EXPECT_EQ(read_file(path(replaced)), "keep");
  // Whether this file system can hold the name or not.
  if (outcome.status == 0) {
    EXPECT_EQ(read_file(folder_ / L"t\xD800.ged"), kCleaned);
  } else {
    EXPECT_EQ(outcome.status, 2) << outcome.error;
  }
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
