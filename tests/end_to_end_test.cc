// Runs the built PlaceHarvest in a fresh folder and checks the exact bytes of
// both outputs, standard error, standard output and the exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
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

// Big enough to be read and written in several blocks.
std::string big_input() {
  std::string records = kInput.substr(0, kInput.rfind("0 TRLR"));
  std::string text;
  for (int i = 0; i < 30000; ++i) text += records;
  return text + "0 TRLR\n";
}

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
  // system's error texts are the English ones, with `environment` added.
  // PLACEHARVEST_TEST_WRAPPER, if set, is a command to run it under
  // (valgrind, say).
  Outcome run(const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment = {}) const {
    std::vector<std::string> command;
    if (const char* wrapper = std::getenv("PLACEHARVEST_TEST_WRAPPER")) {
      std::istringstream words(wrapper);
      for (std::string word; words >> word;) command.push_back(word);
    }
    command.push_back(PLACEHARVEST_PROGRAM);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return spawn(command, environment);
  }

  // Runs a shell command in the folder; $PLACEHARVEST names the program.
  Outcome run_shell(const std::string& line,
                    const std::vector<std::string>& environment = {}) const {
    std::vector<std::string> with_program = environment;
    with_program.push_back("PLACEHARVEST="s + PLACEHARVEST_PROGRAM);
    return spawn({"/bin/sh", "-c", line}, with_program);
  }

  Outcome spawn(const std::vector<std::string>& command,
                const std::vector<std::string>& environment) const {
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
      for (const std::string& setting : environment) {
        putenv(const_cast<char*>(setting.c_str()));
      }
      std::vector<char*> argv;
      for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
      }
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
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

// Every failure of a system call below the program is reported with status
// 2, and the input stays as it was. A library loaded into the program makes
// the chosen call fail (see fault_injection.cc).
TEST_F(EndToEnd, ReportsEveryFailureBelowItAndLeavesTheInputAlone) {
#ifndef PLACEHARVEST_FAULT_LIBRARY
  GTEST_SKIP() << "fault injection needs a build without sanitizers";
#else
  if (std::getenv("PLACEHARVEST_TEST_WRAPPER") != nullptr) {
    GTEST_SKIP() << "fault injection does not work under a wrapper";
  }
  const std::string input = big_input();
  write_file(path("big.ged"), input);
  const std::string no_space = ": No space left on device\n";
  const std::string input_output = ": Input/output error\n";
  const std::string piped =
      "cat big.ged | \"$PLACEHARVEST\" /dev/stdin c.ged r.ged";
  struct Case {
    std::string fault;
    std::string error;
    std::string shell_command;
  } cases[] = {
      {"c.ged:write:1", "PlaceHarvest: c.ged" + no_space, ""},
      {"c.ged:write:3", "PlaceHarvest: c.ged" + no_space, ""},
      {"c.ged:close:1", "PlaceHarvest: c.ged" + input_output, ""},
      {"r.ged:write:1", "PlaceHarvest: r.ged" + no_space, ""},
      {"r.ged:write:3", "PlaceHarvest: r.ged" + no_space, ""},
      {"r.ged:close:1", "PlaceHarvest: r.ged" + input_output, ""},
      {"big.ged:close:1", "PlaceHarvest: big.ged" + input_output, ""},
      {"big.ged:view:1", "PlaceHarvest: big.ged" + input_output, ""},
      {"big.ged:view:3", "PlaceHarvest: big.ged" + input_output, ""},
      {"big.ged:shrink:2",
       "PlaceHarvest: big.ged: the file shrank or could not be read while "
       "it was being read\n",
       ""},
      {"/dev/stdin:read:3", "PlaceHarvest: /dev/stdin" + input_output, piped},
  };
  for (const Case& c : cases) {
    std::vector<std::string> environment = {
        "LD_PRELOAD="s + PLACEHARVEST_FAULT_LIBRARY,
        "PLACEHARVEST_FAULT=" + c.fault};
    Outcome outcome = c.shell_command.empty()
                          ? run({"big.ged", "c.ged", "r.ged"}, environment)
                          : run_shell(c.shell_command, environment);
    EXPECT_EQ(outcome.status, 2) << c.fault;
    EXPECT_EQ(outcome.error, c.error) << c.fault;
    EXPECT_EQ(read_file(path("big.ged")), input) << c.fault;
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
  EXPECT_EQ(outcome.error,
            "PlaceHarvest: small/c.ged: No space left on device\n");
  outcome = run({"big.ged", "c.ged", "small/r.ged"});
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.error,
            "PlaceHarvest: small/r.ged: No space left on device\n");
  EXPECT_EQ(read_file(path("big.ged")), input);
}

// Like any Unix filter, the program ends at once and silently, killed by
// SIGPIPE, when the reader of an output pipe stops early.
TEST_F(EndToEnd, StopsQuietlyWhenThePipeItWritesToCloses) {
  write_file(path("big.ged"), big_input());
  Outcome outcome = run_shell(
      "(\"$PLACEHARVEST\" big.ged /dev/stdout r.ged; echo $? > status) | "
      "head -c 10 > /dev/null");
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(read_file(path("status")), "141\n");
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
