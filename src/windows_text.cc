#include "windows_text.h"

#include <cstdint>

namespace placeharvest {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

bool is_high_surrogate(uint32_t unit) {
  return unit >= 0xD800 && unit < 0xDC00;
}
bool is_low_surrogate(uint32_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

void append_utf8(std::string& out, uint32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | code_point >> 6);
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | code_point >> 12);
    out += static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code_point >> 18);
    out += static_cast<char>(0x80 | (code_point >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

}  // namespace

std::string utf8_from_utf16(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t unit = static_cast<uint16_t>(text[i]);
    if (is_high_surrogate(unit) && i + 1 < text.size() &&
        is_low_surrogate(static_cast<uint16_t>(text[i + 1]))) {
      uint32_t low = static_cast<uint16_t>(text[++i]);
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    append_utf8(out, unit);  // a lone surrogate as its own three bytes
  }
  return out;
}

std::wstring utf16_from_utf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
  while (i < text.size()) {
    unsigned char lead = byte(i);
    size_t length = lead < 0x80    ? 1
                    : lead >= 0xF0 ? 4
                    : lead >= 0xE0 ? 3
                    : lead >= 0xC0 ? 2
                                   : 0;
    uint32_t code_point = length == 1   ? lead
                          : length == 2 ? lead & 0x1Fu
                          : length == 3 ? lead & 0x0Fu
                                        : lead & 0x07u;
    bool whole = length > 0 && i + length <= text.size();
    for (size_t k = 1; whole && k < length; ++k) {
      whole = (byte(i + k) & 0xC0) == 0x80;
      code_point = code_point << 6 | (byte(i + k) & 0x3F);
    }
    if (!whole || code_point > 0x10FFFF) {
      out += kReplacement;  // not from utf8_from_utf16()
      ++i;
      continue;
    }
    if (code_point >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((code_point - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((code_point - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(code_point);
    }
    i += length;
  }
  return out;
}

}  // namespace placeharvest
