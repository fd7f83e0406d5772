// The built program, end to end: both outputs, standard error, standard
// output and the exit status, byte for byte.
#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>
#endif

#include <cerrno>
#include <cstring>

#include "end_to_end.h"
#include "reference_filter.h"

namespace placeharvest_test {
namespace {

TEST_F(EndToEnd, SplitsAFile) {
  write_file(path("in.ged"), kInput);
  Outcome outcome = run({"in.ged", "coordinates.ged", "cleaned.ged"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(read_file(path("coordinates.ged")), kCoordinates);
  EXPECT_EQ(read_file(path("cleaned.ged")), kCleaned);
  EXPECT_EQ(read_file(path("in.ged")), kInput);
}

TEST_F(EndToEnd, SplitsTheExample) {
  fs::path source = PLACEHARVEST_SOURCE_DIR;
  std::string example = (source / "examples/family.ged").string();
  Outcome outcome = run({example, "coordinates.ged", "cleaned.ged"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.error,
            message("PlaceHarvest: " + example +
                    ": left out 4 lines of place records that are not MAP, "
                    "LATI, LONG, ZOOM or PLEV; the first is line 75\n"));
  EXPECT_EQ(read_file(path("coordinates.ged")),
            read_file(source / "tests/data/family.coordinates.ged"));
  EXPECT_EQ(read_file(path("cleaned.ged")),
            read_file(source / "tests/data/family.cleaned.ged"));
}

TEST_F(EndToEnd, AnswersOptionsAndWrongOperandCountsWithoutTouchingFiles) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
    int status;
  } cases[] = {
      {{}, kUsage, 1},
      {{"a"}, kUsage, 1},
      {{"a", "b"}, kUsage, 1},
      {{"a", "b", "c", "d"}, kUsage, 1},
      {{"-h"}, kUsage, 0},
      {{"-H", "a", "b", "c"}, kUsage, 0},
      {{"-v"}, kVersion, 0},
      {{"-V", "a", "b"}, kVersion, 0},
      {{"--help"}, kUsage, 0},
      {{"--version"}, kVersion, 0},
      {{"-xhv"}, kUsage, 0},
      {{"-vh"}, kVersion, 0},
      {{"-x", "-q", "a", "b"}, kUsage, 1},
      {{"--"}, kUsage, 1},
  };
  for (const Case& c : cases) {
    Outcome outcome = run(c.arguments);
    std::string shown = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(outcome.status, c.status) << shown;
    EXPECT_EQ(outcome.error, message(c.error)) << shown;
    EXPECT_EQ(outcome.output, "") << shown;
    EXPECT_TRUE(files().empty()) << shown;
  }
}

TEST_F(EndToEnd, TakesEveryArgumentAfterTheOptionsAsAnOperand) {
  write_file(path("-"), kInput);
  Outcome outcome = run({"-x", "-", "-v", "-h"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(read_file(path("-v")), kCoordinates);
  EXPECT_EQ(read_file(path("-h")), kCleaned);
}

TEST_F(EndToEnd, SaysWhichLinesOfPlaceRecordsItLeftOut) {
  write_file(path("one.ged"),
             "0 _PLAC A\n1 MAP\n2 LATI N1\n2 LONG E1\n1 STND A, B\n0 TRLR\n");
  write_file(path("note.ged"),
             "0 @I1@ INDI\n1 NOTE born in 0 _PLAC Ume\xc3\xa5\n1 BIRT\n"
             "2 DATE 1901\n2 PLAC Ume\n1 DEAT\n2 DATE 1980\n0 TRLR\n");
  write_file(path("cut.ged"),
             "0 HEAD\r\n1 NOTE 0 _PLAC B\r\n0 _PLAC A\r\n1 NOTE n\r\n"
             "2 CONT m\r\n1 MAP\r\n2 LATI N1");
  Outcome outcome = run({"one.ged", "c.ged", "r.ged"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.error,
            message("PlaceHarvest: one.ged: left out 1 line of a place record "
                    "that is not MAP, LATI, LONG, ZOOM or PLEV: line 5\n"));
  EXPECT_EQ(read_file(path("c.ged")),
            "2 PLAC A\n3 MAP\n4 LATI N1\n4 LONG E1\n0 TLR\n");
  EXPECT_EQ(read_file(path("r.ged")), "0 TRLR\n");
  // A note that mentions the marker takes five lines of the person.
  outcome = run({"note.ged", "c.ged", "r.ged"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.error,
            message("PlaceHarvest: note.ged: took 1 place line that does not "
                    "begin a line with \"0 _PLAC \" and the lines after it by "
                    "position: line 2\n"));
  EXPECT_EQ(read_file(path("c.ged")),
            "2 PLAC Ume\xc3\xa5\n3 MAP\n4 LATI 1901\n4 LONG Ume\n4 ZOOM \n"
            "4 PLEV 1980\n0 TLR\n");
  EXPECT_EQ(read_file(path("r.ged")), "0 @I1@ INDI\n0 TRLR\n");
  // The left-out lines come first, then the positional ones, then the
  // cut-short record.
  outcome = run({"cut.ged", "c.ged", "r.ged"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.error,
            message("PlaceHarvest: cut.ged: left out 2 lines of place records "
                    "that are not MAP, LATI, LONG, ZOOM or PLEV; the first is "
                    "line 4\nPlaceHarvest: cut.ged: took 1 place line that "
                    "does not begin a line with \"0 _PLAC \" and the lines "
                    "after it by position: line 2\nPlaceHarvest: cut.ged: the "
                    "place record at line 3 is cut short by the end of the "
                    "file\n"));
  EXPECT_EQ(read_file(path("c.ged")),
            "2 PLAC B\r\n2 PLAC A\r\n3 MAP\r\n4 LATI N1\r\n0 TLR\r\n");
  EXPECT_EQ(read_file(path("r.ged")), "0 HEAD\r\n");
}

TEST_F(EndToEnd, ReportsACutShortRecordAndKeepsBothOutputs) {
  write_file(path("in.ged"), "0 HEAD\r\n0 _PLAC Ystad\r\n1 MAP\r\n2 LATI N55");
  Outcome outcome = run({"in.ged", "c.ged", "r.ged"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.error,
            message("PlaceHarvest: in.ged: the place record at line 2 is cut "
                    "short by the end of the file\n"));
  EXPECT_EQ(read_file(path("c.ged")),
            "2 PLAC Ystad\r\n3 MAP\r\n4 LATI N55\r\n0 TLR\r\n");
  EXPECT_EQ(read_file(path("r.ged")), "0 HEAD\r\n");
}

// Every failure leaves the input as it was and the outputs that were not
// reached untouched.
TEST_F(EndToEnd, ReportsFilesThatCannotBeUsed) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
    std::vector<std::string> files_after;
  };
  std::vector<Case> cases = {
      {{"missing.ged", "c.ged", "r.ged"},
       "PlaceHarvest: missing.ged: cannot open: No such file or directory\n",
       {"in.ged", "keep.ged"}},
      {{"folder", "c.ged", "r.ged"},
       "PlaceHarvest: folder: cannot open: Is a directory\n",
       {"in.ged", "keep.ged"}},
      {{"in.ged", "no/c.ged", "keep.ged"},
       "PlaceHarvest: no/c.ged: cannot create: No such file or directory\n",
       {"in.ged", "keep.ged"}},
      // The coordinates file it created is gone again.
      {{"in.ged", "c.ged", "no/r.ged"},
       "PlaceHarvest: no/r.ged: cannot create: No such file or directory\n",
       {"in.ged", "keep.ged"}},
  };
#ifndef _WIN32
  cases.insert(
      cases.end(),
      {
          // A name cannot forge a message line or act on the terminal.
          {{"a\nPlaceHarvest: \x1b[31mx\x7f\xff.ged", "c.ged", "r.ged"},
           "PlaceHarvest: a\\nPlaceHarvest: \\033[31mx\\177\\xFF.ged: "
           "cannot open: No such file or directory\n",
           {"in.ged", "keep.ged"}},
          {{"in.ged", "/dev/full", "r.ged"},
           "PlaceHarvest: /dev/full: cannot write: No space left on device\n",
           {"in.ged", "keep.ged", "r.ged"}},
          {{"in.ged", "c.ged", "/dev/full"},
           "PlaceHarvest: /dev/full: cannot write: No space left on device\n",
           {"c.ged", "in.ged", "keep.ged"}},
      });
#endif
  for (const Case& c : cases) {
    write_file(path("in.ged"), kInput);
    write_file(path("keep.ged"), "keep");
    fs::create_directory(path("folder"));
    Outcome outcome = run(c.arguments);
    std::string shown = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(outcome.status, 2) << shown;
    EXPECT_EQ(outcome.error, message(c.error)) << shown;
    EXPECT_EQ(read_file(path("in.ged")), kInput) << shown;
    EXPECT_EQ(read_file(path("keep.ged")), "keep") << shown;
    fs::remove(path("folder"));
    EXPECT_EQ(files(), c.files_after) << shown;
    for (const std::string& name : files()) fs::remove(path(name));
  }
}

// A shell expands "PlaceHarvest *.ged" in a folder of three trees into
// three operands; and an output that cannot be opened must not cost the
// other one its contents.
TEST_F(EndToEnd, ChangesNoFileWhenARunIsRefusedOrAnOutputCannotBeOpened) {
  write_file(path("anna.ged"), kInput);
  write_file(path("bertil.ged"), "0 HEAD\r\n1 SOUR Bertil\r\n0 TRLR\r\n");
  write_file(path("cecilia.ged"), kInput);
  write_file(path("c.ged"), "2 PLAC Old\n0 TLR\n");
  // Shown raw, it would set the window's title and hide what follows.
  write_file(path("title.ged"), "\x1b]0;x\x07\x1b[8m0 HEAD\n");
  fs::create_directory(path("folder"));
#ifdef _WIN32
  const std::string kFolderRefused = "cannot create: Permission denied";
#else
  const std::string kFolderRefused = "cannot create: Is a directory";
#endif
  expect_refusals({
      {{"anna.ged", "bertil.ged", "cecilia.ged"},
       "PlaceHarvest: bertil.ged: is not a coordinates file (it begins "
       "\"0 HEAD\"); refusing to overwrite it\n"},
      {{"anna.ged", "title.ged", "r.ged"},
       "PlaceHarvest: title.ged: is not a coordinates file (it begins "
       "\"\\033]0;x\\007\\033[8m0 HEAD\"); refusing to overwrite it\n"},
      {{"anna.ged", "c.ged", "no/r.ged"},
       "PlaceHarvest: no/r.ged: cannot create: No such file or directory\n"},
      {{"anna.ged", "c.ged", "folder"},
       "PlaceHarvest: folder: " + kFolderRefused + "\n"},
      {{"anna.ged", "new.ged", "folder"},
       "PlaceHarvest: folder: " + kFolderRefused + "\n"},
  });
}

// What it wrote itself, or began to write, it writes over again.
TEST_F(EndToEnd, WritesOverAnEarlierCoordinatesFile) {
  write_file(path("in.ged"), kInput);
  for (const std::string& earlier : {""s, "2 PL"s, "0 TLR\r\n"s, kCoordinates,
                                     "\xef\xbb\xbf" + kCoordinates}) {
    write_file(path("c.ged"), earlier);
    Outcome outcome = run({"in.ged", "c.ged", "r.ged"});
    EXPECT_EQ(outcome.status, 0) << earlier;
    EXPECT_EQ(outcome.error, "") << earlier;
    EXPECT_EQ(read_file(path("c.ged")), kCoordinates) << earlier;
    EXPECT_EQ(read_file(path("r.ged")), kCleaned) << earlier;
  }
}

#ifndef _WIN32
TEST_F(EndToEnd, RefusesToWriteOverTheInputOrBothOutputsIntoOneFile) {
  write_file(path("in.ged"), kInput);
  write_file(path("out.ged"), "0 TLR\n");
  fs::create_hard_link(path("in.ged"), path("hard.ged"));
  fs::create_symlink("in.ged", path("soft.ged"));
  fs::create_symlink("new.ged", path("to-new.ged"));
  fs::create_symlink("target.ged", path("link.ged"));
  fs::copy_file(path("in.ged"), path("twin.ged"));
  fs::last_write_time(path("twin.ged"), fs::last_write_time(path("in.ged")));
  const std::string refusal = "; refusing to overwrite it\n";
  expect_refusals({
      {{"in.ged", "in.ged", "r.ged"},
       "PlaceHarvest: in.ged: is the input file in.ged" + refusal},
      {{"in.ged", "c.ged", "./in.ged"},
       "PlaceHarvest: ./in.ged: is the input file in.ged" + refusal},
      {{"in.ged", "hard.ged", "r.ged"},
       "PlaceHarvest: hard.ged: is the input file in.ged" + refusal},
      {{"soft.ged", "c.ged", "in.ged"},
       "PlaceHarvest: in.ged: is the input file soft.ged" + refusal},
      {{"in.ged", "out.ged", "./out.ged"},
       "PlaceHarvest: ./out.ged: is the coordinates file out.ged as well; "
       "refusing to write both into it\n"},
      {{"in.ged", "new.ged", "to-new.ged"},
       "PlaceHarvest: to-new.ged: is the coordinates file new.ged as well; "
       "refusing to write both into it\n"},
      // Messages would land on the file's own bytes.
      {{"in.ged", "c.ged", "/dev/stderr"},
       "PlaceHarvest: /dev/stderr: is standard error as well, where messages "
       "go; refusing to write to it\n"},
      // As a second mount would show it: another identity, the same size,
      // time and bytes.
      {{"in.ged", "c.ged", "twin.ged"},
       "PlaceHarvest: twin.ged: is the input file in.ged" + refusal},
      // The link stays, and the file made where it points is gone again.
      {{"in.ged", "link.ged", "target.ged"},
       "PlaceHarvest: target.ged: is the coordinates file link.ged as well; "
       "refusing to write both into it\n"},
  });
  // A copy with a time of its own, like an earlier output, is written over.
  fs::last_write_time(path("twin.ged"), fs::last_write_time(path("in.ged")) -
                                            std::chrono::seconds(1));
  EXPECT_EQ(run({"in.ged", "c.ged", "twin.ged"}).status, 0);
  EXPECT_EQ(read_file(path("twin.ged")), kCleaned);
}

// The program holding a FIFO's write end would never see its input end.
TEST_F(EndToEnd, RefusesOneFifoAsInputAndOutput) {
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  Outcome outcome = run_shell(
      "printf '0 HEAD\\n' > fifo & timeout 10 \"$PLACEHARVEST\" fifo fifo "
      "r.ged; status=$?; wait; exit $status");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.error,
            "PlaceHarvest: fifo: is the input file fifo; refusing to "
            "overwrite it\n");
  EXPECT_EQ(files(), std::vector<std::string>{"fifo"});
}

// Another process may turn the cleaned file's name into a link to the
// input at any moment; whenever it does, the input must not suffer.
TEST_F(EndToEnd, KeepsTheInputWhileAnOutputNameChangesUnderTheRun) {
  write_file(path("in.ged"), kInput);
  struct Swapper {
    std::atomic<bool> done{false};
    std::thread thread;
    ~Swapper() {
      done = true;
      thread.join();
    }
  } swapper;
  swapper.thread = std::thread([this, &done = swapper.done] {
    std::error_code ignored;
    while (!done) {
      fs::create_symlink("in.ged", path("link"), ignored);
      fs::rename(path("link"), path("r.ged"), ignored);
      write_file(path("plain"), "");
      fs::rename(path("plain"), path("r.ged"), ignored);
    }
  });
  const int runs = std::getenv("PLACEHARVEST_TEST_WRAPPER") ? 10 : 300;
  for (int i = 0; i < runs; ++i) {
    Outcome outcome = run({"in.ged", "c.ged", "r.ged"});
    ASSERT_EQ(read_file(path("in.ged")), kInput) << "run " << i;
    ASSERT_TRUE(outcome.status == 0 || outcome.status == 2) << outcome.error;
  }
}

// Started with its standard descriptors closed, as by cron or a launcher,
// it writes its files as it would have, and no message into them.
TEST_F(EndToEnd, KeepsMessagesOutOfItsFilesWhenStandardDescriptorsAreClosed) {
  write_file(path("one.ged"),
             "0 _PLAC A\n1 MAP\n2 LATI N1\n1 STND A, B\n0 TRLR\n");
  Outcome with_them = run({"one.ged", "c1.ged", "r1.ged"});
  ASSERT_NE(with_them.error, "");
  Outcome without =
      run_shell("\"$PLACEHARVEST\" one.ged c2.ged r2.ged <&- >&- 2>&-");
  EXPECT_EQ(without.status, 0);
  EXPECT_EQ(read_file(path("c2.ged")), read_file(path("c1.ged")));
  EXPECT_EQ(read_file(path("r2.ged")), read_file(path("r1.ged")));
  const auto before = snapshot();
  without = run_shell("\"$PLACEHARVEST\" one.ged one.ged r3.ged <&- 2>&-");
  EXPECT_EQ(without.status, 2);
  EXPECT_EQ(snapshot(), before);
}

// A file-size limit and a line longer than memory allows end the run like
// any failure: one message, status 2, and no trailer. Memory too small for
// the run's buffers is found before any file has changed, and a very small
// stack is enough.
TEST_F(EndToEnd, ReportsLimitsLikeAnyOtherFailure) {
  write_file(path("big.ged"), big_input());
  Outcome outcome =
      run_shell("ulimit -f 64 && \"$PLACEHARVEST\" big.ged c.ged r.ged");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.error,
            "PlaceHarvest: c.ged: cannot write: File too large\n");
#ifndef PLACEHARVEST_FAULT_LIBRARY
  GTEST_SKIP() << "sanitizers need more address space than the limit leaves";
#else
  if (std::getenv("PLACEHARVEST_TEST_WRAPPER") != nullptr) {
    GTEST_SKIP() << "a wrapper needs more address space than the limit";
  }
  // A long line that holds no marker is not held when the input can be read
  // again; from a pipe it is.
  const std::string long_note = "1 NOTE " + std::string(48 << 20, 'x') + "\n";
  write_file(path("long.ged"), kInput + long_note);
  outcome =
      run_shell("ulimit -v 32768 && \"$PLACEHARVEST\" long.ged c.ged r.ged");
  EXPECT_EQ(outcome.status, 0) << outcome.error;
  EXPECT_EQ(read_file(path("c.ged")), kCoordinates);
  EXPECT_EQ(read_file(path("r.ged")), kCleaned + long_note);
  outcome = run_shell(
      "ulimit -v 32768 && cat long.ged | \"$PLACEHARVEST\" /dev/stdin c.ged "
      "r.ged");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.error,
            "PlaceHarvest: /dev/stdin: cannot read: out of memory\n");
  EXPECT_EQ(read_file(path("c.ged")),
            kCoordinates.substr(0, kCoordinates.size() - 6));
  write_file(path("in.ged"), kInput);
  // From too little to start the program at all (status 127) to enough.
  for (int kib = 4000; kib <= 16000; kib += 1000) {
    write_file(path("c.ged"), "2 PLAC Old\n");
    write_file(path("r.ged"), "0 HEAD\n");
    std::string limited = "ulimit -v " + std::to_string(kib) +
                          " && \"$PLACEHARVEST\" in.ged c.ged r.ged";
    outcome = run_shell(limited);
    bool ran = outcome.status == 0;
    if (outcome.status == 2) {
      EXPECT_EQ(outcome.error,
                "PlaceHarvest: in.ged: cannot read: out of "
                "memory\n")
          << kib;
    } else if (!ran) {
      EXPECT_EQ(outcome.status, 127) << kib << outcome.error;
    }
    EXPECT_EQ(read_file(path("c.ged")), ran ? kCoordinates : "2 PLAC Old\n");
    EXPECT_EQ(read_file(path("r.ged")), ran ? kCleaned : "0 HEAD\n");
  }
  outcome = run_shell("ulimit -s 20 && \"$PLACEHARVEST\" in.ged c.ged r.ged");
  EXPECT_EQ(outcome.status, 0) << outcome.error;
  EXPECT_EQ(read_file(path("c.ged")), kCoordinates);
#endif
}
#endif

TEST_F(EndToEnd, WritesToDevices) {
#ifdef _WIN32
  const std::string kNull = "NUL";
#else
  const std::string kNull = "/dev/null";
#endif
  write_file(path("in.ged"), kInput);
  Outcome outcome = run({"in.ged", kNull, kNull});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.error, "");
}

#ifndef _WIN32
// Every failure of a system call below the program is reported with status
// 2; the input stays as it was; earlier outputs stay as they were when the
// failure comes before anything was written, and the coordinates file
// never ends with the trailer after a failure. A library loaded into the
// program makes the chosen call fail (see fault_injection.cc).
TEST_F(EndToEnd, ReportsEveryFailureBelowItAndLeavesTheInputAlone) {
#ifndef PLACEHARVEST_FAULT_LIBRARY
  GTEST_SKIP() << "fault injection needs a build without sanitizers";
#else
  if (std::getenv("PLACEHARVEST_TEST_WRAPPER") != nullptr) {
    GTEST_SKIP() << "fault injection does not work under a wrapper";
  }
  const std::string input = big_input();
  // Its line number is counted by reading the file again.
  const std::string cut_short = input + "0 _PLAC Ystad\n";
  // A line too long for what the program keeps of a UTF-16 file as it
  // reads, so that its cleaned copy reads the file again.
  const std::string long_note =
      input + "0 @N0@ NOTE " + std::string(640 * 1024, 'x') + "\n";
  const std::string earlier_coordinates = "2 PLAC Old\n0 TLR\n";
  const std::string earlier_cleaned = "0 HEAD\n0 TRLR\n";
  const std::string no_space = ": cannot write: No space left on device\n";
  const std::string cannot_close = ": cannot close: Input/output error\n";
  const std::string cannot_read = ": cannot read: Input/output error\n";
  const std::string cannot_empty = ": cannot empty: Operation not permitted\n";
  const std::string piped =
      "cat big.ged | \"$PLACEHARVEST\" /dev/stdin c.ged r.ged";
  struct Case {
    std::string fault;
    std::string error;
    bool outputs_kept = false;  // both earlier outputs as they were
    std::string shell_command = "";
    bool input_changes = false;
  } cases[] = {
      {"c.ged:write:1", "PlaceHarvest: c.ged" + no_space},
      {"c.ged:write:3", "PlaceHarvest: c.ged" + no_space},
      {"c.ged:write-nothing:2",
       "PlaceHarvest: c.ged: cannot write: Input/output error\n"},
      // What closing reports comes before the trailer is trusted (the first
      // close is that of the look at its start).
      {"c.ged:close:2", "PlaceHarvest: c.ged" + cannot_close},
      {"r.ged:write:1", "PlaceHarvest: r.ged" + no_space},
      {"r.ged:write:3", "PlaceHarvest: r.ged" + no_space},
      {"r.ged:close:1", "PlaceHarvest: r.ged" + cannot_close},
      {"big.ged:read:3", "PlaceHarvest: big.ged" + cannot_read},
      {"cut.ged:read-again:1", "PlaceHarvest: cut.ged" + cannot_read, false,
       "\"$PLACEHARVEST\" cut.ged c.ged r.ged"},
      // The cleaned file of a UTF-16 file is copied by reading it again
      // where the bytes read first are no longer kept.
      {"u16.ged:read-again:1", "PlaceHarvest: u16.ged" + cannot_read, false,
       "\"$PLACEHARVEST\" u16.ged c.ged r.ged"},
      {"/dev/stdin:read:3", "PlaceHarvest: /dev/stdin" + cannot_read, false,
       piped},
      {"big.ged:grow:2",
       "PlaceHarvest: big.ged: changed while it was being read\n", false, "",
       true},
      {"big.ged:shrink:2",
       "PlaceHarvest: big.ged: changed while it was being read\n", false, "",
       true},
      // Before anything is written: nothing has changed.
      {"big.ged:read:1", "PlaceHarvest: big.ged" + cannot_read, true},
      {"c.ged:read:1",
       "PlaceHarvest: c.ged: cannot be read to check that it is a "
       "coordinates file: Input/output error; refusing to overwrite it\n",
       true},
      {"c.ged:truncate:1", "PlaceHarvest: c.ged" + cannot_empty, true},
      {"r.ged:truncate:1", "PlaceHarvest: r.ged" + cannot_empty, true},
      // The name vanishes after it was found to exist, and comes back as a
      // link to the input: the input is opened, refused, and not removed.
      {"link.ged:relink:2:big.ged",
       "PlaceHarvest: link.ged: is the input file big.ged; refusing to "
       "overwrite it\n",
       true,
       "ln -sf big.ged link.ged && \"$PLACEHARVEST\" big.ged c.ged link.ged"},
  };
  for (const Case& c : cases) {
    write_file(path("big.ged"), input);
    write_file(path("cut.ged"), cut_short);
    write_file(path("u16.ged"), placeharvest::utf16_bytes(
                                    placeharvest::units_of(long_note), true));
    write_file(path("c.ged"), earlier_coordinates);
    write_file(path("r.ged"), earlier_cleaned);
    std::vector<std::string> environment = {
        "LD_PRELOAD="s + PLACEHARVEST_FAULT_LIBRARY,
        "PLACEHARVEST_FAULT=" + c.fault};
    Outcome outcome = c.shell_command.empty()
                          ? run({"big.ged", "c.ged", "r.ged"}, environment)
                          : run_shell(c.shell_command, environment);
    EXPECT_EQ(outcome.status, 2) << c.fault;
    EXPECT_EQ(outcome.error, c.error) << c.fault;
    if (!c.input_changes) {
      EXPECT_EQ(read_file(path("big.ged")), input) << c.fault;
    }
    EXPECT_EQ(read_file(path("cut.ged")), cut_short) << c.fault;
    std::string coordinates = read_file(path("c.ged"));
    if (c.outputs_kept) {
      EXPECT_EQ(coordinates, earlier_coordinates) << c.fault;
      EXPECT_EQ(read_file(path("r.ged")), earlier_cleaned) << c.fault;
    } else {
      EXPECT_EQ(coordinates.find("0 TLR"), std::string::npos) << c.fault;
    }
  }
#endif
}

TEST_F(EndToEnd, ReportsAFullDisk) {
  fs::create_directory(path("small"));
  if (mount("tmpfs", path("small").c_str(), "tmpfs", 0, "size=16k") != 0) {
    GTEST_SKIP() << "cannot mount a small file system: "
                 << std::strerror(errno);
  }
  struct Unmount {
    std::string where;
    ~Unmount() { umount(where.c_str()); }
  } unmount{path("small").string()};
  const std::string input = big_input();
  write_file(path("big.ged"), input);
  Outcome outcome = run({"big.ged", "small/c.ged", "r.ged"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(
      outcome.error,
      "PlaceHarvest: small/c.ged: cannot write: No space left on device\n");
  outcome = run({"big.ged", "c.ged", "small/r.ged"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(
      outcome.error,
      "PlaceHarvest: small/r.ged: cannot write: No space left on device\n");
  // Cut off by the other output, the coordinates file must not look whole.
  EXPECT_EQ(read_file(path("c.ged")).find("0 TLR"), std::string::npos);
  EXPECT_EQ(read_file(path("big.ged")), input);
}

// Like any Unix filter, the program ends at once and silently, killed by
// SIGPIPE, when the reader of an output pipe stops early: whether the main
// thread writes the cleaned file (a small tree) or the helper beside it (a
// larger one).
TEST_F(EndToEnd, StopsQuietlyWhenThePipeItWritesToCloses) {
  const std::string big = big_input();
  const std::string small =
      big.substr(0, big.find("0 _PLAC", big.size() / 16)) + "0 TRLR\n";
  for (const std::string& input : {small, big + big}) {
    write_file(path("in.ged"), input);
    Outcome outcome = run_shell(
        "(\"$PLACEHARVEST\" in.ged c.ged /dev/stdout; echo $? > status) | "
        "head -c 10 > /dev/null");
    EXPECT_EQ(outcome.error, "") << input.size();
    EXPECT_EQ(read_file(path("status")), "141\n") << input.size();
  }
}

#endif

// Real files from genealogy programs hold no place record: each must come
// through whole, with the trailer alone in the coordinates file.
TEST_F(EndToEnd, CopiesRealFilesWithoutPlaceRecordsByteForByte) {
  fs::path testdata = PLACEHARVEST_TESTDATA_DIR;
  int tried = 0;
  for (const auto& entry : fs::recursive_directory_iterator(testdata)) {
    if (entry.path().extension() != ".ged") continue;
    Outcome outcome = run({entry.path().string(), "c.ged", "r.ged"});
    std::string name = entry.path().filename().string();
    EXPECT_EQ(outcome.status, 0) << name;
    EXPECT_EQ(outcome.error, "") << name;
    EXPECT_EQ(read_file(path("r.ged")), read_file(entry.path())) << name;
    // The trailer alone, in the input's encoding.
    std::string input = read_file(entry.path());
    std::vector<std::string> trailers;
    for (std::string trailer : {"0 TLR\n", "0 TLR\r\n", "0 TLR\r"}) {
      trailers.push_back(trailer);
      std::string little, big;
      for (char c : trailer) {
        little += std::string{c, '\0'};
        big += std::string{'\0', c};
      }
      trailers.insert(trailers.end(),
                      {little, "\xff\xfe" + little, big, "\xfe\xff" + big});
    }
    std::string coordinates = read_file(path("c.ged"));
    EXPECT_NE(std::find(trailers.begin(), trailers.end(), coordinates),
              trailers.end())
        << name << ": " << coordinates;
    ++tried;
  }
  EXPECT_GT(tried, 0);
}

// Real exports with level-0 place records split as the rules say, with the
// same report.
TEST_F(EndToEnd, MovesTheCoordinatesOfRealExports) {
  fs::path testdata = PLACEHARVEST_PLACES_TESTDATA_DIR;
  int tried = 0;
  for (const auto& entry : fs::directory_iterator(testdata)) {
    if (entry.path().extension() != ".ged") continue;
    std::string name = entry.path().filename().string();
    placeharvest::ReferenceSplit expected =
        placeharvest::reference_split_file(read_file(entry.path()));
    Outcome outcome = run({entry.path().string(), "c.ged", "r.ged"});
    EXPECT_EQ(outcome.status, expected.cut_short ? 2 : 0) << name;
    EXPECT_EQ(read_file(path("c.ged")), expected.coordinates) << name;
    EXPECT_EQ(read_file(path("r.ged")), expected.cleaned) << name;
    std::string left_out =
        ": left out " + std::to_string(expected.left_out_lines) + " line";
    EXPECT_EQ(outcome.error.find(left_out) != std::string::npos,
              expected.left_out_lines > 0)
        << name << ": " << outcome.error;
    ++tried;
  }
  EXPECT_GT(tried, 0);
}

// A real export saved as UTF-16 gives, in UTF-16, what it gives in UTF-8,
// with the same messages; a second run over its outputs works; and a UTF-16
// tree in the coordinates file's place is refused like any other.
TEST_F(EndToEnd, SplitsUtf16ExportsAsTheirUtf8Twins) {
  fs::path testdata = PLACEHARVEST_PLACES_TESTDATA_DIR;
  using placeharvest::units_of;
  using placeharvest::utf16_bytes;
  int tried = 0;
  for (const auto& entry : fs::directory_iterator(testdata)) {
    if (entry.path().extension() != ".ged") continue;
    std::string utf8 = read_file(entry.path());
    write_file(path("in.ged"), utf8);
    Outcome twin = run({"in.ged", "c.ged", "r.ged"});
    std::string coordinates = read_file(path("c.ged"));
    std::string cleaned = read_file(path("r.ged"));
    for (bool little : {true, false}) {
      std::string name =
          entry.path().filename().string() + (little ? " LE" : " BE");
      // With a byte-order mark: the UTF-8 one, if the file has it, becomes
      // the UTF-16 one.
      std::string mark = utf16_bytes(u"\xfeff", little);
      bool has_mark = utf8.compare(0, 3, "\xef\xbb\xbf") == 0;
      write_file(path("in.ged"),
                 (has_mark ? "" : mark) + utf16_bytes(units_of(utf8), little));
      for (int pass = 0; pass < 2; ++pass) {
        Outcome outcome = run({"in.ged", "c.ged", "r.ged"});
        EXPECT_EQ(outcome.status, twin.status) << name;
        EXPECT_EQ(outcome.error, twin.error) << name;
        EXPECT_EQ(read_file(path("c.ged")),
                  mark + utf16_bytes(units_of(coordinates), little))
            << name;
        EXPECT_EQ(
            read_file(path("r.ged")),
            (has_mark ? "" : mark) + utf16_bytes(units_of(cleaned), little))
            << name;
      }
    }
    ++tried;
  }
  EXPECT_GT(tried, 0);
  write_file(path("tree.ged"), utf16_bytes(units_of(kInput), true));
  expect_refusals({{{"in.ged", "tree.ged", "r.ged"},
                    "PlaceHarvest: tree.ged: is not a coordinates file (it "
                    "begins \"0 HEAD\"); refusing to overwrite it\n"}});
}

}  // namespace
}  // namespace placeharvest_test
