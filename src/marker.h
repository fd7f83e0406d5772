// Looking for a marker, a short text that no line end is part of, in a run
// of bytes.
#ifndef PLACEHARVEST_MARKER_H_
#define PLACEHARVEST_MARKER_H_

#include <cstddef>
#include <cstring>
#include <string_view>

namespace placeharvest {

// What marks a line that may begin a record, and the index of its rarest
// byte in ordinary text, which is looked for first.
struct Marker {
  std::string_view text;
  size_t rare_byte;
};

// Returns the offset in `data` of the first `marker` that starts in
// [from, to) and ends by `to`, or `to` when there is none.
inline size_t find_marker(const char* data, size_t from, size_t to,
                          const Marker& marker) {
  const size_t size = marker.text.size();
  const size_t rare = marker.rare_byte;
  if (to - from < size) return to;
  const char* candidate = data + from + rare;
  const char* last = data + to - (size - rare - 1);
  while (candidate < last) {
    // memchr finds the rare byte at memory speed.
    candidate = static_cast<const char*>(std::memchr(
        candidate, marker.text[rare], static_cast<size_t>(last - candidate)));
    if (candidate == nullptr) return to;
    const char* start = candidate - rare;
    if (std::memcmp(start, marker.text.data(), size) == 0) {
      return static_cast<size_t>(start - data);
    }
    ++candidate;
  }
  return to;
}

}  // namespace placeharvest

#endif  // PLACEHARVEST_MARKER_H_
