// Runs the built PlaceHarvest in a fresh folder, on Linux and on Windows
// (under wine), and hands back standard error, standard output and the exit
// status, for tests that check them and both outputs byte for byte.
#ifndef PLACEHARVEST_TESTS_END_TO_END_H_
#define PLACEHARVEST_TESTS_END_TO_END_H_

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace placeharvest_test {

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

// Standard error is a text stream: on Windows each line ends in CR LF.
inline std::string message(std::string text) {
#ifdef _WIN32
  for (size_t at = text.find('\n'); at != std::string::npos;
       at = text.find('\n', at + 2)) {
    text.insert(at, 1, '\r');
  }
#endif
  return text;
}

// Big enough to be read and written in several blocks.
inline std::string big_input() {
  std::string records = kInput.substr(0, kInput.rfind("0 TRLR"));
  std::string text;
  for (int i = 0; i < 30000; ++i) text += records;
  return text + "0 TRLR\n";
}

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const fs::path& path, const std::string& text) {
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
    std::random_device random;
    do {
      folder_ = fs::temp_directory_path() /
                ("placeharvest-" + std::to_string(random()));
    } while (!fs::create_directory(folder_));
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path path(const std::string& name) const {
    return folder_ / fs::u8path(name);
  }

  // The names in the folder.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // What the folder holds: each file's name and bytes, and where each
  // symbolic link points.
  std::vector<std::pair<std::string, std::string>> snapshot() const {
    std::vector<std::pair<std::string, std::string>> contents;
    for (const std::string& name : files()) {
      fs::path file = path(name);
      contents.emplace_back(name, fs::is_symlink(file)
                                      ? "-> " + fs::read_symlink(file).string()
                                  : fs::is_directory(file) ? "(folder)"
                                                           : read_file(file));
    }
    return contents;
  }

  struct Refusal {
    std::vector<std::string> arguments;
    std::string error;
  };

  // Each run must be refused with status 2 and its message, and leave every
  // file in the folder as it was.
  void expect_refusals(const std::vector<Refusal>& refusals) const {
    const auto before = snapshot();
    for (const Refusal& refusal : refusals) {
      Outcome outcome = run(refusal.arguments);
      std::string shown = ::testing::PrintToString(refusal.arguments);
      EXPECT_EQ(outcome.status, 2) << shown;
      EXPECT_EQ(outcome.error, message(refusal.error)) << shown;
      EXPECT_EQ(snapshot(), before) << shown;
    }
  }

  // Runs the program inside the folder with `arguments`. On Linux it runs
  // in the C locale, so that the system's error texts are the English
  // ones, with `environment` added; PLACEHARVEST_TEST_WRAPPER, if set, is a
  // command to run it under (valgrind, say).
  Outcome run(const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment = {}) const {
#ifdef _WIN32
    (void)environment;
    std::string line;
    for (const std::string& argument : arguments) {
      bool quote = argument.empty() ||
                   argument.find_first_of(" \t") != std::string::npos;
      line += quote ? " \"" + argument + "\"" : " " + argument;
    }
    return run_command_line(line);
#else
    std::vector<std::string> command;
    if (const char* wrapper = std::getenv("PLACEHARVEST_TEST_WRAPPER")) {
      std::istringstream words(wrapper);
      for (std::string word; words >> word;) command.push_back(word);
    }
    command.push_back(PLACEHARVEST_PROGRAM);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return spawn(command, environment);
#endif
  }

#ifdef _WIN32
  // Runs the program with `arguments` as the rest of its command line,
  // exactly as written (a console user's quotes and wildcards included).
  Outcome run_command_line(const std::string& arguments) const {
    return run_command_line(fs::u8path(arguments).wstring());
  }
  // The same with UTF-16 arguments, which may hold what UTF-8 cannot.
  Outcome run_command_line(const std::wstring& arguments) const {
    fs::path error = folder_ / ".stderr";
    fs::path output = folder_ / ".stdout";
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    auto create = [&](const fs::path& name) {
      return CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                         &inherited, CREATE_ALWAYS, 0, nullptr);
    };
    HANDLE error_file = create(error);
    HANDLE output_file = create(output);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = output_file;
    startup.hStdError = error_file;
    PROCESS_INFORMATION process{};
    fs::path program = fs::u8path(PLACEHARVEST_PROGRAM);
    std::wstring line = L"\"" + program.wstring() + L"\"" + arguments;
    DWORD status = 127;
    // Under wine, starting a process now and then fails for a moment; the
    // program itself has not run then, so trying again is safe.
    bool started = false;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
      if (attempt > 0) Sleep(200);
      started =
          CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                         0, nullptr, folder_.c_str(), &startup, &process);
    }
    if (started) {
      WaitForSingleObject(process.hProcess, INFINITE);
      GetExitCodeProcess(process.hProcess, &status);
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    } else {
      ADD_FAILURE() << "cannot start the program: error " << GetLastError();
    }
    CloseHandle(error_file);
    CloseHandle(output_file);
    Outcome outcome{static_cast<int>(status), read_file(error),
                    read_file(output)};
    fs::remove(error);
    fs::remove(output);
    return outcome;
  }
#else
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
#endif

  fs::path folder_;
};

}  // namespace placeharvest_test

#endif  // PLACEHARVEST_TESTS_END_TO_END_H_
