#include "diagnostics.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace placeharvest {
namespace {

constexpr std::string_view kProgramName = "PlaceHarvest";

}  // namespace

void write_to_standard_error(std::string_view text) {
  // Nothing is left to tell the user if standard error itself fails.
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

std::string error_line(std::string_view file, std::string_view reason) {
  std::string line;
  line.append(kProgramName).append(": ").append(file).append(": ");
  line.append(reason).append("\n");
  return line;
}

void report_error(std::string_view file, std::string_view reason) {
  // One write, so that the line is not torn by other output.
  write_to_standard_error(error_line(file, reason));
}

void report_system_error(std::string_view file, int error_number) {
  report_error(file, std::strerror(error_number));
}

}  // namespace placeharvest
