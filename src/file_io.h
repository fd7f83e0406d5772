// The three files of a run, read and written in binary, unbuffered: the
// filter reads whole blocks and writes gathered spans, so a stream
// library's buffer would only add a copy.
#ifndef PLACEHARVEST_FILE_IO_H_
#define PLACEHARVEST_FILE_IO_H_

#include <cstdint>
#include <string>

#include "byte_stream.h"

namespace placeharvest {

// What tells two names of one file apart from two files, and what tells a
// file that changed.
struct FileIdentity {
  bool exists = false;
  bool regular = false;
  bool device = false;  // a terminal, /dev/null, NUL and the like
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t size = 0;
  // The last modification, in the system's finest unit (nanoseconds on
  // POSIX, 100 ns on Windows).
  int64_t modified = 0;
};

// True when both identities are of one and the same file, one that cannot
// serve as two of a run's files: a regular file, a FIFO, a pipe. Devices
// never count as the same file, so /dev/null may take both outputs.
bool same_file(const FileIdentity& first, const FileIdentity& second);

// The identity of the program's standard error.
FileIdentity standard_error_identity();

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
// the first `head_size` bytes of a regular file, or all of a shorter one.
// Returns false, with errno set, when a regular file cannot be opened or
// read that far; a name that cannot be looked at counts as no file.
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
  uint64_t expected_size() const override {
    return regular_ ? opened_.size : 0;
  }
  // The file as it is now, and as it was when opened.
  FileIdentity identity() const;
  const FileIdentity& identity_when_opened() const { return opened_; }
  // Once read() has reached the end: true unless a regular file changed
  // since it was opened (its size or modification time) or read() gave
  // more or fewer bytes than its size.
  bool read_as_opened() const;
  bool close();

 private:
  int descriptor_ = -1;
  bool regular_ = false;
  FileIdentity opened_;
  uint64_t bytes_read_ = 0;
};

class OutputFile final : public ByteSink {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Discards the file (see discard()) unless it was emptied.
  ~OutputFile() override;

  // Opens `path` for writing without emptying it. When there is no such
  // file it is created, and created() says so: only an exclusive create
  // counts, so that a file is never taken for new that existed before. A
  // symbolic link to no file creates exactly the file it names.
  bool open(const char* path);
  bool created() const { return created_; }
  FileIdentity identity() const;
  // Tries what emptying the file needs, changing nothing: false where the
  // file system or the file refuses to be cut (a sealed memfd, a file
  // system without truncation).
  bool can_empty() const;
  // Empties the opened file, once it is known to be safe to write; from
  // then on the file is kept whatever happens.
  bool empty();
  // Unless the file was emptied: closes it, and removes it when this run
  // created it and its name still names it. A symbolic link is never
  // removed.
  void discard();
  bool write(const ByteSpan* spans, size_t count) override;
  size_t max_spans_per_write() const override;
  // The bytes written since the file was emptied.
  uint64_t size_written() const { return written_; }
  // Has the system do what closing the file would, keeping it open: a
  // network file system sends the data and reports a failure only then.
  bool settle();
  // Cuts the file back to its first `size` bytes (a regular file only).
  bool cut_to(uint64_t size);
  bool close();

 private:
  int descriptor_ = -1;
  bool created_ = false;
  bool emptied_ = false;
  std::string created_path_;  // the name the exclusive create made
  uint64_t written_ = 0;
};

// What each platform's file gives the classes above: the identity of an open
// descriptor, resizing one, trying that a resize would be allowed, making
// the system settle a written file as closing it would, and closing one
// (set to -1 even on a failure, so that it is never closed twice).
FileIdentity identify_descriptor(int descriptor);
// Reads up to `capacity` bytes, as the system's read does: 0 at the end, a
// negative count with errno set on a failure.
long long read_descriptor(int descriptor, char* data, size_t capacity);
bool resize_descriptor(int descriptor, uint64_t size);
bool can_resize_descriptor(int descriptor);
bool settle_descriptor(int descriptor);
bool close_descriptor(int& descriptor);

// What both platforms' look_at_file() do with the open regular file
// `descriptor`, whose identity `start` holds: read its first `head_size`
// bytes, or all of a shorter file, into start->head. Returns false, with
// errno set, when a read fails or gives fewer bytes than the file's size
// promised.
bool read_start(int descriptor, size_t head_size, FileStart* start);

// Writes that take nothing are tried this often before the file counts as
// failing, so that a file system that never takes a byte cannot hold the
// run forever.
inline constexpr int kMostFruitlessWrites = 16;

}  // namespace placeharvest

#endif  // PLACEHARVEST_FILE_IO_H_
