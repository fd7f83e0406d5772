#include "diagnostics.h"

#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "windows_text.h"
#endif

namespace placeharvest {
namespace {

constexpr std::string_view kProgramName = "PlaceHarvest";

std::string error_line(std::string_view file, std::string_view reason) {
  std::string line;
  line.append(kProgramName).append(": ").append(file).append(": ");
  line.append(reason).append("\n");
  return line;
}

}  // namespace

void write_to_standard_error(std::string_view text) {
#ifdef _WIN32
  // A console shows bytes in its own code page; UTF-16 reaches it whole.
  HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode)) {
    std::wstring wide = utf16_from_utf8(text);
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()),
                  &written, nullptr);
    return;
  }
#endif
  // Nothing is left to tell the user if standard error itself fails.
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void report_error(std::string_view file, std::string_view reason) {
  // One write, so that the line is not torn by other output.
  write_to_standard_error(error_line(file, reason));
}

void report_failure(std::string_view file, FileAction action,
                    std::string_view reason) {
  // In the order of FileAction.
  constexpr std::string_view kActions[] = {"open", "create", "empty",
                                           "read", "write",  "close"};
  std::string text = "cannot ";
  text.append(kActions[static_cast<size_t>(action)]).append(": ");
  report_error(file, text.append(reason));
}

void report_system_error(std::string_view file, FileAction action,
                         int error_number) {
  report_failure(file, action, std::strerror(error_number));
}

}  // namespace placeharvest
