#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>

#include "file_io.h"

namespace placeharvest {
namespace {

#ifdef IOV_MAX
constexpr size_t kMaxVectors = IOV_MAX;
#else
constexpr size_t kMaxVectors = 16;  // the least POSIX allows
#endif

FileIdentity identity_of(const struct stat& status) {
  FileIdentity identity;
  identity.exists = true;
  identity.regular = S_ISREG(status.st_mode);
  identity.device = S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode);
  identity.volume = static_cast<uint64_t>(status.st_dev);
  identity.index = static_cast<uint64_t>(status.st_ino);
  return identity;
}

}  // namespace

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

void prepare_process() {
  for (int standard = 0; standard <= 2; ++standard) {
    if (::fcntl(standard, F_GETFD) == -1 && errno == EBADF) {
      // The lowest free descriptor is the one that is missing.
      if (::open("/dev/null", O_RDWR) < 0) std::abort();
    }
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

bool look_at_file(const char* path, size_t head_size, FileStart* start) {
  *start = {};
  struct stat status;
  if (::stat(path, &status) != 0) return true;  // opening it will tell
  start->identity = identity_of(status);
  if (!S_ISREG(status.st_mode)) return true;
  // O_NONBLOCK: should the name turn into a FIFO meanwhile, the open does
  // not wait for a writer.
  int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) return false;
  start->identity = identify_descriptor(descriptor);
  if (start->identity.regular) {
    start->head.resize(head_size);
    ssize_t count = ::read(descriptor, start->head.data(), head_size);
    start->head.resize(count > 0 ? static_cast<size_t>(count) : 0);
  }
  ::close(descriptor);
  return true;
}

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

long long InputFile::read_at(uint64_t offset, char* data, size_t capacity) {
  for (;;) {
    ssize_t count =
        ::pread(descriptor_, data, capacity, static_cast<off_t>(offset));
    if (count >= 0 || errno != EINTR) return count;
  }
}

bool OutputFile::open(const char* path) {
  constexpr int kFlags = O_WRONLY | O_NOCTTY | O_CLOEXEC;
  // Creating with O_EXCL is what tells a new file from an existing one.
  descriptor_ = ::open(path, kFlags | O_CREAT | O_EXCL, 0666);
  if (descriptor_ >= 0) {
    created_ = true;
    created_path_ = path;
    return true;
  }
  if (errno != EEXIST) return false;
  descriptor_ = ::open(path, kFlags);
  if (descriptor_ >= 0 || errno != ENOENT) return descriptor_ >= 0;
  // A symbolic link to a file that does not exist yet: the file is made
  // where the link points, and only that file is ever removed.
  descriptor_ = ::open(path, kFlags | O_CREAT, 0666);
  if (descriptor_ < 0) return false;
  created_ = true;
  if (char* resolved = ::realpath(path, nullptr)) {
    created_path_ = resolved;
    std::free(resolved);
  }
  return true;
}

bool empty_descriptor(int descriptor) {
  for (;;) {
    if (::ftruncate(descriptor, 0) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void OutputFile::discard() {
  if (created_ && !created_path_.empty()) {
    struct stat status;
    if (::lstat(created_path_.c_str(), &status) == 0 &&
        S_ISREG(status.st_mode) && same_file(identity_of(status), identity())) {
      ::unlink(created_path_.c_str());
    }
  }
  close_descriptor(descriptor_);
}

size_t OutputFile::max_spans_per_write() const { return kMaxVectors; }

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

}  // namespace placeharvest
