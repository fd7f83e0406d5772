// Conversions between the program's UTF-8 text and the UTF-16 of the
// Windows API. Windows names may hold a surrogate without its pair, which
// UTF-8 cannot: such a unit is carried as the three bytes UTF-8 would give
// its code point (as "WTF-8" does), so that every name converts there and
// back to exactly the units it had, and opens the file it names.
#ifndef PLACEHARVEST_WINDOWS_TEXT_H_
#define PLACEHARVEST_WINDOWS_TEXT_H_

#include <string>
#include <string_view>

namespace placeharvest {

std::wstring utf16_from_utf8(std::string_view text);
std::string utf8_from_utf16(std::wstring_view text);

}  // namespace placeharvest

#endif  // PLACEHARVEST_WINDOWS_TEXT_H_
