// The three files of a run, read and written in binary, unbuffered: the
// filter reads whole blocks and writes gathered spans, so a stream
// library's buffer would only add a copy.
#ifndef PLACEHARVEST_FILE_IO_H_
#define PLACEHARVEST_FILE_IO_H_

#include <cstdint>
#include <string>

#include "byte_stream.h"

namespace placeharvest {

// What tells two names of one file apart from two files.
struct FileIdentity {
  bool exists = false;
  bool regular = false;
  bool device = false;  // a terminal, /dev/null, NUL and the like
  uint64_t volume = 0;
  uint64_t index = 0;
};

// True when both identities are of one and the same file, one that cannot
// serve as two of a run's files: a regular file, a FIFO, a pipe. Devices
// never count as the same file, so /dev/null may take both outputs.
bool same_file(const FileIdentity& first, const FileIdentity& second);

// Makes sure that the standard descriptors (input, output, error) are open,
// on the null device where they are not, so that no file of the run is
// opened in their place and gets the messages meant for standard error.
// Also sees to it that a file-size limit fails a write instead of ending
// the program. Call it first.
void prepare_process();

// What an existing file is and how it begins, looked at without changing
// it or waiting for it (a FIFO is not opened).
struct FileStart {
  FileIdentity identity;  // identity.exists is false when there is no file
  std::string head;       // the first bytes of a regular file
};

// Fills `start` for the file `path` names, following symbolic links, with
// up to `head_size` bytes of its start. Returns false when it is a regular
// file that cannot be read; a name that cannot be looked at counts as no
// file.
bool look_at_file(const char* path, size_t head_size, FileStart* start);

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

  // Opens `path` for writing without emptying it, creating it when there is
  // no such file; created() tells which.
  bool open(const char* path);
  bool created() const { return created_; }
  FileIdentity identity() const;
  // Empties the opened file, once it is known to be safe to write.
  bool empty();
  // Closes the file, and removes it when this run created it and its name
  // still names it. A symbolic link is never removed.
  void discard();
  bool write(const ByteSpan* spans, size_t count) override;
  size_t max_spans_per_write() const override;
  bool close();

 private:
  int descriptor_ = -1;
  bool created_ = false;
  std::string created_path_;  // where the created file is, links resolved
};

// What each platform's file gives the classes above: the identity of an open
// descriptor, emptying one, and closing one (set to -1 even on a failure,
// so that it is never closed twice).
FileIdentity identify_descriptor(int descriptor);
bool empty_descriptor(int descriptor);
bool close_descriptor(int& descriptor);

}  // namespace placeharvest

#endif  // PLACEHARVEST_FILE_IO_H_
