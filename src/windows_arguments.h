// A Windows program gets one command line, not a list of arguments. This
// splits it as the C runtime does and expands wildcards as the runtime's
// start-up can: an argument that holds an unquoted "*" or "?" becomes the
// names of the files it matches, in ascending order without regard to case.
// A wildcard inside double quotes is an ordinary character, "[" always is,
// and a pattern that matches no file is kept as it stands. Before a double
// quote, 2n backslashes become n and the quote opens or closes quoting;
// 2n+1 backslashes become n and a literal quote. Inside quotes, two double
// quotes are one literal quote. The program's name ends at the first blank
// outside quotes, and backslashes in it are ordinary characters.
#ifndef PLACEHARVEST_WINDOWS_ARGUMENTS_H_
#define PLACEHARVEST_WINDOWS_ARGUMENTS_H_

#include <vector>

#include "program_argument.h"

namespace placeharvest {

// This process's arguments, its name first.
std::vector<ProgramArgument> windows_arguments();

}  // namespace placeharvest

#endif  // PLACEHARVEST_WINDOWS_ARGUMENTS_H_
