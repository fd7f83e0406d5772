// PlaceHarvest: moves the place records of a GEDCOM file into a coordinates
// file and writes the rest of the file, unchanged, into a cleaned copy.
//
//   PlaceHarvest [-h | -v] <input> <coordinates> <cleaned>
//
// Exit statuses are listed in diagnostics.h.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.h"
#include "file_io.h"
#include "place_filter.h"
#include "program_argument.h"
#ifdef _WIN32
#include "windows_arguments.h"
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
constexpr std::string_view kCoordinateTags = "MAP, LATI, LONG, ZOOM or PLEV";

void refuse_one_file_for_both_outputs(const char* coordinates_path,
                                      const char* cleaned_path) {
  report_error(cleaned_path, std::string("is the coordinates file ") +
                                 coordinates_path +
                                 " as well; refusing to write both into it");
}

// Opening an output empties it, so an output that is the input under another
// name would wipe the family tree before a byte of it is read. Returns false,
// having said why, when the operands must not be used together.
bool outputs_are_safe(const char* input_path, const FileIdentity& input,
                      const char* coordinates_path,
                      const FileIdentity& coordinates, const char* cleaned_path,
                      const FileIdentity& cleaned) {
  const struct {
    const char* path;
    const FileIdentity& identity;
  } outputs[] = {{coordinates_path, coordinates}, {cleaned_path, cleaned}};
  for (const auto& output : outputs) {
    if (same_regular_file(output.identity, input)) {
      report_error(output.path, std::string("is the input file ") + input_path +
                                    "; refusing to overwrite it");
      return false;
    }
  }
  if (same_regular_file(cleaned, coordinates)) {
    refuse_one_file_for_both_outputs(coordinates_path, cleaned_path);
    return false;
  }
  return true;
}

// Place-record lines that went into neither output are never dropped
// without a word.
void report_left_out_lines(const ExtractResult& result,
                           const char* input_path) {
  if (result.left_out_lines == 0) return;
  std::string line = std::to_string(result.first_left_out_line);
  if (result.left_out_lines == 1) {
    report_error(input_path, "left out 1 line of a place record that is not " +
                                 std::string(kCoordinateTags) + ": line " +
                                 line);
  } else {
    report_error(input_path, "left out " +
                                 std::to_string(result.left_out_lines) +
                                 " lines of place records that are not " +
                                 std::string(kCoordinateTags) +
                                 "; the first is line " + line);
  }
}

// Reports how the filter ended; returns false when it did not succeed.
bool report_extraction(const ExtractResult& result, const char* input_path,
                       const char* coordinates_path, const char* cleaned_path) {
  if (result.status == ExtractStatus::kComplete ||
      result.status == ExtractStatus::kCutShortRecord) {
    report_left_out_lines(result, input_path);
  }
  switch (result.status) {
    case ExtractStatus::kComplete:
      return true;
    case ExtractStatus::kCutShortRecord:
      report_error(input_path,
                   "the place record at line " +
                       std::to_string(result.cut_short_record_line) +
                       " is cut short by the end of the file");
      return false;
    case ExtractStatus::kReadFailed:
      report_system_error(input_path, FileAction::kRead, result.error_number);
      return false;
    case ExtractStatus::kCoordinatesWriteFailed:
      report_system_error(coordinates_path, FileAction::kWrite,
                          result.error_number);
      return false;
    case ExtractStatus::kCleanedWriteFailed:
      report_system_error(cleaned_path, FileAction::kWrite,
                          result.error_number);
      return false;
  }
  return false;
}

int run(const char* input_path, const char* coordinates_path,
        const char* cleaned_path) {
  InputFile input;
  if (!input.open(input_path)) {
    report_system_error(input_path, FileAction::kOpen, errno);
    return kExitFailure;
  }
  FileIdentity coordinates_before = identify_path(coordinates_path);
  if (!outputs_are_safe(input_path, input.identity(), coordinates_path,
                        coordinates_before, cleaned_path,
                        identify_path(cleaned_path))) {
    return kExitFailure;
  }

  OutputFile coordinates;
  if (!coordinates.create(coordinates_path)) {
    report_system_error(coordinates_path, FileAction::kCreate, errno);
    return kExitFailure;
  }
  // Two names of one file that did not exist yet show only now.
  if (same_regular_file(identify_path(cleaned_path), coordinates.identity())) {
    refuse_one_file_for_both_outputs(coordinates_path, cleaned_path);
    coordinates.close();
    if (!coordinates_before.exists) remove_file(coordinates_path);
    return kExitFailure;
  }
  OutputFile cleaned;
  if (!cleaned.create(cleaned_path)) {
    report_system_error(cleaned_path, FileAction::kCreate, errno);
    return kExitFailure;
  }

  bool succeeded =
      report_extraction(extract_places(input, coordinates, cleaned), input_path,
                        coordinates_path, cleaned_path);
  // Closing an output is its last write: on some file systems only the
  // close tells that the data did not fit.
  auto close_file = [&succeeded](auto& file, const char* path) {
    if (!file.close()) {
      report_system_error(path, FileAction::kClose, errno);
      succeeded = false;
    }
  };
  close_file(input, input_path);
  close_file(coordinates, coordinates_path);
  close_file(cleaned, cleaned_path);
  return succeeded ? kExitSuccess : kExitFailure;
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
  std::setlocale(LC_ALL, "");

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
  if (!outputs_are_named_in_full(operands[1], operands[2])) {
    return kExitFailure;
  }
  return run(operands[0].text.c_str(), operands[1].text.c_str(),
             operands[2].text.c_str());
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
  return placeharvest::run_command_line(placeharvest::windows_arguments());
}
#else
int main(int argc, char** argv) {
  std::vector<placeharvest::ProgramArgument> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back({argv[i], {}});
  return placeharvest::run_command_line(arguments);
}
#endif
