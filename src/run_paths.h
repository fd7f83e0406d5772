// The names of a run's three files, as the user gave them: what messages
// call the files.
#ifndef PLACEHARVEST_RUN_PATHS_H_
#define PLACEHARVEST_RUN_PATHS_H_

namespace placeharvest {

struct RunPaths {
  const char* input;
  const char* coordinates;
  const char* cleaned;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_RUN_PATHS_H_
