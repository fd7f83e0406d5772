#include "text_encoding.h"

#include <algorithm>
#include <cstring>

namespace placeharvest {
namespace {

unsigned char byte_at(std::string_view text, size_t i) {
  return static_cast<unsigned char>(text[i]);
}

}  // namespace

Encoding detect_encoding(std::string_view start) {
  if (start.size() < 2) return Encoding::kBytes;
  unsigned char first = byte_at(start, 0);
  unsigned char second = byte_at(start, 1);
  if (first == 0xFF && second == 0xFE) return Encoding::kUtf16LittleEndian;
  if (first == 0xFE && second == 0xFF) return Encoding::kUtf16BigEndian;
  // Without a mark: the "0" that begins every GEDCOM file, as a UTF-16
  // unit, after any empty lines.
  for (Encoding encoding :
       {Encoding::kUtf16LittleEndian, Encoding::kUtf16BigEndian}) {
    size_t ascii_at = encoding == Encoding::kUtf16LittleEndian ? 0 : 1;
    for (size_t at = 0; at + 2 <= start.size(); at += 2) {
      unsigned char ascii = byte_at(start, at + ascii_at);
      if (byte_at(start, at + 1 - ascii_at) != 0) break;
      if (ascii == '0') return encoding;
      if (ascii != '\r' && ascii != '\n') break;
    }
  }
  return Encoding::kBytes;
}

bool has_byte_order_mark(std::string_view start, Encoding encoding) {
  if (start.size() < 2 || encoding == Encoding::kBytes) return false;
  bool little_endian = encoding == Encoding::kUtf16LittleEndian;
  return byte_at(start, little_endian ? 0 : 1) == 0xFF &&
         byte_at(start, little_endian ? 1 : 0) == 0xFE;
}

bool PeekedSource::peek() {
  char bytes[kDetectedFrom];
  while (peeked_.size() < sizeof bytes) {
    long long got = input_.read(bytes, sizeof bytes - peeked_.size());
    if (got < 0) return false;
    if (got == 0) break;
    peeked_.append(bytes, static_cast<size_t>(got));
  }
  return true;
}

long long PeekedSource::read(char* data, size_t capacity) {
  size_t given = std::min(capacity, peeked_.size() - handed_);
  std::memcpy(data, peeked_.data() + handed_, given);
  handed_ += given;
  if (given == capacity) return static_cast<long long>(given);
  // The rest of the same read comes from the input, so that reads go on
  // at the offsets they would have had.
  long long got = input_.read(data + given, capacity - given);
  if (got < 0) return given > 0 ? static_cast<long long>(given) : got;
  return static_cast<long long>(given) + got;
}

}  // namespace placeharvest
