// Runs the built PlaceHarvest in a fresh folder and checks the exact bytes of
// both outputs, standard error, standard output and the exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string kUsage =
    "\nusage: PlaceHarvest <infil> <UtKoordinater> <UtRensadGedFil>\n\n";
const std::string kVersion = "\nv1.1 - 181226.1121/181230.2305qh\n\n";

const std::string kInput =
    "0 HEAD\n0 _PLAC Ume\xc3\xa5\n1 MAP\n2 LATI N63.8258\n2 LONG E20.2630\n"
    "2 ZOOM 12\n2 PLEV 2\n0 @I1@ INDI\n1 NAME Ebba /Berg/\n0 TRLR\n";
const std::string kCoordinates =
    "2 PLAC Ume\xc3\xa5\n3 MAP\n4 LATI N63.8258\n4 LONG E20.2630\n4 ZOOM 12\n"
    "4 PLEV 2\n0 TLR\n";
const std::string kCleaned =
    "0 HEAD\n0 @I1@ INDI\n1 NAME Ebba /Berg/\n0 TRLR\n";

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct Outcome {
  int status;
  std::string error;
  std::string output;
};

// Each test runs in a folder of its own, removed afterwards.
class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (fs::temp_directory_path() / "placeharvest-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path path(const std::string& name) const { return folder_ / name; }

  // Runs the program inside the folder, in the C locale so that the
  // system's error texts are the English ones.
  Outcome run(const std::vector<std::string>& arguments) const {
    fs::path error = folder_ / ".stderr";
    fs::path output = folder_ / ".stdout";
    pid_t child = fork();
    if (child == 0) {
      if (chdir(folder_.c_str()) != 0) _exit(127);
      int error_file = open(error.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int output_file =
          open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(error_file, 2);
      dup2(output_file, 1);
      setenv("LC_ALL", "C", 1);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(PLACEHARVEST_PROGRAM));
      for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
      }
      argv.push_back(nullptr);
      execv(PLACEHARVEST_PROGRAM, argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                    read_file(error), read_file(output)};
    fs::remove(error);
    fs::remove(output);
    return outcome;
  }

  // The names in the folder, other than those given.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path folder_;
};

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
  Outcome outcome = run({(source / "examples/family.ged").string(),
                         "coordinates.ged", "cleaned.ged"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.error, "");
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
    EXPECT_EQ(outcome.error, c.error) << shown;
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

TEST_F(EndToEnd, ReportsACutShortRecordAndKeepsBothOutputs) {
  write_file(path("in.ged"), "0 HEAD\r\n0 _PLAC Ystad\r\n1 MAP\r\n2 LATI N55");
  Outcome outcome = run({"in.ged", "c.ged", "r.ged"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.error,
            "PlaceHarvest: in.ged: the place record at line 2 is cut short "
            "by the end of the file\n");
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
  } cases[] = {
      {{"missing.ged", "c.ged", "r.ged"},
       "PlaceHarvest: missing.ged: No such file or directory\n",
       {"in.ged", "keep.ged"}},
      {{"folder", "c.ged", "r.ged"},
       "PlaceHarvest: folder: Is a directory\n",
       {"in.ged", "keep.ged"}},
      {{"in.ged", "no/c.ged", "keep.ged"},
       "PlaceHarvest: no/c.ged: No such file or directory\n",
       {"in.ged", "keep.ged"}},
      {{"in.ged", "c.ged", "no/r.ged"},
       "PlaceHarvest: no/r.ged: No such file or directory\n",
       {"c.ged", "in.ged", "keep.ged"}},
      {{"in.ged", "/dev/full", "r.ged"},
       "PlaceHarvest: /dev/full: No space left on device\n",
       {"in.ged", "keep.ged", "r.ged"}},
      {{"in.ged", "c.ged", "/dev/full"},
       "PlaceHarvest: /dev/full: No space left on device\n",
       {"c.ged", "in.ged", "keep.ged"}},
  };
  for (const Case& c : cases) {
    write_file(path("in.ged"), kInput);
    write_file(path("keep.ged"), "keep");
    fs::create_directory(path("folder"));
    Outcome outcome = run(c.arguments);
    std::string shown = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(outcome.status, 2) << shown;
    EXPECT_EQ(outcome.error, c.error) << shown;
    EXPECT_EQ(read_file(path("in.ged")), kInput) << shown;
    EXPECT_EQ(read_file(path("keep.ged")), "keep") << shown;
    fs::remove(path("folder"));
    EXPECT_EQ(files(), c.files_after) << shown;
    for (const std::string& name : files()) fs::remove(path(name));
  }
}

TEST_F(EndToEnd, RefusesToWriteOverTheInputOrBothOutputsIntoOneFile) {
  write_file(path("in.ged"), kInput);
  write_file(path("out.ged"), "out");
  fs::create_hard_link(path("in.ged"), path("hard.ged"));
  fs::create_symlink("in.ged", path("soft.ged"));
  fs::create_symlink("new.ged", path("to-new.ged"));
  const std::string refusal = "; refusing to overwrite it\n";
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
  } cases[] = {
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
  };
  for (const Case& c : cases) {
    Outcome outcome = run(c.arguments);
    std::string shown = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(outcome.status, 2) << shown;
    EXPECT_EQ(outcome.error, c.error) << shown;
    EXPECT_EQ(read_file(path("in.ged")), kInput) << shown;
    EXPECT_EQ(read_file(path("out.ged")), "out") << shown;
    EXPECT_EQ(files(),
              (std::vector<std::string>{"hard.ged", "in.ged", "out.ged",
                                        "soft.ged", "to-new.ged"}))
        << shown;
  }
}

TEST_F(EndToEnd, WritesToDevices) {
  write_file(path("in.ged"), kInput);
  Outcome outcome = run({"in.ged", "/dev/null", "/dev/null"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.error, "");
}

// Real files from genealogy programs hold no place record: each must come
// through whole, with the trailer alone in the coordinates file.
TEST_F(EndToEnd, CopiesRealFilesWithoutPlaceRecordsByteForByte) {
  fs::path testdata = PLACEHARVEST_TESTDATA_DIR;
  if (!fs::is_directory(testdata)) GTEST_SKIP() << "no " << testdata;
  int tried = 0;
  for (const auto& entry : fs::recursive_directory_iterator(testdata)) {
    if (entry.path().extension() != ".ged") continue;
    Outcome outcome = run({entry.path().string(), "c.ged", "r.ged"});
    std::string name = entry.path().filename().string();
    EXPECT_EQ(outcome.status, 0) << name;
    EXPECT_EQ(outcome.error, "") << name;
    EXPECT_EQ(read_file(path("r.ged")), read_file(entry.path())) << name;
    std::string coordinates = read_file(path("c.ged"));
    EXPECT_TRUE(coordinates == "0 TLR\n" || coordinates == "0 TLR\r\n" ||
                coordinates == "0 TLR\r")
        << name << ": " << coordinates;
    ++tried;
  }
  EXPECT_GT(tried, 0);
}

}  // namespace
