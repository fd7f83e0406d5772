// What the files of a run have in common on every platform.
#include "file_io.h"

#include <cerrno>

namespace placeharvest {

bool same_file(const FileIdentity& first, const FileIdentity& second) {
  return first.exists && second.exists && !first.device && !second.device &&
         first.volume == second.volume && first.index == second.index;
}

bool read_start(int descriptor, size_t head_size, FileStart* start) {
  // Reads may stop short of what was asked: read on to the end.
  start->head.resize(head_size);
  size_t got = 0;
  while (got < head_size) {
    long long count =
        read_descriptor(descriptor, start->head.data() + got, head_size - got);
    if (count < 0) {
      start->head.resize(got);
      return false;
    }
    if (count == 0) break;
    got += static_cast<size_t>(count);
  }
  start->head.resize(got);
  // Fewer bytes than the file's size promised: its start is not known.
  if (got < head_size && got < start->identity.size) {
    errno = EIO;
    return false;
  }
  return true;
}

InputFile::~InputFile() { close_descriptor(descriptor_); }

long long InputFile::read(char* data, size_t capacity) {
  long long count = read_descriptor(descriptor_, data, capacity);
  if (count > 0) bytes_read_ += static_cast<uint64_t>(count);
  return count;
}

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
