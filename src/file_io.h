// The three files of a run, read and written in binary, unbuffered: the
// filter reads whole blocks and writes gathered spans, so a stream
// library's buffer would only add a copy.
#ifndef PLACEHARVEST_FILE_IO_H_
#define PLACEHARVEST_FILE_IO_H_

#include <cstdint>

#include "place_filter.h"

namespace placeharvest {

// What tells two names of one file apart from two files.
struct FileIdentity {
  bool exists = false;
  bool regular = false;
  uint64_t volume = 0;
  uint64_t index = 0;
};

// True when both identities are of one and the same regular file. Devices,
// pipes and the like never count as the same file.
bool same_regular_file(const FileIdentity& first, const FileIdentity& second);

// The identity of the file that `path` names, following symbolic links;
// `exists` is false when there is no such file.
FileIdentity identify_path(const char* path);

// Removes the file that `path` names; false with errno set on failure.
bool remove_file(const char* path);

// Paths are UTF-8 on every platform. Every call that fails returns false (or
// a negative count) with errno set.
class InputFile final : public ByteSource {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() override;

  // Opens `path` for reading. A directory fails with EISDIR.
  bool open(const char* path);
  long long read(char* data, size_t capacity) override;
  // A regular file can be read again; a pipe or a device cannot.
  bool can_read_again() const override;
  long long read_at(uint64_t offset, char* data, size_t capacity) override;
  FileIdentity identity() const;
  bool close();

 private:
  int descriptor_ = -1;
  bool regular_ = false;
};

class OutputFile final : public ByteSink {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile() override;

  // Creates `path`, or empties it when it exists.
  bool create(const char* path);
  bool write(const ByteSpan* spans, size_t count) override;
  FileIdentity identity() const;
  bool close();

 private:
  int descriptor_ = -1;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_FILE_IO_H_
