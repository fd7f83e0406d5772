#include "output_opening.h"

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

#include "coordinates_block.h"
#include "diagnostics.h"
#include "text_encoding.h"

namespace placeharvest {
namespace {

// Enough of a file's start to tell a coordinates file and to show the user.
constexpr size_t kHeadShown = 24;

void refuse_as_input(const RunPaths& paths, const char* output) {
  report_error(output, std::string("is the input file ") + paths.input +
                           "; refusing to overwrite it");
}

// The first line of `head`, for a message.
std::string first_line_of(std::string_view head) {
  size_t end = head.find_first_of(std::string_view("\r\n\0", 3));
  std::string_view line = head.substr(0, end);
  if (end == std::string_view::npos) {
    // The head may have cut through a UTF-8 character: none is shown half.
    while (!line.empty() && (line.back() & 0xC0) == 0x80) line.remove_suffix(1);
    if (!line.empty() && (line.back() & 0x80) != 0) line.remove_suffix(1);
  }
  return std::string(line);
}

// A shell expands "PlaceHarvest *.ged" into three family trees before the
// program starts; the second one must not be taken for the coordinates
// file. Returns false, having said why, when it is no coordinates file.
bool check_coordinates_file(const RunPaths& paths, const InputFile& input,
                            FileStart* before) {
  bool readable = look_at_file(paths.coordinates, kHeadShown, before);
  if (same_file(before->identity, input.identity())) {
    refuse_as_input(paths, paths.coordinates);
    return false;
  }
  // A file it cannot read, it cannot judge: writing is then left to decide.
  std::string text = text_of_start(before->head);
  if (!readable || !before->identity.regular ||
      looks_like_coordinates_file(text)) {
    return true;
  }
  report_error(paths.coordinates, "is not a coordinates file (it begins \"" +
                                      first_line_of(text) +
                                      "\"); refusing to overwrite it");
  return false;
}

bool open_output(const char* path, OutputFile& output) {
  if (output.open(path)) return true;
  report_system_error(path, FileAction::kCreate, errno);
  return false;
}

// Checks the opened outputs; returns false, having said why, when they
// must not be written.
bool opened_outputs_are_safe(const RunPaths& paths, const InputFile& input,
                             const FileStart& checked,
                             const OutputFile& coordinates,
                             const OutputFile& cleaned) {
  FileIdentity coordinates_file = coordinates.identity();
  // The name may have come to name another file since it was looked at.
  bool as_checked = checked.identity.exists &&
                    checked.identity.volume == coordinates_file.volume &&
                    checked.identity.index == coordinates_file.index;
  if (!coordinates.created() && !as_checked) {
    report_error(paths.coordinates,
                 "changed while it was being opened; refusing to write to it");
    return false;
  }
  FileIdentity input_file = input.identity();
  if (same_file(coordinates_file, input_file)) {
    refuse_as_input(paths, paths.coordinates);
    return false;
  }
  if (same_file(cleaned.identity(), input_file)) {
    refuse_as_input(paths, paths.cleaned);
    return false;
  }
  if (same_file(cleaned.identity(), coordinates_file)) {
    report_error(paths.cleaned, std::string("is the coordinates file ") +
                                    paths.coordinates +
                                    " as well; refusing to write both into it");
    return false;
  }
  return true;
}

}  // namespace

bool open_outputs(const RunPaths& paths, const InputFile& input,
                  OutputFile& coordinates, OutputFile& cleaned) {
  FileStart checked;
  bool safe =
      check_coordinates_file(paths, input, &checked) &&
      open_output(paths.coordinates, coordinates) &&
      open_output(paths.cleaned, cleaned) &&
      opened_outputs_are_safe(paths, input, checked, coordinates, cleaned);
  if (safe) {
    for (auto [output, path] : {std::pair{&coordinates, paths.coordinates},
                                std::pair{&cleaned, paths.cleaned}}) {
      if (!output->empty()) {
        report_system_error(path, FileAction::kEmpty, errno);
        safe = false;
        break;
      }
    }
  }
  if (!safe) {
    cleaned.discard();
    coordinates.discard();
  }
  return safe;
}

}  // namespace placeharvest
