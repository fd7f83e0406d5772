// Test-only: loaded into PlaceHarvest with LD_PRELOAD, it makes one chosen
// system call fail, to show that every failure below the program is
// reported. PLACEHARVEST_FAULT names the call:
//
//   <file>:<call>:<n>
//
// acts at the n-th <call> on the file whose path ends in <file>: "write" (a
// write or writev fails with ENOSPC), "write-nothing" (that write and every
// later one take no byte), "close" (fails with EIO, after closing; a copy
// made with dup counts as the file), "read" (a read fails with EIO),
// "read-again" (a pread fails with EIO), "truncate" (an ftruncate fails
// with EPERM), and "grow" or "shrink" (before that read, another writer
// adds a line to the file, or cuts it to half its size).
//
//   <file>:relink:<n>:<target>
//
// plays a second program that swaps names: just before the n-th open of a
// path that ends in <file> the name is removed, and just before the next
// one it is made a symbolic link to <target>.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

struct Fault {
  std::string file;
  std::string call;
  int nth = 0;
  std::string link_target;  // for "relink"
  int opens = 0;            // of paths ending in file, for "relink"
  std::string path;         // as the program opened it
  int target = -1;          // the descriptor of the file, once opened
  int copy = -1;            // a dup() of it
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
    size_t third = text.find(':', second + 1);
    if (third != std::string::npos) f.link_target = text.substr(third + 1);
    return f;
  }();
  return parsed;
}

template <typename Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool names_the_file(const char* path) {
  const Fault& f = fault();
  size_t length = std::strlen(path);
  return !f.file.empty() && length >= f.file.size() &&
         std::strcmp(path + length - f.file.size(), f.file.c_str()) == 0;
}

void before_open(const char* path) {
  Fault& f = fault();
  if (f.call != "relink" || !names_the_file(path)) return;
  ++f.opens;
  if (f.opens == f.nth) ::unlink(path);
  if (f.opens == f.nth + 1 && ::symlink(f.link_target.c_str(), path) != 0) {
    std::abort();
  }
}

void note_open(const char* path, int descriptor) {
  Fault& f = fault();
  if (descriptor >= 0 && names_the_file(path)) {
    f.target = descriptor;
    f.path = path;
  }
}

// True when this call is the one to fail, or, for a fault that lasts, one
// after it.
bool strikes(int descriptor, const char* call, bool lasting = false) {
  Fault& f = fault();
  if ((descriptor != f.target && descriptor != f.copy) || f.call != call) {
    return false;
  }
  ++f.calls;
  return lasting ? f.calls >= f.nth : f.calls == f.nth;
}

// Another program changes the file under the reader.
void change_file(bool grow) {
  const std::string& path = fault().path;
  if (grow) {
    int appending = ::open(path.c_str(), O_WRONLY | O_APPEND);
    const char line[] = "1 NOTE added meanwhile\n";
    if (::write(appending, line, sizeof line - 1) < 0) std::abort();
    ::close(appending);
  } else {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0 ||
        ::truncate(path.c_str(), status.st_size / 2) != 0) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" {

// Programs built with 64-bit file offsets call open64 instead of open.
static int open_noting(const char* name, const char* path, int flags,
                       mode_t mode) {
  before_open(path);
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
  for (bool grow : {true, false}) {
    if (strikes(descriptor, grow ? "grow" : "shrink")) change_file(grow);
  }
  return real<ssize_t (*)(int, void*, size_t)>("read")(descriptor, data, size);
}

ssize_t write(int descriptor, const void* data, size_t size) {
  if (strikes(descriptor, "write")) {
    errno = ENOSPC;
    return -1;
  }
  if (strikes(descriptor, "write-nothing", true)) return 0;
  return real<ssize_t (*)(int, const void*, size_t)>("write")(descriptor, data,
                                                              size);
}

ssize_t writev(int descriptor, const struct iovec* vectors, int count) {
  if (strikes(descriptor, "write")) {
    errno = ENOSPC;
    return -1;
  }
  if (strikes(descriptor, "write-nothing", true)) return 0;
  return real<ssize_t (*)(int, const struct iovec*, int)>("writev")(
      descriptor, vectors, count);
}

int dup(int descriptor) {
  int copy = real<int (*)(int)>("dup")(descriptor);
  if (descriptor == fault().target) fault().copy = copy;
  return copy;
}

static int truncating(const char* name, int descriptor, off_t size) {
  if (strikes(descriptor, "truncate")) {
    errno = EPERM;
    return -1;
  }
  return real<int (*)(int, off_t)>(name)(descriptor, size);
}

int ftruncate(int descriptor, off_t size) {
  return truncating("ftruncate", descriptor, size);
}

int ftruncate64(int descriptor, off_t size) {
  return truncating("ftruncate64", descriptor, size);
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
