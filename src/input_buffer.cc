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

// A pipe is not read ahead: its read may wait for another program, and the
// writes queued behind it would wait too. Nor is the form of a UTF-16
// input, which cannot be read again either: its helper turns it and
// writes twice the bytes, and reading it ahead took a 100 MB tree 1.2
// times as long.
void InputBuffer::leave_bytes_behind(HelperThread* helper) {
  leave_behind_ = true;
  if (input_.can_read_again()) helper_ = helper;
}

// The room in front of a block read ahead for the bytes kept when it is
// reached.
size_t InputBuffer::kept_room() const {
  return std::max(kPageSize, block_size_ / 2 / kPageSize * kPageSize);
}

// A buffer of the ring holds a block read ahead behind that room, at any
// offset within a page.
size_t InputBuffer::ring_capacity() const {
  return block_size_ + kept_room() + kPageSize;
}

// Where the bytes from `offset` on land in a buffer of the ring when they
// are read ahead: behind the room for the kept bytes, at their offset
// within a page.
size_t InputBuffer::ahead_front(uint64_t offset) const {
  return kept_room() + static_cast<size_t>(offset % kPageSize);
}

bool InputBuffer::full() const {
  return data_ != nullptr && room_needed() > capacity_;
}

bool InputBuffer::fill() {
  const bool room_behind = data_ != nullptr && end_ + block_size_ <= capacity_;
  size_t ahead = 0;
  if (!room_behind || ahead_.started()) {
    if (!before_move_()) return false;
    ahead = finish_read_ahead();
    if (!move_in_front_of_read_ahead(ahead) && !copy_read_ahead_behind(ahead)) {
      // What was read ahead is read again when reached.
      ahead = 0;
      if (!room_behind) move_kept();
    }
  }
  const long long count =
      ahead > 0
          ? static_cast<long long>(ahead)
          : read_into(data_ + end_, std::min(block_size_, capacity_ - end_));
  if (count < 0) {
    read_failed_ = true;
    read_error_number_ = errno;
    return false;
  }
  end_ += static_cast<size_t>(count);
  std::memset(data_ + end_, 0, kPadding);
  read_next_ahead();
  return true;
}

// The buffer the kept bytes move to next once bytes are left behind.
size_t InputBuffer::next_buffer() const {
  return (current_ + 1) % std::size(buffers_);
}

// Reads the next block ahead, into the buffer the kept bytes move to next,
// behind room for them. That buffer's bytes were handed out before the
// last move, so the writes from them are jobs started before the read.
void InputBuffer::read_next_ahead() {
  if (helper_ == nullptr || input_ended_ || ahead_error_number_ != 0 ||
      offset_of(end_) != read_) {
    return;
  }
  Storage& to = buffers_[next_buffer()];
  if (to.capacity == 0) {
    // Nothing points into a buffer not yet made.
    to = Storage{PageBuffer(ring_capacity() + kPadding), ring_capacity()};
  }
  const size_t at = ahead_front(read_);
  if (at + block_size_ > to.capacity) return;
  ahead_.start(*helper_, input_, to.buffer.data() + at, block_size_);
}

// Waits for the read ahead, or takes it back unmade if the helper has not
// begun it, which is safe once `before_move` has returned: the buffer it
// reads into is no longer written from. Returns how many bytes it read,
// which lie at ahead_front() of the next buffer and are counted as read;
// an end or a failure it met is told when reading reaches it.
size_t InputBuffer::finish_read_ahead() {
  if (!ahead_.finish()) return 0;
  const long long got = ahead_.got();
  if (got == 0) input_ended_ = true;
  if (got < 0) ahead_error_number_ = ahead_.error_number();
  if (got <= 0) return 0;
  read_ += static_cast<uint64_t>(got);
  return static_cast<size_t>(got);
}

// Whether the `ahead` bytes read ahead are the next after the kept bytes,
// rather than bytes to be read again later.
bool InputBuffer::ahead_is_next(size_t ahead) const {
  return ahead > 0 && offset_of(end_) + ahead == read_;
}

// Moves the kept bytes in front of the `ahead` bytes read ahead, when
// those are the next and there is room for them there: the rest of a line,
// seldom more than a few hundred bytes.
bool InputBuffer::move_in_front_of_read_ahead(size_t ahead) {
  const size_t kept = end_ - begin_;
  const size_t at = ahead_front(offset_of(end_));
  if (!ahead_is_next(ahead) || kept > at) return false;
  const size_t target = next_buffer();
  if (kept > 0) {
    std::memcpy(buffers_[target].buffer.data() + at - kept, data_ + begin_,
                kept);
  }
  take_buffer(target, at - kept);
  return true;
}

// Copies the `ahead` bytes read ahead behind the kept bytes, when those
// are the next and there is room: as a line held whole grows.
bool InputBuffer::copy_read_ahead_behind(size_t ahead) {
  if (!ahead_is_next(ahead) || end_ + ahead > capacity_) return false;
  const char* read_ahead =
      buffers_[next_buffer()].buffer.data() + ahead_front(offset_of(end_));
  std::memcpy(data_ + end_, read_ahead, ahead);
  return true;
}

// Moves the kept bytes to the front: of the next buffer once bytes handed
// out are left behind for writes still going on, of this one before.
void InputBuffer::move_kept() {
  const size_t kept = end_ - begin_;
  const size_t target = leave_behind_ ? next_buffer() : current_;
  Storage& to = buffers_[target];
  size_t front = this->front();
  // Reading ahead, the kept bytes go where they would in front of a block
  // read ahead, if they fit there: each buffer of the ring then has the
  // same pages touched either way.
  const size_t next = ahead_front(offset_of(end_));
  if (helper_ != nullptr && kept <= next && next + block_size_ <= to.capacity) {
    front = next - kept;
  }
  const size_t needed = front + kept + block_size_;
  if (to.capacity < needed) {
    // Left behind, a buffer is taken for about a block at a time, with
    // room for the kept bytes in front of a block read ahead: each is then
    // written soon after it is read, and the ring costs less memory.
    size_t capacity =
        std::max(needed, leave_behind_ ? ring_capacity() : 2 * block_size_);
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
  take_buffer(target, front);
}

// Makes buffers_[target] the current one, with the kept bytes moved to
// `front` in it.
void InputBuffer::take_buffer(size_t target, size_t front) {
  const size_t kept = end_ - begin_;
  // In 64 bits: front may lie past begin_, and the difference in size_t
  // would wrap on a 32-bit build.
  offset_ = offset_of(begin_) - front;
  current_ = target;
  data_ = buffers_[target].buffer.data();
  capacity_ = buffers_[target].capacity;
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
  if (ahead_error_number_ != 0) {
    errno = ahead_error_number_;
    return -1;
  }
  if (input_ended_) return 0;
  long long count = input_.read(data, capacity);
  if (count == 0) input_ended_ = true;
  if (count > 0) read_ += static_cast<uint64_t>(count);
  return count;
}

bool InputBuffer::read_again_from(uint64_t offset) {
  if (!before_move_()) return false;
  // No read at an offset is made while a read ahead may be running, as on
  // Windows it moves the input's one position for a moment
  // (file_io_windows.cc): a read ahead starts only where reading has caught
  // up, and reading again, or counting, first finishes it.
  finish_read_ahead();
  offset_ = offset - offset % kPageSize;
  begin_ = end_ = static_cast<size_t>(offset % kPageSize);
  move_kept();
  std::memset(data_ + end_, 0, kPadding);
  return true;
}

bool InputBuffer::count_before(const uint64_t* offsets, size_t count, char byte,
                               uint64_t* counts) {
  finish_read_ahead();
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
