// Opening the two outputs of a run so that nothing the user has is lost:
// each is opened without being emptied, the opened files themselves are
// compared with the input, with each other and with standard error, and
// only once the run is ready to write are both emptied.
#ifndef PLACEHARVEST_OUTPUT_OPENING_H_
#define PLACEHARVEST_OUTPUT_OPENING_H_

#include "file_io.h"
#include "run_paths.h"

namespace placeharvest {

// Opens both outputs, given the open input, without changing them. Refuses,
// with a message, an output that is the input (by its identity, or, where
// two mounts show one file under two identities, by its size, modification
// time and first bytes), one file for both outputs, an output that is
// standard error, and an existing coordinates file that is not one or
// cannot be read to tell (a family tree that a shell's wildcard put in its
// place). Returns false, having said why, when the run must not go on;
// then no file that existed before has changed, and files this call created
// are gone again.
bool open_outputs(const RunPaths& paths, const InputFile& input,
                  OutputFile& coordinates, OutputFile& cleaned);

// Empties both outputs. Each is first tried for whether it can be emptied,
// so that when one cannot, the other keeps what it held. Returns false,
// having said why, when either cannot; files the run created are then gone
// again.
bool empty_outputs(const RunPaths& paths, OutputFile& coordinates,
                   OutputFile& cleaned);

}  // namespace placeharvest

#endif  // PLACEHARVEST_OUTPUT_OPENING_H_
