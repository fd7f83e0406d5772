// PlaceHarvest: moves the place records of a GEDCOM file into a coordinates
// file and writes the rest of the file, unchanged, into a cleaned copy.
//
//   PlaceHarvest [-h | -v] <input> <coordinates> <cleaned>
//
// Exit statuses are listed in diagnostics.h.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.h"
#include "file_io.h"
#include "output_opening.h"
#include "place_filter.h"
#include "program_argument.h"
#include "run_report.h"
#ifdef _WIN32
#include "windows_arguments.h"
#include "windows_console.h"
#endif

namespace placeharvest {
namespace {

constexpr std::string_view kUsageMessage =
    "\nusage: PlaceHarvest <infil> <UtKoordinater> <UtRensadGedFil>\n\n";
constexpr std::string_view kVersionMessage =
    "\nv1.1 - 181226.1121/181230.2305qh\n\n";
// The build names the version (CMake's project version); the message must
// carry the same one.
#ifndef PLACEHARVEST_VERSION
#error "the build must define PLACEHARVEST_VERSION"
#endif
constexpr std::string_view kVersion = PLACEHARVEST_VERSION;
static_assert(kVersionMessage.substr(0, 2) == "\nv" &&
                  kVersionMessage.substr(2, kVersion.size()) == kVersion &&
                  kVersionMessage.substr(2 + kVersion.size(), 1) == " ",
              "the version message does not match the project version");
// The trailer is the coordinates file's promise that it is whole: it is
// written only once everything else has reached the file system, and taken
// back when the file system reports a failure after it.
int run_on_open_files(const RunPaths& paths, InputFile& input,
                      OutputFile& coordinates, OutputFile& cleaned) {
  uint64_t before_trailer = 0;
  RunCheckpoints checkpoints;
  checkpoints.before_writing = [&] {
    return empty_outputs(paths, coordinates, cleaned);
  };
  checkpoints.before_trailer = [&] {
    if (!cleaned.settle()) {
      report_system_error(paths.cleaned, FileAction::kClose, errno);
      return false;
    }
    if (!input.read_as_opened()) {
      report_error(paths.input, "changed while it was being read");
      return false;
    }
    before_trailer = coordinates.size_written();
    return true;
  };
  ExtractResult result = extract_places(
      input, coordinates, cleaned,
      block_size_for(input.identity_when_opened().size), checkpoints);
  bool succeeded = report_extraction(result, paths);
  bool has_trailer = result.status == ExtractStatus::kComplete ||
                     result.status == ExtractStatus::kCutShortRecord;
  if (has_trailer && !coordinates.settle()) {
    report_system_error(paths.coordinates, FileAction::kClose, errno);
    coordinates.cut_to(before_trailer);
    succeeded = false;
  }
  auto close_file = [&succeeded](auto& file, const char* path) {
    if (!file.close()) {
      report_system_error(path, FileAction::kClose, errno);
      succeeded = false;
    }
  };
  close_file(input, paths.input);
  close_file(cleaned, paths.cleaned);
  close_file(coordinates, paths.coordinates);
  return succeeded ? kExitSuccess : kExitFailure;
}

int run(const RunPaths& paths) {
  try {
    InputFile input;
    if (!input.open(paths.input)) {
      report_system_error(paths.input, FileAction::kOpen, errno);
      return kExitFailure;
    }
    OutputFile coordinates;
    OutputFile cleaned;
    if (!open_outputs(paths, input, coordinates, cleaned)) return kExitFailure;
    return run_on_open_files(paths, input, coordinates, cleaned);
  } catch (const std::bad_alloc&) {
    // Outputs that were not emptied yet are discarded on the way out.
    report_out_of_memory(paths.input);
    return kExitFailure;
  }
}

// A wildcard can stand for family trees as easily as for new files:
// "PlaceHarvest *.ged" in a folder of three trees would empty two of them.
// Only the input may come from one. Returns false, having said why, when an
// output did.
bool outputs_are_named_in_full(const ProgramArgument& coordinates,
                               const ProgramArgument& cleaned) {
  for (const ProgramArgument* output : {&coordinates, &cleaned}) {
    if (!output->pattern.empty()) {
      report_error(output->text, "came from the wildcard " + output->pattern +
                                     "; refusing to write to it (name each "
                                     "output in full)");
      return false;
    }
  }
  return true;
}

int run_command_line(const std::vector<ProgramArgument>& arguments) {
  prepare_process();

  // Options stand in front of the operands, as dash-led clusters of letters;
  // the first h or v decides, other letters are passed over. A lone dash is
  // an operand.
  size_t first_operand = 1;
  for (; first_operand < arguments.size(); ++first_operand) {
    const std::string& argument = arguments[first_operand].text;
    if (argument.size() < 2 || argument[0] != '-') break;
    for (char letter : std::string_view(argument).substr(1)) {
      if (letter == 'h' || letter == 'H') {
        write_to_standard_error(kUsageMessage);
        return kExitSuccess;
      }
      if (letter == 'v' || letter == 'V') {
        write_to_standard_error(kVersionMessage);
        return kExitSuccess;
      }
    }
  }
  if (arguments.size() - first_operand != 3) {
    write_to_standard_error(kUsageMessage);
    return kExitUsage;
  }
  const ProgramArgument* operands = &arguments[first_operand];
  if (operands[0].matched_no_file) {
    report_error(operands[0].text, "no file matches this pattern");
    return kExitFailure;
  }
  if (!outputs_are_named_in_full(operands[1], operands[2])) {
    return kExitFailure;
  }
  return run({operands[0].text.c_str(), operands[1].text.c_str(),
              operands[2].text.c_str()});
}

}  // namespace
}  // namespace placeharvest

#ifdef _WIN32
// The arguments come from the command line itself, in UTF-16 so that any
// file name survives, with wildcards expanded by windows_arguments(); the C
// runtime's own expansion is turned off.
extern "C" {
int _dowildcard = 0;
}

int wmain() {
  bool double_clicked = placeharvest::console_is_its_own();
  int status =
      placeharvest::run_command_line(placeharvest::windows_arguments());
  if (double_clicked) placeharvest::wait_before_the_window_closes();
  return status;
}
#else
int main(int argc, char** argv) {
  std::vector<placeharvest::ProgramArgument> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back({argv[i], {}});
  return placeharvest::run_command_line(arguments);
}
#endif
