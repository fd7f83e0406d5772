// Opening the two outputs of a run so that nothing the user has is lost:
// each is opened without being emptied, the opened files themselves are
// compared with the input and with each other, and only then are both
// emptied.
#ifndef PLACEHARVEST_OUTPUT_OPENING_H_
#define PLACEHARVEST_OUTPUT_OPENING_H_

#include "file_io.h"

namespace placeharvest {

struct RunPaths {
  const char* input;
  const char* coordinates;
  const char* cleaned;
};

// Opens and empties both outputs, given the open input. Refuses, with a
// message, an output that is the input, one file for both outputs, and an
// existing coordinates file that is not one (a family tree that a shell's
// wildcard put in its place). Returns false, having said why, when the run
// must not go on; then no file that existed before has changed, and files
// this call created are gone again.
bool open_outputs(const RunPaths& paths, const InputFile& input,
                  OutputFile& coordinates, OutputFile& cleaned);

}  // namespace placeharvest

#endif  // PLACEHARVEST_OUTPUT_OPENING_H_
