#include "windows_console.h"

#include <windows.h>

#include "diagnostics.h"

namespace placeharvest {

bool console_is_its_own() {
  DWORD mode = 0;
  DWORD processes[2];
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) &&
         GetConsoleProcessList(processes, 2) == 1;
}

void wait_before_the_window_closes() {
  write_to_standard_error(
      "\nPlaceHarvest is used from a Command Prompt (README.txt says how), "
      "or open PlaceHarvest.html beside it in your web browser.\n"
      "Press Enter to close this window.\n");
  HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return;
  // Keys pressed while the program ran do not count.
  FlushConsoleInputBuffer(input);
  wchar_t typed[64];
  DWORD count = 0;
  while (ReadConsoleW(input, typed, 64, &count, nullptr) && count > 0) {
    bool enter = false;
    for (DWORD i = 0; i < count; ++i) enter = enter || typed[i] == L'\r';
    if (enter) break;
  }
  CloseHandle(input);
}

}  // namespace placeharvest
