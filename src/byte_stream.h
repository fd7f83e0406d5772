// The byte interfaces below every other part: where the filter reads from
// and where it writes to.
#ifndef PLACEHARVEST_BYTE_STREAM_H_
#define PLACEHARVEST_BYTE_STREAM_H_

#include <cstddef>
#include <cstdint>

namespace placeharvest {

// A run of bytes owned by someone else.
struct ByteSpan {
  const char* data;
  size_t size;
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Stores up to `capacity` bytes at `data` and returns how many it stored:
  // 0 at the end of the input, a negative value on a read error (with errno
  // set). May store fewer bytes than asked for before the end.
  virtual long long read(char* data, size_t capacity) = 0;

  // Sources that can be read again from any offset (a regular file, unlike
  // a pipe) say so here; the filter then counts lines only when it needs a
  // line number, by reading again with read_at().
  virtual bool can_read_again() const { return false; }
  // Like read(), from byte `offset` of the input, which read() has already
  // given; where read() goes on is not moved. Called only when
  // can_read_again().
  virtual long long read_at(uint64_t offset, char* data, size_t capacity) {
    (void)offset, (void)data, (void)capacity;
    return -1;
  }
  // How many bytes read() is expected to give in all, when that is known
  // before reading (a regular file's size when it was opened), else 0.
  // Only a hint for how to go about reading: the input may yet turn out
  // longer or shorter.
  virtual uint64_t expected_size() const { return 0; }
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all `count` spans, in order, whole; `count` is at most
  // max_spans_per_write(). Returns false on a write error, with errno set.
  // The spans are only valid during the call.
  virtual bool write(const ByteSpan* spans, size_t count) = 0;
  // How many spans one write() takes. A sink that writes one span at a
  // time says 1, and is then handed everything gathered into one span.
  virtual size_t max_spans_per_write() const = 0;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_BYTE_STREAM_H_
