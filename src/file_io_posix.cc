#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "file_io.h"

namespace placeharvest {
namespace {

#ifdef IOV_MAX
constexpr size_t kMaxVectors = IOV_MAX;
#else
constexpr size_t kMaxVectors = 16;
#endif

FileIdentity identity_of(const struct stat& status) {
  FileIdentity identity;
  identity.exists = true;
  identity.regular = S_ISREG(status.st_mode);
  identity.volume = static_cast<uint64_t>(status.st_dev);
  identity.index = static_cast<uint64_t>(status.st_ino);
  return identity;
}

FileIdentity identify_descriptor(int descriptor) {
  struct stat status;
  if (descriptor < 0 || ::fstat(descriptor, &status) != 0) return {};
  return identity_of(status);
}

bool close_descriptor(int& descriptor) {
  int closing = descriptor;
  descriptor = -1;
  // After a failed close the descriptor is gone all the same (POSIX leaves
  // it unspecified, Linux frees it), so it is never closed twice.
  return closing < 0 || ::close(closing) == 0;
}

}  // namespace

bool same_regular_file(const FileIdentity& first, const FileIdentity& second) {
  return first.exists && second.exists && first.regular && second.regular &&
         first.volume == second.volume && first.index == second.index;
}

FileIdentity identify_path(const char* path) {
  struct stat status;
  if (::stat(path, &status) != 0) return {};
  return identity_of(status);
}

bool remove_file(const char* path) { return ::unlink(path) == 0; }

InputFile::~InputFile() { close_descriptor(descriptor_); }

bool InputFile::open(const char* path) {
  descriptor_ = ::open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor_ < 0) return false;
  struct stat status;
  if (::fstat(descriptor_, &status) != 0) return true;  // reads will tell
  // Reading a directory fails only at the first read; saying so now keeps
  // the outputs from being created for nothing.
  if (S_ISDIR(status.st_mode)) {
    close_descriptor(descriptor_);
    errno = EISDIR;
    return false;
  }
  regular_ = S_ISREG(status.st_mode);
  return true;
}

long long InputFile::read(char* data, size_t capacity) {
  for (;;) {
    ssize_t count = ::read(descriptor_, data, capacity);
    if (count >= 0 || errno != EINTR) return count;
  }
}

bool InputFile::can_read_again() const { return regular_; }

long long InputFile::read_at(uint64_t offset, char* data, size_t capacity) {
  for (;;) {
    ssize_t count =
        ::pread(descriptor_, data, capacity, static_cast<off_t>(offset));
    if (count >= 0 || errno != EINTR) return count;
  }
}

FileIdentity InputFile::identity() const {
  return identify_descriptor(descriptor_);
}

bool InputFile::close() { return close_descriptor(descriptor_); }

OutputFile::~OutputFile() { close_descriptor(descriptor_); }

bool OutputFile::create(const char* path) {
  descriptor_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return descriptor_ >= 0;
}

bool OutputFile::write(const ByteSpan* spans, size_t count) {
  struct iovec vectors[kMaxVectors < 1024 ? kMaxVectors : 1024];
  constexpr size_t kVectorCount = sizeof vectors / sizeof vectors[0];
  size_t next = 0;  // the first span not yet written whole
  size_t written_of_next = 0;
  for (;;) {
    while (next < count && written_of_next == spans[next].size) {
      ++next;
      written_of_next = 0;
    }
    if (next == count) return true;
    size_t used = 0;
    for (size_t i = next; i < count && used < kVectorCount; ++i, ++used) {
      size_t skip = i == next ? written_of_next : 0;
      vectors[used].iov_base = const_cast<char*>(spans[i].data + skip);
      vectors[used].iov_len = spans[i].size - skip;
    }
    ssize_t written = ::writev(descriptor_, vectors, static_cast<int>(used));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    // writev may stop short (a pipe, a signal); go on from where it did.
    size_t left = static_cast<size_t>(written);
    while (left > 0) {
      size_t rest = spans[next].size - written_of_next;
      if (left < rest) {
        written_of_next += left;
        break;
      }
      left -= rest;
      ++next;
      written_of_next = 0;
    }
  }
}

FileIdentity OutputFile::identity() const {
  return identify_descriptor(descriptor_);
}

bool OutputFile::close() { return close_descriptor(descriptor_); }

}  // namespace placeharvest
