// The input in reused buffers: read a block at a time behind the bytes
// still kept. While the caller works on one block, the next is read into
// another buffer on a helper thread; the bytes still kept are then copied
// in front of it. An input that can be read again may also be read again from
// an earlier offset, so that a reader need not keep what it has only looked
// at.
#ifndef PLACEHARVEST_INPUT_BUFFER_H_
#define PLACEHARVEST_INPUT_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <functional>

#include "byte_stream.h"
#include "helper_thread.h"
#include "page_buffer.h"

namespace placeharvest {

class InputBuffer {
 public:
  // Bytes behind the data that are kept zero, so that a look at this many
  // bytes at a time may reach past it.
  static constexpr size_t kPadding = 64;

  // `before_move` runs before bytes handed out may move, be dropped or be
  // read over: what still points into them must be written by then. It
  // returns false to stop reading (a write failed). `block_size` is at
  // least 1. While a block is read ahead, `input` is read on another
  // thread: meanwhile nothing else may use it but for read_at(), and only
  // where read_at() does not move where read() goes on (pread()).
  InputBuffer(ByteSource& input, size_t block_size,
              std::function<bool()> before_move);
  // Waits for a block being read ahead.
  ~InputBuffer();

  // data()[begin(), end()) holds the bytes kept, followed by kPadding zero
  // bytes; data()[i] is byte offset_of(i) of the input. offset_of(0) is a
  // multiple of the page size, so that each read lands at the same offset
  // within a page as the bytes have in the file, which the system copies
  // fastest.
  const char* data() const { return data_; }
  size_t begin() const { return begin_; }
  size_t end() const { return end_; }
  uint64_t offset_of(size_t index) const { return offset_ + index; }
  // Drops the kept bytes in front of `index`.
  void drop_to(size_t index) { begin_ = index; }

  // True when fill() could read only after making the buffer larger.
  bool full() const;
  // Reads more behind end(), keeping [begin(), end()). Returns false on a
  // failure; at the end of the input it sets at_end() instead. Indexes into
  // the buffer are stale afterwards, but for begin() and end().
  bool fill();
  // Drops every byte kept; reading goes on from `offset`, which must not be
  // past what has been read. Only for an input that can be read again.
  // Returns false when `before_move` does.
  bool read_again_from(uint64_t offset);
  bool can_read_again() const { return input_.can_read_again(); }

  // True once every byte of the input has been read.
  bool at_end() const { return input_ended_ && offset_ + end_ == read_; }
  bool read_failed() const { return read_failed_; }
  int read_error_number() const { return read_error_number_; }

  // Stores in `counts[i]` how many `byte`s the input has in front of
  // `offsets[i]`, which must be in order, by reading the input again from
  // its start, through this buffer. Call it only once the input has been
  // read to its end. Returns false on a read error, with errno set.
  bool count_before(const uint64_t* offsets, size_t count, char byte,
                    uint64_t* counts);

 private:
  struct Storage {
    PageBuffer buffer;
    size_t capacity = 0;  // bytes for data, followed by the padding
  };
  // One read: asked for on the caller's thread, done on either.
  struct Read {
    ByteSource* input = nullptr;
    uint64_t offset = 0;
    char* data = nullptr;
    size_t capacity = 0;
    bool again = false;  // with read_at(), below what read() has given
    long long count = 0;
    int error_number = 0;
  };

  size_t least_capacity() const;
  size_t front() const;
  size_t room_needed() const;
  bool make_room();
  Read read_request(char* data, size_t capacity) const;
  static void run(void* read);
  bool finish(const Read& read, bool report);
  void read_ahead();
  bool take_read_ahead();
  void drop_read_ahead();

  ByteSource& input_;
  const size_t block_size_;
  const std::function<bool()> before_move_;
  // The buffer in use; the next, where a block is read ahead; and the one
  // before, which may still be written from until before_move has run.
  Storage buffers_[3];
  size_t current_ = 0;
  char* data_ = nullptr;  // buffers_[current_]'s data
  size_t capacity_ = 0;
  Read ahead_;
  bool reading_ahead_ = false;
  size_t begin_ = 0;
  size_t end_ = 0;
  uint64_t offset_ = 0;
  uint64_t read_ = 0;  // how much the input's read() has given
  bool input_ended_ = false;
  bool read_failed_ = false;
  int read_error_number_ = 0;
  // Last, so that it ends before the buffers it reads into go.
  HelperThread helper_;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_INPUT_BUFFER_H_
