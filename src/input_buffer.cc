#include "input_buffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "byte_kernels.h"

namespace placeharvest {
namespace {

// Blocks read before the next is read ahead.
constexpr size_t kReadAheadFrom = 64;

}  // namespace

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

// Room for a block at any place within a page, behind as much room for the
// bytes kept.
size_t InputBuffer::least_capacity() const {
  return 2 * block_size_ + kPageSize;
}

bool InputBuffer::full() const {
  return data_ != nullptr && room_needed() > capacity_;
}

InputBuffer::~InputBuffer() { drop_read_ahead(); }

bool InputBuffer::fill() {
  if (reading_ahead_) return take_read_ahead();
  if (!make_room()) return false;
  Read read =
      read_request(data_ + end_, std::min(block_size_, capacity_ - end_));
  run(&read);
  if (!finish(read, true)) return false;
  end_ += static_cast<size_t>(read.count);
  std::memset(data_ + end_, 0, kPadding);
  read_ahead();
  return true;
}

// Makes room for a block behind end_ in this buffer.
bool InputBuffer::make_room() {
  if (data_ != nullptr && end_ + block_size_ <= capacity_) return true;
  if (!before_move_()) return false;
  const size_t kept = end_ - begin_;
  const size_t front = this->front();
  const size_t needed = room_needed();
  if (needed > capacity_) {
    // Past the first block, only a line longer than a block gets here;
    // doubling keeps the cost of holding it linear in its length.
    size_t capacity = std::max({needed, 2 * capacity_, least_capacity()});
    Storage storage{PageBuffer(capacity + kPadding), capacity};
    if (kept > 0) {
      std::memcpy(storage.buffer.data() + front, data_ + begin_, kept);
    }
    buffers_[current_] = std::move(storage);
    data_ = buffers_[current_].buffer.data();
    capacity_ = capacity;
  } else if (kept > 0) {
    std::memmove(data_ + front, data_ + begin_, kept);
  }
  offset_ += begin_ - front;
  begin_ = front;
  end_ = front + kept;
  return true;
}

// The read of the bytes at offset_of(end_) into `data`: again, up to where
// read() has got, then on with read().
InputBuffer::Read InputBuffer::read_request(char* data, size_t capacity) const {
  Read read;
  read.input = &input_;
  read.offset = offset_ + end_;
  read.data = data;
  read.again = read.offset < read_;
  if (read.again) {
    read.capacity =
        static_cast<size_t>(std::min<uint64_t>(capacity, read_ - read.offset));
  } else {
    read.capacity = input_ended_ ? 0 : capacity;
  }
  return read;
}

void InputBuffer::run(void* request) {
  Read& read = *static_cast<Read*>(request);
  if (read.capacity == 0) {
    read.count = 0;
  } else if (read.again) {
    read.count = read.input->read_at(read.offset, read.data, read.capacity);
  } else {
    read.count = read.input->read(read.data, read.capacity);
  }
  read.error_number = read.count < 0 ? errno : 0;
}

// Takes note of what `read` got, on the caller's thread. Returns false when
// it failed, which counts as the input's failure when `report` says so.
bool InputBuffer::finish(const Read& read, bool report) {
  if (read.count < 0) {
    if (report) {
      read_failed_ = true;
      read_error_number_ = errno = read.error_number;
    }
    return false;
  }
  if (read.again) {
    // An input that shrank has changed, which the caller learns from the
    // input itself at the end; here it has simply ended.
    if (read.count == 0) {
      read_ = read.offset;
      input_ended_ = true;
    }
  } else if (read.count == 0) {
    input_ended_ = true;
  } else {
    read_ += static_cast<uint64_t>(read.count);
  }
  return true;
}

// Starts reading the next block into the next buffer, at the place within
// a page that its first byte has in the input, behind room for the bytes
// kept now.
void InputBuffer::read_ahead() {
  // A small input is read before a thread would have started, and with
  // fewer pages of memory.
  if (input_ended_ || offset_ + end_ < kReadAheadFrom * block_size_) return;
  Storage& next = buffers_[(current_ + 1) % 3];
  if (next.capacity < least_capacity()) {
    next = Storage{PageBuffer(capacity_ + kPadding), capacity_};
  }
  // The last place a block fits that is at its first byte's place within a
  // page.
  const size_t last = next.capacity - block_size_;
  const size_t index =
      last -
      (last - static_cast<size_t>((offset_ + end_) % kPageSize)) % kPageSize;
  ahead_ = read_request(next.buffer.data() + index, block_size_);
  reading_ahead_ = true;
  helper_.start(run, &ahead_);
}

bool InputBuffer::take_read_ahead() {
  helper_.wait();
  reading_ahead_ = false;
  if (!finish(ahead_, true)) return false;
  const size_t count = static_cast<size_t>(ahead_.count);
  if (count == 0) return true;
  const size_t next = (current_ + 1) % 3;
  const size_t index =
      static_cast<size_t>(ahead_.data - buffers_[next].buffer.data());
  const size_t kept = end_ - begin_;
  if (kept > index) {
    // More is kept than fits in front of the block (a line being held
    // whole): the block joins it here instead.
    if (!make_room()) return false;
    std::memcpy(data_ + end_, ahead_.data, count);
    end_ += count;
    std::memset(data_ + end_, 0, kPadding);
    read_ahead();
    return true;
  }
  if (kept > 0) std::memcpy(ahead_.data - kept, data_ + begin_, kept);
  current_ = next;
  data_ = buffers_[current_].buffer.data();
  capacity_ = buffers_[current_].capacity;
  offset_ = ahead_.offset - index;
  begin_ = index - kept;
  end_ = index + count;
  std::memset(data_ + end_, 0, kPadding);
  // The buffer left stays as it is until what points into it has been
  // written, which is the bulk of the work: the next block is read
  // meanwhile, into the buffer before it.
  read_ahead();
  return before_move_();
}

// Waits for a block being read ahead and drops it, keeping only what its
// read tells of the input.
void InputBuffer::drop_read_ahead() {
  if (!reading_ahead_) return;
  helper_.wait();
  reading_ahead_ = false;
  finish(ahead_, false);
}

bool InputBuffer::read_again_from(uint64_t offset) {
  if (!before_move_()) return false;
  drop_read_ahead();
  offset_ = offset - offset % kPageSize;
  begin_ = end_ = static_cast<size_t>(offset % kPageSize);
  if (data_ != nullptr) std::memset(data_ + end_, 0, kPadding);
  return true;
}

bool InputBuffer::count_before(const uint64_t* offsets, size_t count, char byte,
                               uint64_t* counts) {
  drop_read_ahead();
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
