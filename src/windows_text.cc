#include "windows_text.h"

#include <windows.h>

namespace placeharvest {

std::wstring utf16_from_utf8(std::string_view text) {
  if (text.empty()) return {};
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                 static_cast<int>(text.size()), nullptr, 0);
  std::wstring converted(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      converted.data(), size);
  return converted;
}

std::string utf8_from_utf16(std::wstring_view text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                 static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string converted(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      converted.data(), size, nullptr, nullptr);
  return converted;
}

}  // namespace placeharvest
