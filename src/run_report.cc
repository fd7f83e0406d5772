#include "run_report.h"

#include <string>
#include <string_view>

#include "coordinate_tags.h"
#include "diagnostics.h"

namespace placeharvest {
namespace {

// "MAP, LATI, LONG, ZOOM or PLEV"
std::string coordinate_tag_list() {
  std::string list(kMapTag);
  for (size_t i = 0; i < kCoordinateValues; ++i) {
    list.append(i + 1 == kCoordinateValues ? " or " : ", ");
    list.append(kCoordinateTags[i].tag);
  }
  return list;
}
constexpr std::string_view kMarkerQuoted = "\"0 _PLAC \"";

// Place-record lines that went into neither output are never dropped
// without a word.
void report_left_out_lines(const ExtractResult& result, const char* input) {
  if (result.left_out_lines == 0) return;
  std::string line = std::to_string(result.first_left_out_line);
  if (result.left_out_lines == 1) {
    report_error(input, "left out 1 line of a place record that is not " +
                            coordinate_tag_list() + ": line " + line);
  } else {
    report_error(input, "left out " + std::to_string(result.left_out_lines) +
                            " lines of place records that are not " +
                            coordinate_tag_list() + "; the first is line " +
                            line);
  }
}

// Lines taken by position can be any lines of the tree: a note that
// mentions the marker moves the next five lines of a person.
void report_positional_records(const ExtractResult& result, const char* input) {
  if (result.positional_place_lines == 0) return;
  std::string line = std::to_string(result.first_positional_place_line);
  if (result.positional_place_lines == 1) {
    report_error(input, "took 1 place line that does not begin a line with " +
                            std::string(kMarkerQuoted) +
                            " and the lines after it by position: line " +
                            line);
  } else {
    report_error(input,
                 "took " + std::to_string(result.positional_place_lines) +
                     " place lines that do not begin a line with " +
                     std::string(kMarkerQuoted) +
                     " and the lines after them by position; the first is "
                     "line " +
                     line);
  }
}

}  // namespace

void report_out_of_memory(const char* input) {
  report_failure(input, FileAction::kRead, "out of memory");
}

bool report_extraction(const ExtractResult& result, const RunPaths& paths) {
  if (result.status == ExtractStatus::kComplete ||
      result.status == ExtractStatus::kCutShortRecord) {
    report_left_out_lines(result, paths.input);
    report_positional_records(result, paths.input);
  }
  switch (result.status) {
    case ExtractStatus::kComplete:
      return true;
    case ExtractStatus::kCutShortRecord:
      report_error(paths.input,
                   "the place record at line " +
                       std::to_string(result.cut_short_record_line) +
                       " is cut short by the end of the file");
      return false;
    case ExtractStatus::kReadFailed:
      report_system_error(paths.input, FileAction::kRead, result.error_number);
      return false;
    case ExtractStatus::kOutOfMemory:
      report_out_of_memory(paths.input);
      return false;
    case ExtractStatus::kCoordinatesWriteFailed:
      report_system_error(paths.coordinates, FileAction::kWrite,
                          result.error_number);
      return false;
    case ExtractStatus::kCleanedWriteFailed:
      report_system_error(paths.cleaned, FileAction::kWrite,
                          result.error_number);
      return false;
    case ExtractStatus::kStopped:  // the checkpoint said why
      return false;
  }
  return false;
}

}  // namespace placeharvest
