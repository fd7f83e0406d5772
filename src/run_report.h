// What the program tells its user about a finished run of the filter.
#ifndef PLACEHARVEST_RUN_REPORT_H_
#define PLACEHARVEST_RUN_REPORT_H_

#include "place_filter.h"
#include "run_paths.h"

namespace placeharvest {

// Reports on standard error how the filter ended: after a run that went
// through (whole, or cut short), the lines it left out, then the place
// lines whose records it took by position, then a cut-short record; after
// a failure only the failure. Returns false when the run did not succeed.
bool report_extraction(const ExtractResult& result, const RunPaths& paths);

// Says that memory ran out while `input` was split, wherever that is found
// (inside the filter, around it, or by the page's engine).
void report_out_of_memory(const char* input);

}  // namespace placeharvest

#endif  // PLACEHARVEST_RUN_REPORT_H_
