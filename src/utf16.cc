#include "utf16.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "byte_kernels.h"

namespace placeharvest {
namespace {

// Raw UTF-16 read at a time; its 8-bit form is at most half as large again.
// Small blocks stay in the processor's cache while they are turned and
// handed out, and a small file touches fewer fresh pages: 64 KiB took a
// 2 MB file in two thirds of the time of 512 KiB, and no larger file
// took longer (doc/performance.md).
constexpr size_t kRawBlock = 64 * 1024;
// The UTF-16 written at a time, at least.
constexpr size_t kWriteBlock = 128 * 1024;
// Room for a block's UTF-16 behind a place within the first page.
constexpr size_t kWriteRoom = 2 * kWriteBlock + 2 * kPageSize;
constexpr uint32_t kByteOrderMark = 0xFEFF;
// Stands in front of an odd last byte in the 8-bit form.
constexpr unsigned char kRawByteLead = 0xF8;

unsigned char byte_at(std::string_view text, size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// The most bytes the 8-bit form of `raw_size` bytes of UTF-16 takes.
constexpr size_t form_room(size_t raw_size) { return raw_size / 2 * 3 + 3; }
// A block's, with the odd byte carried from the read before.
constexpr size_t kFormRoom = form_room(kRawBlock + 1);

// Stores at `out` the 8-bit form of the whole code units in `raw`, and of
// an odd last byte when `raw` is the file's end; returns its size.
size_t form(std::string_view raw, bool little_endian, bool at_end, char* out) {
  char* put = out;
  const unsigned char* bytes =
      reinterpret_cast<const unsigned char*>(raw.data());
  const size_t whole = raw.size() & ~size_t{1};
  size_t i = 0;
  while (i < whole) {
    // Most of a GEDCOM file is ASCII: runs of it are turned at once, and
    // so is text whose letters beyond ASCII take two bytes, as in most
    // European names.
    size_t ascii = narrow_ascii(bytes + i, (whole - i) / 2, little_endian, put);
    put += ascii;
    i += 2 * ascii;
    if (i == whole) break;
    size_t stored = 0;
    i += 2 * narrow_below_0x800(bytes + i, (whole - i) / 2, little_endian, put,
                                &stored);
    put += stored;
    if (i == whole) break;
    // What stopped it is a unit from 0x800 up: three bytes.
    uint32_t unit = little_endian ? bytes[i] | bytes[i + 1] << 8
                                  : bytes[i] << 8 | bytes[i + 1];
    i += 2;
    *put++ = static_cast<char>(0xE0 | unit >> 12);
    *put++ = static_cast<char>(0x80 | (unit >> 6 & 0x3F));
    *put++ = static_cast<char>(0x80 | (unit & 0x3F));
  }
  if (at_end && whole < raw.size()) {
    unsigned char odd = bytes[whole];
    *put++ = static_cast<char>(kRawByteLead);
    *put++ = static_cast<char>(0x80 | odd >> 6);
    *put++ = static_cast<char>(0x80 | (odd & 0x3F));
  }
  return static_cast<size_t>(put - out);
}

// The 8-bit form of `text`, a UTF-16 file's bytes (or its start).
std::string eight_bit_form(std::string_view text, Encoding encoding) {
  std::string formed(form_room(text.size()), '\0');
  formed.resize(form(text, encoding == Encoding::kUtf16LittleEndian, true,
                     formed.data()));
  return formed;
}

}  // namespace

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

uint64_t utf16_size_of_form(const char* form, size_t size) {
  // Each sequence has one byte that is no continuation byte. The odd last
  // byte's, which stands for one byte, not two, can only end the form.
  bool odd_byte =
      size >= 3 && static_cast<unsigned char>(form[size - 3]) == kRawByteLead;
  return 2 * (size - count_continuations(form, size)) - (odd_byte ? 1 : 0);
}

Utf16Source::Block::Block()
    : raw(kRawBlock + kPageSize), formed(new char[kFormRoom]) {}

Utf16Source::Utf16Source(ByteSource& input, Encoding encoding) : input_(input) {
  for (Block& block : blocks_) {
    block.little_endian = encoding == Encoding::kUtf16LittleEndian;
  }
}

Utf16Source::~Utf16Source() {
  if (turning_) helper_->wait(turn_number_);
}

void Utf16Source::turn_beside(HelperThread* helper) { helper_ = helper; }

size_t Utf16Source::Block::form_into(char* out) const {
  return form(std::string_view(first, size), little_endian, at_end, out);
}

void Utf16Source::turn(void* context) {
  Block& block = *static_cast<Block*>(context);
  block.formed_size = block.form_into(block.formed.get());
}

// Reads the input's next bytes into `block`, behind the odd byte of the
// last read, if any. Returns false on a read error, with errno set.
bool Utf16Source::read_block(Block& block) {
  // Each read keeps its bytes' place within a page.
  size_t start = static_cast<size_t>(offset_ % kPageSize);
  if (start < carried_.size()) start += kPageSize;
  KeptBlock* kept = next_kept_block(offset_ - carried_.size());
  char* room = kept != nullptr ? kept->raw.data() : block.raw.data();
  char* first = room + start - carried_.size();
  carried_.copy(first, carried_.size());
  long long got = input_.read(room + start, kRawBlock);
  if (got < 0) {
    if (kept != nullptr) --kept_count_;
    return false;
  }
  offset_ += static_cast<uint64_t>(got);
  input_ended_ = got == 0;
  block.first = first;
  block.size = carried_.size() + static_cast<size_t>(got);
  block.at_end = input_ended_;
  if (kept != nullptr) {
    kept->first = first;
    kept->size = block.size;
  }
  size_t odd = input_ended_ ? 0 : block.size % 2;
  carried_.assign(first + block.size - odd, odd);
  return true;
}

// Returns the newest kept block, made for the bytes from `offset` on, with
// a buffer to read them into, or null when keeping is off or every kept
// block is still needed. A block is free once its bytes lie before keep_from_:
// then its form has been handed out and taken, and what borrowed from it
// is written.
Utf16Source::KeptBlock* Utf16Source::next_kept_block(uint64_t offset) {
  if (!keeping_) return nullptr;
  // The oldest block's buffer is taken again as soon as it is free: a
  // fresh one costs its pages' first touches, which a small file does not
  // earn back.
  PageBuffer freed;
  const KeptBlock& oldest = kept_[oldest_kept_];
  if (kept_count_ > 0 && oldest.offset + oldest.size <= keep_from_) {
    freed = std::move(kept_[oldest_kept_].raw);
    oldest_kept_ = (oldest_kept_ + 1) % kKeptBlocks;
    --kept_count_;
  } else if (kept_count_ == kKeptBlocks) {
    return nullptr;
  }
  KeptBlock& kept = kept_[(oldest_kept_ + kept_count_) % kKeptBlocks];
  ++kept_count_;
  if (freed.data() != nullptr) kept.raw = std::move(freed);
  if (kept.raw.data() == nullptr) kept.raw = PageBuffer(kRawBlock + kPageSize);
  kept.offset = offset;
  kept.size = 0;
  return &kept;
}

void Utf16Source::keep_raw_from(uint64_t offset) {
  keeping_ = true;
  keep_from_ = std::max(keep_from_, offset);
}

size_t Utf16Source::kept_raw(uint64_t offset, size_t size,
                             const char** data) const {
  for (size_t i = 0; i < kept_count_; ++i) {
    const KeptBlock& kept = kept_[(oldest_kept_ + i) % kKeptBlocks];
    if (offset >= kept.offset && offset - kept.offset < kept.size) {
      size_t at = static_cast<size_t>(offset - kept.offset);
      *data = kept.first + at;
      return std::min(size, kept.size - at);
    }
  }
  return 0;
}

// On the caller's thread, a block whose form fits the caller's room is
// turned straight into it, which saves copying it there.
long long Utf16Source::read_formed(char* data) {
  Block& block = blocks_[current_];
  block.formed_size = handed_ = 0;
  while (!input_ended_) {
    if (!read_block(block)) return -1;
    size_t size = block.form_into(data);
    // A block of one odd byte, carried to the next, forms nothing.
    if (size > 0) return static_cast<long long>(size);
  }
  return 0;
}

// Makes the next block of the form the current one. Returns 1, or 0 at
// the input's end, or -1 on a read error with errno set.
int Utf16Source::next_block() {
  handed_ = 0;
  if (turning_) {
    helper_->finish(turn_number_);
    turning_ = false;
    current_ ^= 1;
  } else {
    Block& block = blocks_[current_];
    block.formed_size = 0;
    if (read_ahead_error_ != 0) {
      errno = read_ahead_error_;
      return -1;
    }
    if (input_ended_) return 0;
    if (!read_block(block)) return -1;
    turn(&block);
  }
  if (helper_ != nullptr && !input_ended_ && read_ahead_error_ == 0) {
    Block& next = blocks_[current_ ^ 1];
    if (read_block(next)) {
      turn_number_ = helper_->start(turn, &next);
      turning_ = true;
    } else {
      read_ahead_error_ = errno;
    }
  }
  return 1;
}

long long Utf16Source::read(char* data, size_t capacity) {
  while (handed_ == blocks_[current_].formed_size) {
    if (helper_ == nullptr && capacity >= kFormRoom) return read_formed(data);
    int next = next_block();
    if (next <= 0) return next;
  }
  const Block& block = blocks_[current_];
  size_t count = std::min(capacity, block.formed_size - handed_);
  std::memcpy(data, block.formed.get() + handed_, count);
  handed_ += count;
  return static_cast<long long>(count);
}

Utf16Sink::Utf16Sink(ByteSink& output, Encoding encoding, bool byte_order_mark)
    : output_(output),
      little_endian_(encoding == Encoding::kUtf16LittleEndian),
      mark_due_(byte_order_mark),
      utf16_(kWriteRoom) {}

void Utf16Sink::put_unit(uint32_t unit) {
  char low = static_cast<char>(unit & 0xFF);
  char high = static_cast<char>(unit >> 8 & 0xFF);
  utf16_.data()[used_++] = little_endian_ ? low : high;
  utf16_.data()[used_++] = little_endian_ ? high : low;
}

// Takes one byte of the form that is not ASCII, or any byte while a
// sequence is under way.
void Utf16Sink::take(unsigned char c) {
  if (continuations_due_ > 0) {
    if ((c & 0xC0) == 0x80) {
      pending_ = pending_ << 6 | (c & 0x3F);
      if (--continuations_due_ == 0) {
        if (pending_is_raw_byte_) {
          utf16_.data()[used_++] = static_cast<char>(pending_);
        } else {
          put_unit(pending_);
        }
      }
      return;
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
}

// Turns the whole two- or three-byte sequence that begins at `next` and
// ends by `end`, and returns its size; returns 0 for anything else.
size_t Utf16Sink::put_sequence(const unsigned char* next,
                               const unsigned char* end) {
  auto continues = [](unsigned char c) { return (c & 0xC0) == 0x80; };
  unsigned char lead = next[0];
  if (lead >= 0xC0 && lead < 0xE0 && end - next >= 2 && continues(next[1])) {
    put_unit((lead & 0x1Fu) << 6 | (next[1] & 0x3Fu));
    return 2;
  }
  if (lead >= 0xE0 && lead < 0xF0 && end - next >= 3 && continues(next[1]) &&
      continues(next[2])) {
    put_unit((lead & 0x0Fu) << 12 | (next[1] & 0x3Fu) << 6 | (next[2] & 0x3Fu));
    return 3;
  }
  return 0;
}

bool Utf16Sink::write(const ByteSpan* spans, size_t count) {
  if (mark_due_) {
    put_unit(kByteOrderMark);
    mark_due_ = false;
  }
  for (size_t k = 0; k < count; ++k) {
    const unsigned char* next =
        reinterpret_cast<const unsigned char*>(spans[k].data);
    const unsigned char* end = next + spans[k].size;
    while (next < end) {
      // Each byte of the form gives at most two bytes of UTF-16.
      const unsigned char* piece_end =
          next + std::min<size_t>(end - next, (kWriteRoom - used_) / 2);
      while (next < piece_end) {
        if (continuations_due_ == 0) {
          size_t ascii =
              widen_ascii(next, static_cast<size_t>(piece_end - next),
                          little_endian_, utf16_.data() + used_);
          used_ += 2 * ascii;
          next += ascii;
          if (next == piece_end) break;
          // A whole sequence is turned at once; one cut by the span's end,
          // or cut short, goes through take().
          size_t taken = put_sequence(next, piece_end);
          if (taken > 0) {
            next += taken;
            continue;
          }
        }
        take(*next++);
      }
      if (used_ - start_ >= kWriteBlock && !flush()) return false;
    }
  }
  return flush();
}

bool Utf16Sink::flush() {
  ByteSpan span{utf16_.data() + start_, used_ - start_};
  bool written = span.size == 0 || output_.write(&span, 1);
  written_ += span.size;
  // The next write keeps its place within a page of the file.
  start_ = used_ = static_cast<size_t>(written_ % kPageSize);
  return written;
}

}  // namespace placeharvest
