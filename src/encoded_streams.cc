#include "encoded_streams.h"

namespace placeharvest {

EncodedStreams::EncodedStreams(ByteSource& input, ByteSink& coordinates,
                               ByteSink& cleaned)
    : peeked_(input), coordinates_(coordinates), cleaned_(cleaned) {}

bool EncodedStreams::open() {
  if (!peeked_.peek()) return false;
  Encoding encoding = detect_encoding(peeked_.peeked());
  if (encoding == Encoding::kBytes) return true;
  utf16_source_ = std::make_unique<Utf16Source>(peeked_, encoding);
  // The coordinates file gets a byte-order mark when the input has one;
  // the cleaned file keeps the input's own, which its first line holds.
  utf16_coordinates_ = std::make_unique<Utf16Sink>(
      coordinates_, encoding, has_byte_order_mark(peeked_.peeked(), encoding));
  if (peeked_.can_read_again()) {
    cleaned_copy_ =
        std::make_unique<CleanedCopy>(peeked_, *utf16_source_, cleaned_);
  } else {
    utf16_cleaned_ = std::make_unique<Utf16Sink>(cleaned_, encoding, false);
  }
  return true;
}

void EncodedStreams::work_beside(HelperThread* helper) {
  if (utf16_source_) utf16_source_->turn_beside(helper);
  if (cleaned_copy_) cleaned_copy_->write_beside(helper);
}

ByteSource& EncodedStreams::source() {
  if (utf16_source_) return *utf16_source_;
  return peeked_;
}

ByteSink& EncodedStreams::coordinates() {
  if (utf16_coordinates_) return *utf16_coordinates_;
  return coordinates_;
}

ByteSink& EncodedStreams::cleaned() {
  if (utf16_cleaned_) return *utf16_cleaned_;
  return cleaned_;
}

}  // namespace placeharvest
