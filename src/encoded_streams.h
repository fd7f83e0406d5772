// What the filter reads and writes for one input: the input and the
// outputs themselves for a file of bytes; for UTF-16, the input's 8-bit
// form and outputs that turn it back (utf16.h), or, for the cleaned file of
// an input that can be read again, a copy of the input's own bytes
// (cleaned_copy.h).
#ifndef PLACEHARVEST_ENCODED_STREAMS_H_
#define PLACEHARVEST_ENCODED_STREAMS_H_

#include <memory>

#include "byte_stream.h"
#include "cleaned_copy.h"
#include "helper_thread.h"
#include "text_encoding.h"
#include "utf16.h"

namespace placeharvest {

class EncodedStreams {
 public:
  EncodedStreams(ByteSource& input, ByteSink& coordinates, ByteSink& cleaned);

  // Reads the input's first bytes and sets up the streams for its
  // encoding. Returns false on a read error, with errno set.
  bool open();

  // Once open() has succeeded.
  ByteSource& source();
  ByteSink& coordinates();
  ByteSink& cleaned();
  // When not null, the cleaned file is written by this, not cleaned().
  CleanedCopy* cleaned_copy() { return cleaned_copy_.get(); }
  // From now on, a UTF-16 input is turned into its 8-bit form on
  // `helper`, a block ahead of the caller, and its cleaned copy written
  // there. See Utf16Source::turn_beside() and CleanedCopy::write_beside().
  // May throw std::bad_alloc.
  void work_beside(HelperThread* helper);

 private:
  PeekedSource peeked_;
  ByteSink& coordinates_;
  ByteSink& cleaned_;
  std::unique_ptr<Utf16Source> utf16_source_;
  std::unique_ptr<Utf16Sink> utf16_coordinates_;
  std::unique_ptr<Utf16Sink> utf16_cleaned_;
  std::unique_ptr<CleanedCopy> cleaned_copy_;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_ENCODED_STREAMS_H_
