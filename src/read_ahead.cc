#include "read_ahead.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace placeharvest {
namespace {

// Read at a time beside the caller, and copied from there into the
// filter's buffer while it is still in the processor's cache. 128 KiB did
// as well on a 1 GiB dense tree; 1 MiB, the filter's own block there,
// took 1.1 times as long.
constexpr size_t kBlock = 256 * 1024;

}  // namespace

ReadAhead::~ReadAhead() {
  if (read_in_flight_) helper_->wait(read_number_);
}

// The buffers are made here, on the caller's thread, where running out of
// memory is reported like any other failure.
void ReadAhead::read_beside(HelperThread* helper) {
  if (!input_.can_read_again()) return;
  for (Block& block : blocks_) {
    block.input = &input_;
    block.buffer = PageBuffer(kBlock + kPageSize);
  }
  helper_ = helper;
}

void ReadAhead::read_block(void* context) {
  Block& block = *static_cast<Block*>(context);
  block.got = block.input->read(block.buffer.data() + block.front, kBlock);
  if (block.got < 0) block.error_number = errno;
}

// Makes the next block the current one, and starts reading the one after
// it beside the caller.
void ReadAhead::next_block() {
  if (read_ahead_) {
    finish_read_ahead();
    read_ahead_ = false;
    current_ ^= 1;
  } else {
    Block& block = blocks_[current_];
    // Each read keeps its bytes' place within a page, as the system copies
    // those fastest.
    block.front = static_cast<size_t>(offset_ % kPageSize);
    read_block(&block);
  }
  started_ = true;
  handed_ = 0;
  const Block& block = blocks_[current_];
  // Past the end or a failure, nothing more is read.
  if (block.got <= 0) return;
  offset_ += static_cast<uint64_t>(block.got);
  Block& next = blocks_[current_ ^ 1];
  next.front = static_cast<size_t>(offset_ % kPageSize);
  read_number_ = helper_->start(read_block, &next);
  read_ahead_ = read_in_flight_ = true;
}

void ReadAhead::finish_read_ahead() {
  if (!read_in_flight_) return;
  helper_->finish(read_number_);
  read_in_flight_ = false;
}

// A read at an offset may move the input's one position for a moment
// (file_io_windows.cc), so the read ahead is done first.
long long ReadAhead::read_at(uint64_t offset, char* data, size_t capacity) {
  finish_read_ahead();
  return input_.read_at(offset, data, capacity);
}

long long ReadAhead::read(char* data, size_t capacity) {
  if (helper_ == nullptr) {
    long long got = input_.read(data, capacity);
    if (got > 0) offset_ += static_cast<uint64_t>(got);
    return got;
  }
  const Block* block = &blocks_[current_];
  if (!started_ ||
      (block->got > 0 && handed_ == static_cast<size_t>(block->got))) {
    next_block();
    block = &blocks_[current_];
  }
  if (block->got <= 0) {
    errno = block->error_number;
    return block->got;
  }
  size_t count = std::min(capacity, static_cast<size_t>(block->got) - handed_);
  std::memcpy(data, block->buffer.data() + block->front + handed_, count);
  handed_ += count;
  return static_cast<long long>(count);
}

}  // namespace placeharvest
