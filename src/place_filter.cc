#include "place_filter.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <new>
#include <string_view>

#include "coordinates_block.h"
#include "encoded_streams.h"
#include "helper_thread.h"
#include "line_finder.h"
#include "place_record.h"
#include "span_writer.h"

namespace placeharvest {
namespace {

class Extractor {
 public:
  // `helper` must outlive `streams`, which may hand it work.
  Extractor(EncodedStreams& streams, HelperThread& helper, size_t block_size,
            const RunCheckpoints& checkpoints)
      : checkpoints_(checkpoints),
        streams_(streams),
        helper_(helper),
        read_before_writing_beside_(read_before_writing_beside(
            streams.source().expected_size(), block_size)),
        coordinates_(streams.coordinates()),
        cleaned_(streams.cleaned()),
        cleaned_copy_(streams.cleaned_copy()),
        lines_(streams.source(), kPlaceLineMarker, block_size,
               [this] { return before_move(); }) {
    if (cleaned_copy_ != nullptr) lines_.tell_taken(cleaned_copy_);
  }
  // What is being written may point into the finder's buffer.
  ~Extractor() { helper_.wait(); }

  ExtractResult run();

 private:
  static_assert(SpanWriter::kWritesInFlight <= InputBuffer::kMovesLeftBehind,
                "the bytes a write beside borrows stay until it is done");
  // Spans still to be written, and the record being read, may point into
  // the finder's buffer.
  bool before_move() {
    records_.keep_text();
    if (!writing_beside_ &&
        lines_.position().offset >= read_before_writing_beside_) {
      writing_beside_ = true;
      streams_.work_beside(&helper_);
      // The coordinates file, a few hundredths of the bytes, is still
      // written here: its writes then go on while the helper writes the
      // cleaned file, rather than between them. Side by side, 100 MB trees
      // took 0.91 to 0.96 times as long, a 3 MB tree 0.82 times.
      cleaned_.write_beside(&helper_);
      lines_.leave_bytes_behind(&helper_);
    }
    return coordinates_.send() && cleaned_.send() && !copy_failed();
  }
  bool failed() const {
    return coordinates_.failed() || cleaned_.failed() || copy_failed();
  }
  bool copy_failed() const {
    return cleaned_copy_ != nullptr &&
           (cleaned_copy_->read_failed() || cleaned_copy_->write_failed());
  }
  void write_cleaned(std::string_view run);
  ExtractResult finish();
  ExtractResult stopped();
  ExtractResult failed_write();
  static bool passes(const std::function<bool()>& checkpoint) {
    return !checkpoint || checkpoint();
  }

  // The cleaned file is written (and UTF-16 turned) beside the reading
  // once this much has been read: the helper's thread and fresh pages cost
  // about as much as writing a tree of 2 MB beside saves (measured with the
  // helper on a processor of its own). Small blocks, as in the tests and the
  // fuzzer, go beside after 80 blocks.
  static constexpr uint64_t kReadBeforeWritingBeside = 2 << 20;
  static constexpr size_t kMostBlocksBeforeWritingBeside = 80;
  // An input expected to reach the switch is written beside from its first
  // block: the thread and the buffers beside are paid for either way, and
  // the blocks before the switch are then written beside too, without
  // buffers of their own (up to a tenth of the time on a 100 MB tree). So
  // written, trees of 2 MB took 0.89 to 0.93 times as long, and of 1.5 MB
  // 0.97 to 0.99 times.
  static uint64_t read_before_writing_beside(uint64_t expected_size,
                                             size_t block_size) {
    uint64_t switch_at = std::min<uint64_t>(
        kReadBeforeWritingBeside,
        uint64_t{kMostBlocksBeforeWritingBeside} * block_size);
    return expected_size > switch_at ? 0 : switch_at;
  }

