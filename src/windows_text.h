// Conversions between the program's UTF-8 text and the UTF-16 of the
// Windows API.
#ifndef PLACEHARVEST_WINDOWS_TEXT_H_
#define PLACEHARVEST_WINDOWS_TEXT_H_

#include <string>
#include <string_view>

namespace placeharvest {

std::wstring utf16_from_utf8(std::string_view text);
std::string utf8_from_utf16(std::wstring_view text);

}  // namespace placeharvest

#endif  // PLACEHARVEST_WINDOWS_TEXT_H_
