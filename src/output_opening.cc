#include "output_opening.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "coordinates_block.h"
#include "diagnostics.h"

namespace placeharvest {
namespace {

void refuse_as_input(const RunPaths& paths, const char* output) {
  report_error(output, std::string("is the input file ") + paths.input +
                           "; refusing to overwrite it");
}

// A shell expands "PlaceHarvest *.ged" into three family trees before the
// program starts; the second one must not be taken for the coordinates
// file. Returns false, having said why, when it is no coordinates file or
// it cannot be told.
bool check_coordinates_file(const RunPaths& paths, const InputFile& input,
                            FileStart* before) {
  bool readable = look_at_file(paths.coordinates, kRecognisedFrom, before);
  if (same_file(before->identity, input.identity())) {
    refuse_as_input(paths, paths.coordinates);
    return false;
  }
  if (!readable) {
    report_failure(
        paths.coordinates, FileAction::kCheck,
        std::string(std::strerror(errno)) + "; refusing to overwrite it");
    return false;
  }
  if (!before->identity.regular) return true;
  RecognisedFile recognised = recognise_file(before->head);
  if (recognised.is_coordinates_file) return true;
  report_error(paths.coordinates, "is not a coordinates file (it begins \"" +
                                      recognised.first_line +
                                      "\"); refusing to overwrite it");
  return false;
}

bool open_output(const char* path, OutputFile& output) {
  if (output.open(path)) return true;
  report_system_error(path, FileAction::kCreate, errno);
  return false;
}

// Two mounts of one file system (a FUSE pass-through, one NFS export
// mounted twice) show one file under two identities. An output with the
// input's size, modification time to the system's finest unit, and first
// bytes is taken for the input; a copy made earlier, or an earlier output,
// has a modification time of its own. What cannot be read to tell, or is
// no longer the file that was opened, is taken for the input too.
bool may_be_input_elsewhere(const RunPaths& paths, const char* output_path,
                            const FileIdentity& output,
                            const InputFile& input) {
  constexpr size_t kCompared = 4096;
  FileIdentity input_file = input.identity();
  if (!output.regular || !input_file.regular || output.size == 0 ||
      output.size != input_file.size ||
      output.modified != input_file.modified) {
    return false;
  }
  FileStart output_start;
  FileStart input_start;
  return !look_at_file(output_path, kCompared, &output_start) ||
         !look_at_file(paths.input, kCompared, &input_start) ||
         !same_file(output_start.identity, output) ||
         !same_file(input_start.identity, input_file) ||
         output_start.head == input_start.head;
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
  FileIdentity standard_error = standard_error_identity();
  for (auto [output, path] : {std::pair{coordinates_file, paths.coordinates},
                              std::pair{cleaned.identity(), paths.cleaned}}) {
    if (same_file(output, input_file) ||
        may_be_input_elsewhere(paths, path, output, input)) {
      refuse_as_input(paths, path);
      return false;
    }
    // Messages written there would land on the output's own bytes.
    if (same_file(output, standard_error)) {
      report_error(path,
                   "is standard error as well, where messages go; refusing "
                   "to write to it");
      return false;
    }
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
  if (check_coordinates_file(paths, input, &checked) &&
      open_output(paths.coordinates, coordinates) &&
      open_output(paths.cleaned, cleaned) &&
      opened_outputs_are_safe(paths, input, checked, coordinates, cleaned)) {
    return true;
  }
  cleaned.discard();
  coordinates.discard();
  return false;
}

bool empty_outputs(const RunPaths& paths, OutputFile& coordinates,
                   OutputFile& cleaned) {
  const std::pair<OutputFile*, const char*> outputs[] = {
      {&coordinates, paths.coordinates}, {&cleaned, paths.cleaned}};
  bool emptied = true;
  for (auto [output, path] : outputs) {
    if (!output->can_empty()) {
      report_system_error(path, FileAction::kEmpty, errno);
      emptied = false;
      break;
    }
  }
  for (auto [output, path] : outputs) {
    if (emptied && !output->empty()) {
      report_system_error(path, FileAction::kEmpty, errno);
      emptied = false;
    }
  }
  if (!emptied) {
    cleaned.discard();
    coordinates.discard();
  }
  return emptied;
}

}  // namespace placeharvest
