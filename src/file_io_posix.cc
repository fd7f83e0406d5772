#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <string>

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
  identity.size = static_cast<uint64_t>(status.st_size);
  identity.modified = static_cast<int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                      status.st_mtim.tv_nsec;
  return identity;
}

// A chain of links to files that do not exist yet is followed this far, as
// the system itself follows links.
constexpr int kMostLinks = 40;

// Where the symbolic link `name` points, as a name usable from here.
bool link_target(const std::string& name, std::string* target) {
  std::string read(PATH_MAX, '\0');
  ssize_t size = ::readlink(name.c_str(), read.data(), read.size());
  if (size < 0) return false;
  if (static_cast<size_t>(size) == read.size()) {
    errno = ENAMETOOLONG;
    return false;
  }
  read.resize(static_cast<size_t>(size));
  size_t slash = name.rfind('/');
  if (read[0] == '/' || slash == std::string::npos) {
    *target = read;
  } else {
    *target = name.substr(0, slash + 1) + read;
  }
  return true;
}

}  // namespace

FileIdentity identify_descriptor(int descriptor) {
  struct stat status;
  if (descriptor < 0 || ::fstat(descriptor, &status) != 0) return {};
  return identity_of(status);
}

FileIdentity standard_error_identity() {
  return identify_descriptor(STDERR_FILENO);
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
  // not wait for a writer, and a file under a lease is not waited for.
  int descriptor = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) return false;
  start->identity = identify_descriptor(descriptor);
  bool whole =
      !start->identity.regular || read_start(descriptor, head_size, start);
  int error_number = errno;
  ::close(descriptor);
  errno = error_number;
  return whole;
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
  opened_ = identity_of(status);
  return true;
}

long long read_descriptor(int descriptor, char* data, size_t capacity) {
  for (;;) {
    ssize_t count = ::read(descriptor, data, capacity);
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
  std::string name = path;
  for (int link = 0; link < kMostLinks; ++link) {
    // Only an exclusive create tells a new file from an existing one; it
    // follows no link.
    descriptor_ = ::open(name.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
    if (descriptor_ >= 0) {
      created_ = true;
      created_path_ = name;
      return true;
    }
    if (errno != EEXIST) return false;
    descriptor_ = ::open(name.c_str(), kFlags);
    if (descriptor_ >= 0 || errno != ENOENT) return descriptor_ >= 0;
    // The name is a symbolic link to no file, or was removed meanwhile:
    // the file the link names is made, exclusively, and nothing else.
    std::string target;
    if (link_target(name, &target)) {
      name = target;
    } else if (errno != ENOENT && errno != EINVAL) {
      return false;
    }
  }
  errno = ELOOP;
  return false;
}

bool resize_descriptor(int descriptor, uint64_t size) {
  for (;;) {
    if (::ftruncate(descriptor, static_cast<off_t>(size)) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool can_resize_descriptor(int descriptor) {
#ifdef F_GET_SEALS
  // A sealed memfd takes a resize to its own size, but no other.
  int seals = ::fcntl(descriptor, F_GET_SEALS);
  if (seals > 0 && (seals & (F_SEAL_SHRINK | F_SEAL_WRITE)) != 0) {
    errno = EPERM;
    return false;
  }
#endif
  struct stat status;
  if (::fstat(descriptor, &status) != 0) return false;
  return resize_descriptor(descriptor, static_cast<uint64_t>(status.st_size));
}

bool settle_descriptor(int descriptor) {
  // Closing any descriptor of a file is what makes NFS, SMB and FUSE send
  // its data and report what failed; a copy is closed, so the file stays
  // open. A local file system has reported its failures at each write, so
  // this costs nothing there.
  int copy = ::dup(descriptor);
  return copy >= 0 && ::close(copy) == 0;
}

void OutputFile::discard() {
  if (!emptied_ && created_) {
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
  // Not on the stack, which may be very small (ulimit -s); one for each
  // thread, as outputs may be written on a helper thread.
  thread_local struct iovec vectors[kMaxVectors < 1024 ? kMaxVectors : 1024];
  constexpr size_t kVectorCount = sizeof vectors / sizeof vectors[0];
  size_t next = 0;  // the first span not yet written whole
  size_t written_of_next = 0;
  int fruitless_writes = 0;
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
    if (written == 0 && ++fruitless_writes == kMostFruitlessWrites) {
      errno = EIO;
      return false;
    }
    if (written > 0) fruitless_writes = 0;
    written_ += static_cast<uint64_t>(written);
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
