// One argument of the program's command line, as main() receives it.
#ifndef PLACEHARVEST_PROGRAM_ARGUMENT_H_
#define PLACEHARVEST_PROGRAM_ARGUMENT_H_

#include <string>

namespace placeharvest {

struct ProgramArgument {
  std::string text;  // UTF-8 on Windows; the system's bytes elsewhere
  // On Windows the program expands wildcards itself (windows_arguments.h):
  // the wildcard, as typed, whose expansion gave this argument. Empty for
  // an argument typed as it stands, and on systems whose shell expands
  // wildcards before the program starts.
  std::string pattern;
  // True for a wildcard that matched no file, passed on as typed.
  bool matched_no_file = false;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_PROGRAM_ARGUMENT_H_