  const RunCheckpoints& checkpoints_;
  EncodedStreams& streams_;
  HelperThread& helper_;
  const uint64_t read_before_writing_beside_;
  bool writing_beside_ = false;
  SpanWriter coordinates_;
  SpanWriter cleaned_;
  CleanedCopy* const cleaned_copy_;
  LineFinder lines_;
  PlaceRecordReader records_;
};

ExtractResult Extractor::run() {
  lines_.detect_line_ends();
  if (lines_.read_failed()) return finish();
  if (!passes(checkpoints_.before_writing)) return stopped();
  for (;;) {
    std::string_view run;
    while (lines_.ordinary_lines(&run)) write_cleaned(run);
    Line place_line;
    if (lines_.read_failed() || failed() || !lines_.peek_line(&place_line)) {
      break;
    }
    write_block(coordinates_, records_.read(lines_, place_line),
                lines_.line_end());
  }
  return finish();
}

void Extractor::write_cleaned(std::string_view run) {
  if (cleaned_copy_ == nullptr) {
    cleaned_.add_borrowed(run);
    lines_.take(run.size());
    return;
  }
  uint64_t from = cleaned_copy_->offset();
  lines_.take(run.size());
  cleaned_copy_->copy(from, cleaned_copy_->offset());
}

ExtractResult Extractor::stopped() {
  ExtractResult result;
  result.status = ExtractStatus::kStopped;
  return result;
}

ExtractResult Extractor::failed_write() {
  ExtractResult result;
  if (copy_failed()) {
    result.status = cleaned_copy_->read_failed()
                        ? ExtractStatus::kReadFailed
                        : ExtractStatus::kCleanedWriteFailed;
    result.error_number = cleaned_copy_->error_number();
    return result;
  }
  const SpanWriter& writer = coordinates_.failed() ? coordinates_ : cleaned_;
  result.status = coordinates_.failed() ? ExtractStatus::kCoordinatesWriteFailed
                                        : ExtractStatus::kCleanedWriteFailed;
  result.error_number = writer.error_number();
  return result;
}

ExtractResult Extractor::finish() {
  ExtractResult result;
  if (lines_.read_failed()) {
    result.status = ExtractStatus::kReadFailed;
    result.error_number = lines_.read_error_number();
    return result;
  }
  if (!coordinates_.flush() || !cleaned_.flush() ||
      (cleaned_copy_ != nullptr && !cleaned_copy_->flush())) {
    return failed_write();
  }
  // The line numbers come from reading the input again, which can fail too:
  // before the trailer, so that a run that reports a failure never ends
  // with it.
  PlaceRecordReader& records = records_;
  Position* reported[] = {&records.first_left_out,
                          &records.first_positional_place_line,
                          &records.cut_short_record};
  bool wanted[] = {records.left_out_lines > 0,
                   records.positional_place_lines > 0, records.cut_short};
  if (!lines_.count_lines(reported, wanted, std::size(reported))) {
    result.status = ExtractStatus::kReadFailed;
    result.error_number = errno;
    return result;
  }
  // The trailer says that the coordinates file is whole, so it follows only
  // once everything else of both outputs is written and checked.
  if (!passes(checkpoints_.before_trailer)) return stopped();
  write_trailer(coordinates_, lines_.line_end());
  if (!coordinates_.flush()) return failed_write();
  result.place_records = records.place_records;
  result.left_out_lines = records.left_out_lines;
  result.first_left_out_line = records.first_left_out.line;
  result.positional_place_lines = records.positional_place_lines;
  result.first_positional_place_line = records.first_positional_place_line.line;
  if (records.cut_short) {
    result.status = ExtractStatus::kCutShortRecord;
    result.cut_short_record_line = records.cut_short_record.line;
  }
  return result;
}

ExtractResult extract_unguarded(ByteSource& input, ByteSink& coordinates,
                                ByteSink& cleaned, size_t block_size,
                                const RunCheckpoints& checkpoints) {
  HelperThread helper;  // first, so that it outlives what it works for
  EncodedStreams streams(input, coordinates, cleaned);
  if (!streams.open()) {
    ExtractResult result;
    result.status = ExtractStatus::kReadFailed;
    result.error_number = errno;
    return result;
  }
  return Extractor(streams, helper, block_size, checkpoints).run();
}

}  // namespace

ExtractResult extract_places(ByteSource& input, ByteSink& coordinates,
                             ByteSink& cleaned, size_t block_size,
                             const RunCheckpoints& checkpoints) {
#if defined(__cpp_exceptions)
  try {
    return extract_unguarded(input, coordinates, cleaned, block_size,
                             checkpoints);
  } catch (const std::bad_alloc&) {
    // The filter's buffers, a line longer than memory, or a record's values:
    // what was written so far stays, without the trailer.
    ExtractResult result;
    result.status = ExtractStatus::kOutOfMemory;
    return result;
  }
#else
  // Built without exceptions (WebAssembly), the platform's operator new
  // reports running out of memory itself and ends the run.
  return extract_unguarded(input, coordinates, cleaned, block_size,
                           checkpoints);
#endif
}

}  // namespace placeharvest
