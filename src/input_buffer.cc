#include "input_buffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <utility>

#include "byte_kernels.h"

namespace placeharvest {

InputBuffer::InputBuffer(ByteSource& input, size_t block_size,
                         std::function<bool()> before_move)
    : input_(input),
      block_size_(std::max<size_t>(block_size, 1)),
      before_move_(std::move(before_move)) {}

// Where the kept bytes go when they move: the same offset within a page as
// they have in the file.
size_t InputBuffer::front() const {
  return static_cast<size_t>((offset_ + begin_) % kPageSize);
}

// The room the kept bytes and a block behind them take from the buffer's
// start once moved.
size_t InputBuffer::room_needed() const {
  return front() + (end_ - begin_) + block_size_;
}

bool InputBuffer::full() const {
  return data_ != nullptr && room_needed() > capacity_;
}

bool InputBuffer::fill() {
  if (data_ == nullptr || end_ + block_size_ > capacity_) {
    if (!before_move_()) return false;
    move_kept();
  }
  long long count =
      read_into(data_ + end_, std::min(block_size_, capacity_ - end_));
  if (count < 0) {
    read_failed_ = true;
    read_error_number_ = errno;
    return false;
  }
  end_ += static_cast<size_t>(count);
  std::memset(data_ + end_, 0, kPadding);
  return true;
}

// Moves the kept bytes to the front: of the next buffer once bytes handed
// out are left behind for writes still going on, of this one before.
void InputBuffer::move_kept() {
  const size_t kept = end_ - begin_;
  const size_t front = this->front();
  const size_t needed = room_needed();
  const size_t target =
      leave_behind_ ? (current_ + 1) % std::size(buffers_) : current_;
  Storage& to = buffers_[target];
  if (to.capacity < needed) {
    // Left behind, a buffer is taken for about a block at a time: each is
    // then written soon after it is read, and the ring costs less memory.
    size_t capacity =
        std::max(needed, leave_behind_ ? block_size_ + block_size_ / 2
                                       : 2 * block_size_);
    // Past the first blocks, only a line longer than a block gets here;
    // doubling keeps the cost of holding it linear in its length.
    if (needed > capacity_) capacity = std::max(capacity, 2 * capacity_);
    Storage grown{PageBuffer(capacity + kPadding), capacity};
    if (kept > 0)
      std::memcpy(grown.buffer.data() + front, data_ + begin_, kept);
    to = std::move(grown);
  } else if (kept > 0) {
    std::memmove(to.buffer.data() + front, data_ + begin_, kept);
  }
  current_ = target;
  data_ = to.buffer.data();
  capacity_ = to.capacity;
  offset_ += begin_ - front;
  begin_ = front;
  end_ = front + kept;
}

// Reads the bytes at offset_of(end_): again, up to where read() has got,
// then on with read().
long long InputBuffer::read_into(char* data, size_t capacity) {
  uint64_t next = offset_ + end_;
  if (next < read_) {
    size_t size =
        static_cast<size_t>(std::min<uint64_t>(capacity, read_ - next));
    long long count = input_.read_at(next, data, size);
    // An input that shrank has changed, which the caller learns from the
    // input itself at the end; here it has simply ended.
    if (count == 0) {
      read_ = next;
      input_ended_ = true;
    }
    return count;
  }
  if (input_ended_) return 0;
  long long count = input_.read(data, capacity);
  if (count == 0) input_ended_ = true;
  if (count > 0) read_ += static_cast<uint64_t>(count);
  return count;
}

bool InputBuffer::read_again_from(uint64_t offset) {
  if (!before_move_()) return false;
  offset_ = offset - offset % kPageSize;
  begin_ = end_ = static_cast<size_t>(offset % kPageSize);
  move_kept();
  std::memset(data_ + end_, 0, kPadding);
  return true;
}

bool InputBuffer::count_before(const uint64_t* offsets, size_t count, char byte,
                               uint64_t* counts) {
  uint64_t found = 0;
  uint64_t offset = 0;
  for (size_t i = 0; i < count; ++i) {
    while (offset < offsets[i]) {
      size_t size = static_cast<size_t>(
          std::min<uint64_t>(capacity_, offsets[i] - offset));
      long long got = input_.read_at(offset, data_, size);
      if (got < 0) return false;
      if (got == 0) break;
      found += count_byte(data_, static_cast<size_t>(got), byte);
      offset += static_cast<uint64_t>(got);
    }
    counts[i] = found;
  }
  return true;
}

}  // namespace placeharvest
