// What the files of a run have in common on every platform.
#include "file_io.h"

namespace placeharvest {

bool same_file(const FileIdentity& first, const FileIdentity& second) {
  return first.exists && second.exists && !first.device && !second.device &&
         first.volume == second.volume && first.index == second.index;
}

InputFile::~InputFile() { close_descriptor(descriptor_); }

bool InputFile::can_read_again() const { return regular_; }

FileIdentity InputFile::identity() const {
  return identify_descriptor(descriptor_);
}

bool InputFile::read_as_opened() const {
  if (!regular_) return true;
  FileIdentity now = identity();
  return now.exists && now.size == opened_.size &&
         now.modified == opened_.modified && bytes_read_ == opened_.size;
}

bool InputFile::close() { return close_descriptor(descriptor_); }

OutputFile::~OutputFile() { discard(); }

FileIdentity OutputFile::identity() const {
  return identify_descriptor(descriptor_);
}

bool OutputFile::can_empty() const {
  FileIdentity file = identity();
  return !file.regular || file.size == 0 || can_resize_descriptor(descriptor_);
}

bool OutputFile::empty() {
  FileIdentity file = identity();
  // A file that holds nothing has nothing to lose, and is not cut at all.
  if (file.regular && file.size > 0 && !resize_descriptor(descriptor_, 0)) {
    return false;
  }
  emptied_ = true;
  return true;
}

bool OutputFile::settle() {
  return descriptor_ < 0 || settle_descriptor(descriptor_);
}

bool OutputFile::cut_to(uint64_t size) {
  return identity().regular && resize_descriptor(descriptor_, size);
}

bool OutputFile::close() { return close_descriptor(descriptor_); }

}  // namespace placeharvest
