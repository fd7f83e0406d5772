// A buffer that begins at the start of a page. The system copies a read
// into memory, and a write out of it, fastest when the bytes keep the place
// within a page that they have in the file, which this makes possible.
#ifndef PLACEHARVEST_PAGE_BUFFER_H_
#define PLACEHARVEST_PAGE_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace placeharvest {

// The page size of every system the program runs on (a larger page is a
// multiple of it).
inline constexpr size_t kPageSize = 4096;

class PageBuffer {
 public:
  PageBuffer() = default;
  // `size` bytes, not initialised.
  explicit PageBuffer(size_t size)
      : storage_(new char[size + kPageSize]),
        data_(storage_.get() +
              (kPageSize -
               reinterpret_cast<uintptr_t>(storage_.get()) % kPageSize) %
                  kPageSize) {}

  // A buffer moved from has no data.
  PageBuffer(PageBuffer&& other) noexcept
      : storage_(std::move(other.storage_)),
        data_(std::exchange(other.data_, nullptr)) {}
  PageBuffer& operator=(PageBuffer&& other) noexcept {
    storage_ = std::move(other.storage_);
    data_ = std::exchange(other.data_, nullptr);
    return *this;
  }

  char* data() const { return data_; }

 private:
  std::unique_ptr<char[]> storage_;
  char* data_ = nullptr;
};

}  // namespace placeharvest

#endif  // PLACEHARVEST_PAGE_BUFFER_H_
