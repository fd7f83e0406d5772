// Test-only: loaded into PlaceHarvest with LD_PRELOAD, it makes one chosen
// system call fail, to show that every failure below the program is
// reported. PLACEHARVEST_FAULT names the call:
//
//   <file>:<call>:<n>
//
// fails the n-th <call> on the file whose path ends in <file>: "write" (a
// write or writev, with ENOSPC), "close" (with EIO, after closing), "read"
// (a read, with EIO) or "read-again" (a pread, with EIO).
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Fault {
  std::string file;
  std::string call;
  int nth = 0;
  int target = -1;  // the descriptor of the file, once opened
  int calls = 0;
};

Fault& fault() {
  static Fault parsed = [] {
    Fault f;
    const char* setting = std::getenv("PLACEHARVEST_FAULT");
    if (setting == nullptr) return f;
    std::string text = setting;
    size_t first = text.find(':');
    size_t second = text.find(':', first + 1);
    f.file = text.substr(0, first);
    f.call = text.substr(first + 1, second - first - 1);
    f.nth = std::atoi(text.c_str() + second + 1);
    return f;
  }();
  return parsed;
}

template <typename Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

void note_open(const char* path, int descriptor) {
  Fault& f = fault();
  size_t length = std::strlen(path);
  if (descriptor >= 0 && !f.file.empty() && length >= f.file.size() &&
      std::strcmp(path + length - f.file.size(), f.file.c_str()) == 0) {
    f.target = descriptor;
  }
}

// True when this call is the one to fail.
bool strikes(int descriptor, const char* call) {
  Fault& f = fault();
  return descriptor == f.target && f.call == call && ++f.calls == f.nth;
}

}  // namespace

extern "C" {

// Programs built with 64-bit file offsets call open64 instead of open.
static int open_noting(const char* name, const char* path, int flags,
                       mode_t mode) {
  int descriptor =
      real<int (*)(const char*, int, ...)>(name)(path, flags, mode);
  note_open(path, descriptor);
  return descriptor;
}

int open(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = va_arg(arguments, mode_t);
  va_end(arguments);
  return open_noting("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  mode_t mode = va_arg(arguments, mode_t);
  va_end(arguments);
  return open_noting("open64", path, flags, mode);
}

ssize_t read(int descriptor, void* data, size_t size) {
  if (strikes(descriptor, "read")) {
    errno = EIO;
    return -1;
  }
  return real<ssize_t (*)(int, void*, size_t)>("read")(descriptor, data, size);
}

ssize_t write(int descriptor, const void* data, size_t size) {
  if (strikes(descriptor, "write")) {
    errno = ENOSPC;
    return -1;
  }
  return real<ssize_t (*)(int, const void*, size_t)>("write")(descriptor, data,
                                                              size);
}

ssize_t writev(int descriptor, const struct iovec* vectors, int count) {
  if (strikes(descriptor, "write")) {
    errno = ENOSPC;
    return -1;
  }
  return real<ssize_t (*)(int, const struct iovec*, int)>("writev")(
      descriptor, vectors, count);
}

int close(int descriptor) {
  bool fails = strikes(descriptor, "close");
  int result = real<int (*)(int)>("close")(descriptor);
  if (fails) {
    errno = EIO;
    return -1;
  }
  return result;
}

// Programs built with 64-bit file offsets call pread64 instead of pread.
static ssize_t read_again(const char* name, int descriptor, void* data,
                          size_t size, off_t offset) {
  if (strikes(descriptor, "read-again")) {
    errno = EIO;
    return -1;
  }
  return real<ssize_t (*)(int, void*, size_t, off_t)>(name)(descriptor, data,
                                                            size, offset);
}

ssize_t pread(int descriptor, void* data, size_t size, off_t offset) {
  return read_again("pread", descriptor, data, size, offset);
}

ssize_t pread64(int descriptor, void* data, size_t size, off_t offset) {
  return read_again("pread64", descriptor, data, size, offset);
}

}  // extern "C"
