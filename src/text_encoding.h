// Telling a file's encoding from its first bytes: UTF-16 in either byte
// order, with or without a byte-order mark, or bytes (ASCII, UTF-8, ANSEL,
// the Windows code pages), which the filter reads as they are.
#ifndef PLACEHARVEST_TEXT_ENCODING_H_
#define PLACEHARVEST_TEXT_ENCODING_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "byte_stream.h"

namespace placeharvest {

enum class Encoding { kBytes, kUtf16LittleEndian, kUtf16BigEndian };

// How many of a file's first bytes detect_encoding() looks at.
inline constexpr size_t kDetectedFrom = 64;

// The encoding of a file that begins with `start` (its first kDetectedFrom
// bytes are enough): UTF-16 with the byte-order mark FF FE or FE FF, or
// without one when its first unit that is not a CR or LF is "0" with a zero
// byte (after it, or in front of it), as every GEDCOM file begins; bytes
// otherwise.
Encoding detect_encoding(std::string_view start);
// True when `start` begins with the byte-order mark of `encoding`.
bool has_byte_order_mark(std::string_view start, Encoding encoding);

// Hands out an input as it came, after the first bytes have been looked at
// to tell its encoding.
class PeekedSource final : public ByteSource {
 public:
  explicit PeekedSource(ByteSource& input) : input_(input) {}
  // Reads the first bytes, up to kDetectedFrom. Returns false on a read
  // error, with errno set.
  bool peek();
  std::string_view peeked() const { return peeked_; }

  long long read(char* data, size_t capacity) override;
  bool can_read_again() const override { return input_.can_read_again(); }
  long long read_at(uint64_t offset, char* data, size_t capacity) override {
    return input_.read_at(offset, data, capacity);
  }
  uint64_t expected_size() const override { return input_.expected_size(); }

 private:
  ByteSource& input_;
  std::string peeked_;
  size_t handed_ = 0;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_TEXT_ENCODING_H_
