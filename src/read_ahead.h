// Reading a block ahead of the caller: once told to, a source that can be
// read again (a file, which a read never leaves waiting for another
// program) reads its next block on the helper thread while the caller
// takes the one before it, or leaves it to the caller when the helper has
// not begun it by then. The bytes handed out are those of the input.
#ifndef PLACEHARVEST_READ_AHEAD_H_
#define PLACEHARVEST_READ_AHEAD_H_

#include <cstddef>
#include <cstdint>

#include "byte_stream.h"
#include "helper_thread.h"
#include "page_buffer.h"

namespace placeharvest {

class ReadAhead final : public ByteSource {
 public:
  explicit ReadAhead(ByteSource& input) : input_(input) {}
  // Waits for a block being read beside the caller.
  ~ReadAhead() override;

  // From now on, reads a block ahead on `helper`, which must outlive this
  // source, if the input can be read again. May throw std::bad_alloc.
  void read_beside(HelperThread* helper);

  long long read(char* data, size_t capacity) override;
  bool can_read_again() const override { return input_.can_read_again(); }
  long long read_at(uint64_t offset, char* data, size_t capacity) override;
  uint64_t expected_size() const override { return input_.expected_size(); }

 private:
  struct Block {
    ByteSource* input = nullptr;
    PageBuffer buffer;
    size_t front = 0;      // where the bytes begin in the buffer
    long long got = 0;     // what the read returned
    int error_number = 0;  // of a read that failed
  };
  static void read_block(void* block);
  void next_block();
  void finish_read_ahead();

  ByteSource& input_;
  HelperThread* helper_ = nullptr;
  Block blocks_[2];
  int current_ = 0;  // the block being handed out, once there is one
  bool started_ = false;
  size_t handed_ = 0;    // of its bytes
  uint64_t offset_ = 0;  // in the input, of the next read
  // The other block holds the next read, or will once job `read_number_`
  // has run, while `read_in_flight_`.
  bool read_ahead_ = false;
  bool read_in_flight_ = false;
  uint64_t read_number_ = 0;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_READ_AHEAD_H_
