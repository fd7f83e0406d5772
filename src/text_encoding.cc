#include "text_encoding.h"

#include <algorithm>
#include <cstring>

namespace placeharvest {
namespace {

// Raw UTF-16 read at a time; its 8-bit form is at most half as large again.
constexpr size_t kRawBlock = 256 * 1024;
// The UTF-16 written at a time.
constexpr size_t kWriteBlock = 256 * 1024;
constexpr uint32_t kByteOrderMark = 0xFEFF;
// Stands in front of an odd last byte in the 8-bit form.
constexpr unsigned char kRawByteLead = 0xF8;

unsigned char byte_at(std::string_view text, size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// Appends the 8-bit form of the whole code units in `raw`, and of an odd
// last byte when `raw` is the file's end.
void append_form(std::string& out, std::string_view raw, bool little_endian,
                 bool at_end) {
  size_t used = out.size();
  out.resize(used + raw.size() / 2 * 3 + 3);
  char* put = out.data() + used;
  const unsigned char* bytes =
      reinterpret_cast<const unsigned char*>(raw.data());
  const size_t whole = raw.size() & ~size_t{1};
  for (size_t i = 0; i < whole; i += 2) {
    uint32_t unit = little_endian ? bytes[i] | bytes[i + 1] << 8
                                  : bytes[i] << 8 | bytes[i + 1];
    if (unit < 0x80) {
      *put++ = static_cast<char>(unit);
    } else if (unit < 0x800) {
      *put++ = static_cast<char>(0xC0 | unit >> 6);
      *put++ = static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      *put++ = static_cast<char>(0xE0 | unit >> 12);
      *put++ = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      *put++ = static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  if (at_end && whole < raw.size()) {
    unsigned char odd = bytes[whole];
    *put++ = static_cast<char>(kRawByteLead);
    *put++ = static_cast<char>(0x80 | odd >> 6);
    *put++ = static_cast<char>(0x80 | (odd & 0x3F));
  }
  out.resize(static_cast<size_t>(put - out.data()));
}

}  // namespace

Encoding detect_encoding(std::string_view start) {
  if (start.size() < 2) return Encoding::kBytes;
  unsigned char first = byte_at(start, 0);
  unsigned char second = byte_at(start, 1);
  if ((first == 0xFF && second == 0xFE) || (first == '0' && second == 0)) {
    return Encoding::kUtf16LittleEndian;
  }
  if ((first == 0xFE && second == 0xFF) || (first == 0 && second == '0')) {
    return Encoding::kUtf16BigEndian;
  }
  return Encoding::kBytes;
}

bool has_byte_order_mark(std::string_view start, Encoding encoding) {
  if (start.size() < 2 || encoding == Encoding::kBytes) return false;
  bool little_endian = encoding == Encoding::kUtf16LittleEndian;
  return byte_at(start, little_endian ? 0 : 1) == 0xFF &&
         byte_at(start, little_endian ? 1 : 0) == 0xFE;
}

std::string eight_bit_form(std::string_view text, Encoding encoding) {
  std::string form;
  append_form(form, text, encoding == Encoding::kUtf16LittleEndian, true);
  return form;
}

std::string text_of_start(std::string_view start) {
  Encoding encoding = detect_encoding(start);
  if (encoding == Encoding::kBytes && start.size() >= 2) {
    // A coordinates file begins "2 PLAC" as often as "0 TLR".
    if (byte_at(start, 1) == 0 && byte_at(start, 0) != 0) {
      encoding = Encoding::kUtf16LittleEndian;
    } else if (byte_at(start, 0) == 0 && byte_at(start, 1) != 0) {
      encoding = Encoding::kUtf16BigEndian;
    }
  }
  if (encoding == Encoding::kBytes) return std::string(start);
  bool mark = has_byte_order_mark(start, encoding);
  // An odd last byte of the start is half a character, not the file's end.
  std::string_view whole = start.substr(mark ? 2 : 0);
  whole = whole.substr(0, whole.size() & ~size_t{1});
  return eight_bit_form(whole, encoding);
}

bool PeekedSource::peek() {
  char bytes[2];
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

Utf16Source::Utf16Source(ByteSource& input, Encoding encoding)
    : input_(input), little_endian_(encoding == Encoding::kUtf16LittleEndian) {}

long long Utf16Source::read(char* data, size_t capacity) {
  while (handed_ == formed_.size()) {
    formed_.clear();
    handed_ = 0;
    if (input_ended_) return 0;
    size_t carried = raw_.size();  // an odd byte of the last read
    raw_.resize(carried + kRawBlock);
    long long got = input_.read(raw_.data() + carried, kRawBlock);
    if (got < 0) {
      raw_.resize(carried);
      return -1;
    }
    raw_.resize(carried + static_cast<size_t>(got));
    input_ended_ = got == 0;
    append_form(formed_, raw_, little_endian_, input_ended_);
    raw_.erase(0, input_ended_ ? raw_.size() : raw_.size() & ~size_t{1});
  }
  size_t count = std::min(capacity, formed_.size() - handed_);
  std::memcpy(data, formed_.data() + handed_, count);
  handed_ += count;
  return static_cast<long long>(count);
}

Utf16Sink::Utf16Sink(ByteSink& output, Encoding encoding, bool byte_order_mark)
    : output_(output),
      little_endian_(encoding == Encoding::kUtf16LittleEndian),
      mark_due_(byte_order_mark) {}

void Utf16Sink::put_unit(uint32_t unit) {
  char low = static_cast<char>(unit & 0xFF);
  char high = static_cast<char>(unit >> 8 & 0xFF);
  utf16_.push_back(little_endian_ ? low : high);
  utf16_.push_back(little_endian_ ? high : low);
}

void Utf16Sink::put_byte(char byte) { utf16_.push_back(byte); }

bool Utf16Sink::write(const ByteSpan* spans, size_t count) {
  if (mark_due_) {
    put_unit(kByteOrderMark);
    mark_due_ = false;
  }
  for (size_t k = 0; k < count; ++k) {
    const unsigned char* bytes =
        reinterpret_cast<const unsigned char*>(spans[k].data);
    for (size_t i = 0; i < spans[k].size; ++i) {
      unsigned char c = bytes[i];
      if (continuations_due_ > 0) {
        if ((c & 0xC0) == 0x80) {
          pending_ = pending_ << 6 | (c & 0x3F);
          if (--continuations_due_ == 0) {
            if (pending_is_raw_byte_) {
              put_byte(static_cast<char>(pending_));
            } else {
              put_unit(pending_);
            }
          }
          continue;
        }
        continuations_due_ = 0;  // a sequence cut short: left out
      }
      if (c < 0x80) {
        put_unit(c);
      } else if (c >= 0xC0 && c < 0xF0) {
        bool two = c < 0xE0;
        pending_ = c & (two ? 0x1F : 0x0F);
        continuations_due_ = two ? 1 : 2;
        pending_is_raw_byte_ = false;
      } else if (c == kRawByteLead) {
        pending_ = 0;
        continuations_due_ = 2;
        pending_is_raw_byte_ = true;
      }
      // Anything else is the rest of a sequence whose start was cut off.
      if (utf16_.size() >= kWriteBlock) {
        ByteSpan span{utf16_.data(), utf16_.size()};
        if (!output_.write(&span, 1)) return false;
        utf16_.clear();
      }
    }
  }
  ByteSpan span{utf16_.data(), utf16_.size()};
  bool written = utf16_.empty() || output_.write(&span, 1);
  utf16_.clear();
  return written;
}

}  // namespace placeharvest
