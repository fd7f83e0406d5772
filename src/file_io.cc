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

bool InputFile::close() { return close_descriptor(descriptor_); }

OutputFile::~OutputFile() { close_descriptor(descriptor_); }

FileIdentity OutputFile::identity() const {
  return identify_descriptor(descriptor_);
}

bool OutputFile::empty() {
  return !identity().regular || empty_descriptor(descriptor_);
}

bool OutputFile::close() { return close_descriptor(descriptor_); }

}  // namespace placeharvest
