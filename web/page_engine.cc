// The page's engine: the filter and the program's own report, compiled to
// WebAssembly and driven by the page's script (engine.js). The script hands
// in the input's bytes and takes out both outputs' bytes; the report goes
// to standard error, which the script shows as it stands. Every rule stays
// here, in the code the console program runs.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "diagnostics.h"
#include "place_filter.h"
#include "run_report.h"

#define PLACEHARVEST_IMPORT(name) \
  extern "C" __attribute__((import_module("placeharvest"), import_name(#name)))
#define PLACEHARVEST_EXPORT(name) extern "C" __attribute__((export_name(#name)))

// Reads up to `capacity` input bytes, from where the last read ended or from
// `offset`; returns how many, 0 at the end, or -1 when reading failed.
PLACEHARVEST_IMPORT(read_input) double read_input(char* data, size_t capacity);
PLACEHARVEST_IMPORT(read_input_at)
double read_input_at(double offset, char* data, size_t capacity);
// Takes `size` bytes of output 0 (coordinates) or 1 (cleaned).
PLACEHARVEST_IMPORT(write_output)
void write_output(int output, const char* data, size_t size);
// Memory ran out; the engine stops at once after this call.
PLACEHARVEST_IMPORT(out_of_memory) void out_of_memory();

namespace placeharvest {
namespace {

class PageInput final : public ByteSource {
 public:
  long long read(char* data, size_t capacity) override {
    return checked(read_input(data, capacity));
  }
  // A file chosen on the page can be read again from any offset, so line
  // numbers are counted only when a message needs one.
  bool can_read_again() const override { return true; }
  long long read_at(uint64_t offset, char* data, size_t capacity) override {
    return checked(read_input_at(static_cast<double>(offset), data, capacity));
  }

 private:
  static long long checked(double count) {
    if (count < 0) errno = EIO;
    return static_cast<long long>(count);
  }
};

// Hands the script large pieces: a call out of the module costs far more
// than copying a short span within it.
class PageOutput final : public ByteSink {
 public:
  explicit PageOutput(int output) : output_(output) {}
  bool write(const ByteSpan* spans, size_t count) override {
    for (size_t i = 0; i < count; ++i) {
      if (spans[i].size > kPieceSize - used_) hand_over();
      if (spans[i].size >= kPieceSize) {
        write_output(output_, spans[i].data, spans[i].size);
      } else {
        std::memcpy(piece_.get() + used_, spans[i].data, spans[i].size);
        used_ += spans[i].size;
      }
    }
    return true;
  }
  size_t max_spans_per_write() const override { return 1024; }
  // Hands over what is gathered; the run's last call.
  void hand_over() {
    if (used_ > 0) write_output(output_, piece_.get(), used_);
    used_ = 0;
  }

 private:
  static constexpr size_t kPieceSize = 1 << 20;
  const int output_;
  std::unique_ptr<char[]> piece_{new char[kPieceSize]};
  size_t used_ = 0;
};

ExtractResult last_result;

}  // namespace
}  // namespace placeharvest

// Without exceptions there is nothing to unwind to: running out of memory
// is said to the script, which ends the run and reports it.
void* operator new(size_t size) {
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) {
    out_of_memory();
    __builtin_trap();
  }
  return memory;
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, size_t) noexcept { std::free(memory); }

PLACEHARVEST_EXPORT(allocate) void* allocate(size_t size) {
  return std::malloc(size);
}

// Splits the input, reports on standard error as the console program does,
// and returns its exit status. The names are UTF-8, ended by a NUL.
PLACEHARVEST_EXPORT(split)
int split(const char* input, const char* coordinates, const char* cleaned) {
  using namespace placeharvest;
  PageInput source;
  PageOutput coordinates_output(0);
  PageOutput cleaned_output(1);
  last_result = extract_places(source, coordinates_output, cleaned_output);
  coordinates_output.hand_over();
  cleaned_output.hand_over();
  return report_extraction(last_result, {input, coordinates, cleaned})
             ? kExitSuccess
             : kExitFailure;
}

// After split(): whether the coordinates file got its trailer, which a run
// that failed never gives it, and how many place records it holds.
PLACEHARVEST_EXPORT(coordinates_whole) int coordinates_whole() {
  using placeharvest::ExtractStatus;
  return placeharvest::last_result.status == ExtractStatus::kComplete ||
         placeharvest::last_result.status == ExtractStatus::kCutShortRecord;
}
PLACEHARVEST_EXPORT(place_records) double place_records() {
  return static_cast<double>(placeharvest::last_result.place_records);
}

// Says that memory ran out while reading `input`, as the console program
// does, once out_of_memory() has ended a run.
PLACEHARVEST_EXPORT(report_out_of_memory)
void report_out_of_memory(const char* input) {
  placeharvest::report_out_of_memory(input);
}
