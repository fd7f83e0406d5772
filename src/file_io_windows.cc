// Files on Windows: the C runtime's descriptors in binary mode, so that no
// line end and no Ctrl-Z is translated, opened by UTF-16 names so that any
// file name works, whatever the code page.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "file_io.h"
#include "windows_text.h"

namespace placeharvest {
namespace {

FileIdentity identify_handle(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) return {};
  FileIdentity identity;
  DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_CHAR) {  // NUL, CON
    identity.exists = true;
    identity.device = true;
    return identity;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle, &information)) return {};
  identity.exists = true;
  identity.regular = type == FILE_TYPE_DISK && (information.dwFileAttributes &
                                                FILE_ATTRIBUTE_DIRECTORY) == 0;
  identity.volume = information.dwVolumeSerialNumber;
  identity.index = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) |
                   information.nFileIndexLow;
  identity.size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) |
                  information.nFileSizeLow;
  identity.modified = static_cast<int64_t>(
      (static_cast<uint64_t>(information.ftLastWriteTime.dwHighDateTime)
       << 32) |
      information.ftLastWriteTime.dwLowDateTime);
  return identity;
}

bool write_all(int descriptor, const char* data, size_t size) {
  int fruitless_writes = 0;
  while (size > 0) {
    unsigned int piece = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
    int written = _write(descriptor, data, piece);
    if (written < 0) return false;
    if (written == 0 && ++fruitless_writes == kMostFruitlessWrites) {
      errno = EIO;
      return false;
    }
    if (written > 0) fruitless_writes = 0;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

FileIdentity identify_path(const char* path) {
  // No access asked for: this only looks at the file, and works on a file
  // that another program holds open.
  HANDLE handle =
      CreateFileW(utf16_from_utf8(path).c_str(), 0,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  FileIdentity identity = identify_handle(handle);
  CloseHandle(handle);
  return identity;
}

}  // namespace

FileIdentity identify_descriptor(int descriptor) {
  if (descriptor < 0) return {};
  return identify_handle(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)));
}

FileIdentity standard_error_identity() {
  return identify_handle(GetStdHandle(STD_ERROR_HANDLE));
}

bool close_descriptor(int& descriptor) {
  int closing = descriptor;
  descriptor = -1;
  return closing < 0 || _close(closing) == 0;
}

void prepare_process() {
  // Messages reach the console through its handle, but a missing standard
  // descriptor would still be handed to the first file opened.
  for (int standard = 0; standard <= 2; ++standard) {
    if (_get_osfhandle(standard) != -1) continue;
    int null = _open("NUL", _O_RDWR | _O_BINARY);
    if (null >= 0 && null != standard) {
      _dup2(null, standard);
      _close(null);
    }
  }
}

bool look_at_file(const char* path, size_t head_size, FileStart* start) {
  *start = {};
  start->identity = identify_path(path);
  if (!start->identity.regular) return true;
  int descriptor = _wopen(utf16_from_utf8(path).c_str(), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) return false;
  start->identity = identify_descriptor(descriptor);
  bool whole = read_start(descriptor, head_size, start);
  int error_number = errno;
  _close(descriptor);
  errno = error_number;
  return whole;
}

bool InputFile::open(const char* path) {
  std::wstring name = utf16_from_utf8(path);
  // Windows refuses to open a directory as a file with "permission
  // denied"; the user is better told what it is.
  DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return false;
  }
  descriptor_ = _wopen(name.c_str(), _O_RDONLY | _O_BINARY);
  if (descriptor_ < 0) return false;
  opened_ = identify_descriptor(descriptor_);
  regular_ = opened_.regular;
  return true;
}

long long read_descriptor(int descriptor, char* data, size_t capacity) {
  unsigned int size =
      capacity > INT_MAX ? INT_MAX : static_cast<unsigned>(capacity);
  return _read(descriptor, data, size);
}

long long InputFile::read_at(uint64_t offset, char* data, size_t capacity) {
  // The descriptor has one position, where read() goes on: it is put back.
  __int64 position = _telli64(descriptor_);
  if (position < 0 ||
      _lseeki64(descriptor_, static_cast<__int64>(offset), SEEK_SET) < 0) {
    return -1;
  }
  long long count = read_descriptor(descriptor_, data, capacity);
  int error = errno;
  if (_lseeki64(descriptor_, position, SEEK_SET) < 0) return -1;
  errno = error;
  return count;
}

bool OutputFile::open(const char* path) {
  std::wstring name = utf16_from_utf8(path);
  // Creating with _O_EXCL is what tells a new file from an existing one.
  descriptor_ = _wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                       _S_IREAD | _S_IWRITE);
  if (descriptor_ >= 0) {
    created_ = true;
    created_path_ = path;
    return true;
  }
  if (errno != EEXIST) return false;
  descriptor_ = _wopen(name.c_str(), _O_WRONLY | _O_BINARY);
  return descriptor_ >= 0;
}

bool resize_descriptor(int descriptor, uint64_t size) {
  return _chsize_s(descriptor, static_cast<__int64>(size)) == 0;
}

bool can_resize_descriptor(int descriptor) {
  __int64 size = _filelengthi64(descriptor);
  return size >= 0 && _chsize_s(descriptor, size) == 0;
}

bool settle_descriptor(int descriptor) {
  int copy = _dup(descriptor);
  return copy >= 0 && _close(copy) == 0;
}

void OutputFile::discard() {
  bool remove = !emptied_ && created_ &&
                same_file(identify_path(created_path_.c_str()), identity());
  close_descriptor(descriptor_);
  if (remove) _wunlink(utf16_from_utf8(created_path_).c_str());
}

// There is no gathered write for ordinary files: the writer hands over
// everything in one span, gathered in its own staging buffer.
size_t OutputFile::max_spans_per_write() const { return 1; }

bool OutputFile::write(const ByteSpan* spans, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (!write_all(descriptor_, spans[i].data, spans[i].size)) return false;
    written_ += spans[i].size;
  }
  return true;
}

}  // namespace placeharvest
