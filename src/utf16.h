// UTF-16 at the edges: a UTF-16 input is handed to the filter in an 8-bit
// form in which every ASCII character is its own byte, as in UTF-8, and
// every other code unit a few bytes of 0x80 and above, so that the filter's
// rules apply unchanged; the outputs are turned back into UTF-16.
//
// The 8-bit form of a code unit u: u itself below 0x80; 0xC0 | u >> 6 and a
// continuation byte below 0x800; 0xE0 | u >> 12 and two continuation bytes
// above (a continuation byte is 0x80 | six bits). So the BMP reads as UTF-8,
// a surrogate, paired or not, stands alone, and an odd last byte b becomes
// 0xF8 and two continuation bytes. Turning the form back is exact for whole
// sequences; the rest of a sequence whose start the filter cut off (a value
// taken from the eighth byte of a line) is left out.
#ifndef PLACEHARVEST_UTF16_H_
#define PLACEHARVEST_UTF16_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "byte_stream.h"
#include "helper_thread.h"
#include "page_buffer.h"
#include "text_encoding.h"

namespace placeharvest {

// The text that the first bytes `start` of an existing file begin with, as
// the filter would see it: for a UTF-16 start (a byte-order mark, or a zero
// byte in the first pair) its 8-bit form without the mark, else `start`.
std::string text_of_start(std::string_view start);

// How many bytes of UTF-16 the `size` bytes of the 8-bit form at `form`
// stand for, when they are whole sequences and end, if anywhere, with the
// form's end: two for each code unit, one for an odd last byte.
uint64_t utf16_size_of_form(const char* form, size_t size);

// Hands out a UTF-16 source in the 8-bit form. It cannot be read again:
// offsets in the form are not offsets in the file.
class Utf16Source final : public ByteSource {
 public:
  Utf16Source(ByteSource& input, Encoding encoding);
  // Waits for a block being turned beside the caller.
  ~Utf16Source() override;

  // From now on, each block is read by the caller and turned into the 8-bit
  // form on `helper` while the caller takes the block before it, or by the
  // caller when the helper has not begun it by then. `helper` must outlive
  // this source.
  void turn_beside(HelperThread* helper);
  long long read(char* data, size_t capacity) override;
  // Half the input's, about the least the form can take: each code unit
  // but a byte-order mark becomes one byte of it or more.
  uint64_t expected_size() const override { return input_.expected_size() / 2; }

  // From now on, keeps the input's bytes it reads, as far as a few blocks
  // allow, for kept_raw(); before the first call it keeps none. Bytes
  // before `offset` are no longer needed; an offset below one given before
  // changes nothing.
  void keep_raw_from(uint64_t offset);
  // Stores in `*data` where the input's bytes from `offset` on are kept, if
  // they are, and returns how many of them, at most `size`; returns 0 when
  // none are kept there. They stay as they are until keep_raw_from() is
  // given an offset past them.
  size_t kept_raw(uint64_t offset, size_t size, const char** data) const;

 private:
  // Raw bytes kept for kept_raw(): a few blocks, oldest first from
  // kept_[oldest_kept_] on, in a ring. Beside the caller, the cleaned copy
  // borrows from up to three of its sends beside (kSendBeside in
  // cleaned_copy.cc; two in flight), besides the blocks being read and
  // turned.
  static constexpr size_t kKeptBlocks = 16;
  struct KeptBlock {
    PageBuffer raw;
    const char* first = nullptr;  // [first, first + size) read, from
    uint64_t offset = 0;          // this offset in the input on
    size_t size = 0;
  };

  struct Block {
    Block();
    // Stores at `out` the form of what was read; returns its size.
    size_t form_into(char* out) const;
    bool little_endian = false;
    // Where the block is read when no kept block is free.
    PageBuffer raw;
    const char* first = nullptr;  // [first, first + size) read
    size_t size = 0;
    bool at_end = false;  // the last block: an odd last byte is turned
    std::unique_ptr<char[]> formed;
    size_t formed_size = 0;  // valid once turned
  };
  static void turn(void* block);
  bool read_block(Block& block);
  long long read_formed(char* data);
  KeptBlock* next_kept_block(uint64_t offset);
  int next_block();

  ByteSource& input_;
  Block blocks_[2];
  int current_ = 0;      // the block being handed out
  size_t handed_ = 0;    // of its form
  uint64_t offset_ = 0;  // in the input, of the next read
  std::string carried_;  // an odd byte of the last read
  bool input_ended_ = false;
  // Beside the caller: the other block is being turned when `turning_`,
  // and a read that failed ahead of time is told when its turn comes.
  HelperThread* helper_ = nullptr;
  bool turning_ = false;
  uint64_t turn_number_ = 0;
  int read_ahead_error_ = 0;
  // Kept bytes, once keep_raw_from() has been called.
  bool keeping_ = false;
  uint64_t keep_from_ = 0;
  KeptBlock kept_[kKeptBlocks];
  size_t oldest_kept_ = 0;
  size_t kept_count_ = 0;
};

// Writes the 8-bit form it is given to `output` as UTF-16, first the
// byte-order mark if `byte_order_mark`.
class Utf16Sink final : public ByteSink {
 public:
  Utf16Sink(ByteSink& output, Encoding encoding, bool byte_order_mark);
  bool write(const ByteSpan* spans, size_t count) override;
  size_t max_spans_per_write() const override { return 1024; }

 private:
  void put_unit(uint32_t unit);
  size_t put_sequence(const unsigned char* next, const unsigned char* end);
  void take(unsigned char c);
  bool flush();

  ByteSink& output_;
  const bool little_endian_;
  bool mark_due_;
  PageBuffer utf16_;  // turned, not yet written: [start_, used_)
  size_t start_ = 0;
  size_t used_ = 0;
  uint64_t written_ = 0;
  // A sequence begun and not yet ended, possibly across writes.
  uint32_t pending_ = 0;
  int continuations_due_ = 0;
  bool pending_is_raw_byte_ = false;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_UTF16_H_
