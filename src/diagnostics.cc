#include "diagnostics.h"

#include <clocale>
#include <cstdint>
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

// The length of the UTF-8 sequence that begins `text`, or 0 when it is not
// a whole, shortest-form sequence of a character other than a surrogate.
size_t utf8_sequence_length(std::string_view text) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(0);
  size_t length = lead < 0xC2   ? 0
                  : lead < 0xE0 ? 2
                  : lead < 0xF0 ? 3
                  : lead < 0xF5 ? 4
                                : 0;
  if (length == 0 || text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates, and code points beyond U+10FFFF.
  if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0) ||
      (lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90)) {
    return 0;
  }
  return length;
}

// True for a character that a terminal may act on, or that does not show:
// the C1 controls, marks that reorder text, and characters of no width (a
// byte-order mark among them).
bool is_hidden_control(uint32_t code_point) {
  return (code_point >= 0x80 && code_point <= 0x9F) ||
         (code_point >= 0x200B && code_point <= 0x200F) ||
         (code_point >= 0x202A && code_point <= 0x202E) ||
         code_point == 0xFEFF || (code_point >= 0x2066 && code_point <= 0x2069);
}

uint32_t decode(std::string_view sequence) {
  static constexpr unsigned char kLeadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
  uint32_t code_point =
      static_cast<unsigned char>(sequence[0]) & kLeadBits[sequence.size()];
  for (size_t i = 1; i < sequence.size(); ++i) {
    code_point =
        code_point << 6 | (static_cast<unsigned char>(sequence[i]) & 0x3F);
  }
  return code_point;
}

// Names and file contents come from anywhere: shown raw, an ESC sequence
// would act on the user's terminal and a line feed would forge a message.
// Printable text, non-ASCII letters included, stays as it is.
std::string shown_plainly(std::string_view text) {
  std::string shown;
  char escaped[16];
  while (!text.empty()) {
    unsigned char c = static_cast<unsigned char>(text[0]);
    size_t length = c < 0x80 ? 1 : utf8_sequence_length(text);
    if (c == '\n' || c == '\r' || c == '\t') {
      shown.append(c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t");
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\%03o", c);
      shown.append(escaped);
    } else if (length == 0) {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown.append(escaped);
      length = 1;
    } else if (length > 1 &&
               is_hidden_control(decode(text.substr(0, length)))) {
      std::snprintf(escaped, sizeof escaped, "\\u%04X",
                    static_cast<unsigned>(decode(text.substr(0, length))));
      shown.append(escaped);
    } else {
      shown.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return shown;
}

std::string error_line(std::string_view file, std::string_view reason) {
  std::string line;
  line.append(kProgramName).append(": ").append(file).append(": ");
  line.append(reason);
  // The program's own texts are plain already; what else a message holds
  // (names, a file's start, the system's text) is made so.
  return shown_plainly(line).append("\n");
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
  constexpr std::string_view kActions[] = {
      "open",
      "create",
      "empty",
      "read",
      "write",
      "close",
      "be read to check that it is a coordinates file"};
  std::string text = "cannot ";
  text.append(kActions[static_cast<size_t>(action)]).append(": ");
  report_error(file, text.append(reason));
}

void report_system_error(std::string_view file, FileAction action,
                         int error_number) {
  // The user's locale changes nothing but the language of the system's
  // error texts, so it is adopted only when the first one is needed: a run
  // that has none to show does not read the locale's files.
  static const bool locale_adopted = std::setlocale(LC_ALL, "") != nullptr;
  (void)locale_adopted;
  report_failure(file, action, std::strerror(error_number));
}

}  // namespace placeharvest
