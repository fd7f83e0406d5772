// The input in a reused buffer: a block at a time is read behind the bytes
// still kept, which are moved to the front when no block fits behind them;
// once the caller writes beside the reading, to the front of a second
// buffer, taken in turn, so that the bytes left behind stay as they are for
// the writes, and a file's next block is read ahead into that buffer on the
// helper thread. An input that can be read again may also be read again
// from an earlier offset, so that a reader need not keep what it has only
// looked at.
#ifndef PLACEHARVEST_INPUT_BUFFER_H_
#define PLACEHARVEST_INPUT_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <functional>

#include "byte_stream.h"
#include "helper_thread.h"
#include "page_buffer.h"
#include "read_ahead.h"

namespace placeharvest {

class InputBuffer {
 public:
  // Bytes behind the data that are kept zero, so that a look at this many
  // bytes at a time may reach past it.
  static constexpr size_t kPadding = 64;

  // `before_move` runs before the bytes handed out so far move or are
  // dropped: by the time it returns, what still points into them must be
  // written. It returns false to stop reading (a write failed).
  // `block_size` is at least 1.
  InputBuffer(ByteSource& input, size_t block_size,
              std::function<bool()> before_move);

  // Once bytes are left behind, how many times more `before_move` returns
  // before the bytes handed out change.
  static constexpr size_t kMovesLeftBehind = 2;

  // From now on, what points into the bytes handed out need only be being
  // written when `before_move` returns: the bytes stay as they are until it
  // has returned kMovesLeftBehind times more, so a write begun in one call
  // must be done by the end of the kMovesLeftBehind-th call after it. The
  // writes are jobs on `helper`, if it is not null; then an input that can
  // be read again is read a block ahead there, behind the writes from the
  // buffer it is read into. `helper` must outlive this.
  void leave_bytes_behind(HelperThread* helper);

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
  // read to its end and everything handed out has been written. Returns
  // false on a read error, with errno set.
  bool count_before(const uint64_t* offsets, size_t count, char byte,
                    uint64_t* counts);

 private:
  struct Storage {
    PageBuffer buffer;
    size_t capacity = 0;  // bytes for data, followed by the padding
  };

  size_t front() const;
  size_t room_needed() const;
  size_t kept_room() const;
  size_t ring_capacity() const;
  size_t ahead_front(uint64_t offset) const;
  size_t next_buffer() const;
  void move_kept();
  void take_buffer(size_t target, size_t front);
  void read_next_ahead();
  size_t finish_read_ahead();
  bool ahead_is_next(size_t ahead) const;
  bool move_in_front_of_read_ahead(size_t ahead);
  bool copy_read_ahead_behind(size_t ahead);
  long long read_into(char* data, size_t capacity);

  ByteSource& input_;
  const size_t block_size_;
  const std::function<bool()> before_move_;
  // Once bytes are left behind, the kept bytes move to the next of these
  // at each move, in turn.
  Storage buffers_[kMovesLeftBehind + 1];
  size_t current_ = 0;
  bool leave_behind_ = false;
  char* data_ = nullptr;  // buffers_[current_]'s data
  size_t capacity_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;
  uint64_t offset_ = 0;
  uint64_t read_ = 0;  // how much the input's read() has given
  bool input_ended_ = false;
  bool read_failed_ = false;
  int read_error_number_ = 0;
  // Reading ahead, once bytes are left behind: the bytes from offset read_
  // on, into the next buffer at ahead_front(read_). A read ahead that
  // failed is told when reading reaches it.
  HelperThread* helper_ = nullptr;
  ReadAhead ahead_;  // after the buffers it reads into, to end before them
  int ahead_error_number_ = 0;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_INPUT_BUFFER_H_
