// How the program tells its user what went wrong, and how it ends.
#ifndef PLACEHARVEST_DIAGNOSTICS_H_
#define PLACEHARVEST_DIAGNOSTICS_H_

#include <string>
#include <string_view>

namespace placeharvest {

// The process's exit statuses; the README lists them for users.
enum ExitStatus : int {
  kExitSuccess = 0,  // the run reached its end, or a message was asked for
  kExitUsage = 1,    // not exactly three operands; the usage message was shown
  kExitFailure = 2,  // a file could not be used or was refused, memory ran
                     // out, the input changed while it was read, or it
                     // ended inside a place record; the message says which
                     // file and why
};

// Writes "PlaceHarvest: <file>: <reason>" as one line to standard error.
// Whatever the line holds is shown as plain text: control characters, DEL,
// C1 controls, marks that reorder text and bytes that are not UTF-8 are
// escaped ("\033", "\n", "\u202E", "\x80"), so that no name or file
// content can act on a terminal or begin a line of its own.
void report_error(std::string_view file, std::string_view reason);

// What the program was doing with a file when the system refused.
// (diagnostics.cc names them in this order.)
enum class FileAction {
  kOpen,
  kCreate,
  kEmpty,
  kRead,
  kWrite,
  kClose,
  kCheck,  // reading an existing coordinates file to tell what it is
};

// The same, with the action and the system's text for `error_number` as the
// reason: "PlaceHarvest: <file>: cannot <action>: <system's text>".
void report_system_error(std::string_view file, FileAction action,
                         int error_number);
// The same with a reason of the program's own:
// "PlaceHarvest: <file>: cannot <action>: <reason>".
void report_failure(std::string_view file, FileAction action,
                    std::string_view reason);

// Writes `text` to standard error as it stands.
void write_to_standard_error(std::string_view text);

}  // namespace placeharvest

#endif  // PLACEHARVEST_DIAGNOSTICS_H_
