// The loops that look at many bytes at once. Each has a plain version, in
// namespace plain, which states what it does and runs where SSE2 is missing
// (PLACEHARVEST_PORTABLE, the 32-bit Windows build, WebAssembly), and a
// version that looks at 16 bytes at a time with SSE2; the names outside
// namespace plain are the ones to call. narrow_below_0x800 also has
// versions with SSSE3's byte shuffle, with AVX2 and with AVX-512's byte
// compress, the widest taken that the processor has. A test holds each
// version to the plain one on every build.
#ifndef PLACEHARVEST_BYTE_KERNELS_H_
#define PLACEHARVEST_BYTE_KERNELS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) && !defined(PLACEHARVEST_PORTABLE)
#define PLACEHARVEST_SSE2 1
#include <emmintrin.h>
#include <immintrin.h>
#include <tmmintrin.h>
#endif

namespace placeharvest {

// The index of the lowest set bit of `bits`, which must not be 0.
inline size_t lowest_bit(uint64_t bits) {
  return static_cast<size_t>(__builtin_ctzll(bits));
}

namespace plain {

// Bit i is set when data[i] is `byte`, for the 64 bytes at `data`.
inline uint64_t byte_bits(const char* data, char byte) {
  uint64_t bits = 0;
  for (size_t i = 0; i < 64; ++i) {
    bits |= static_cast<uint64_t>(data[i] == byte) << i;
  }
  return bits;
}

// How many of the `size` bytes at `data` are `byte`.
inline uint64_t count_byte(const char* data, size_t size, char byte) {
  uint64_t count = 0;
  for (size_t i = 0; i < size; ++i) count += data[i] == byte;
  return count;
}

// How many of the `size` bytes at `data` are UTF-8 continuation bytes, 0x80
// to 0xBF.
inline uint64_t count_continuations(const char* data, size_t size) {
  uint64_t count = 0;
  for (size_t i = 0; i < size; ++i) count += (data[i] & 0xC0) == 0x80;
  return count;
}

// Stores the ASCII units in front of the first that is not ASCII, of the
// `units` UTF-16 units at `in` in the byte order given, as a byte each at
// `out`; returns how many. May store up to `units` bytes at `out`.
inline size_t narrow_ascii(const unsigned char* in, size_t units,
                           bool little_endian, char* out) {
  size_t i = 0;
  for (; i < units; ++i) {
    unsigned char low = in[2 * i + (little_endian ? 0 : 1)];
    unsigned char high = in[2 * i + (little_endian ? 1 : 0)];
    if (high != 0 || low >= 0x80) break;
    out[i] = static_cast<char>(low);
  }
  return i;
}

// Stores the units below 0x800 in front of the first that is not, of the
// `units` UTF-16 units at `in` in the byte order given, as UTF-8 does at
// `out`: a byte for a unit below 0x80, else 0xC0 | unit >> 6 and
// 0x80 | (unit & 0x3F). Returns how many units, and in `*stored` how many
// bytes. May store up to 2 * `units` + 16 bytes at `out`.
inline size_t narrow_below_0x800(const unsigned char* in, size_t units,
                                 bool little_endian, char* out,
                                 size_t* stored) {
  char* put = out;
  size_t i = 0;
  for (; i < units; ++i) {
    unsigned unit = little_endian ? in[2 * i] | in[2 * i + 1] << 8
                                  : in[2 * i] << 8 | in[2 * i + 1];
    if (unit >= 0x800) break;
    if (unit < 0x80) {
      *put++ = static_cast<char>(unit);
    } else {
      *put++ = static_cast<char>(0xC0 | unit >> 6);
      *put++ = static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  *stored = static_cast<size_t>(put - out);
  return i;
}

// Stores the ASCII bytes in front of the first that is not ASCII, of the
// `size` bytes at `in`, as a UTF-16 unit each at `out`, in the byte order
// given; returns how many bytes. May store up to 2 * `size` bytes at `out`.
inline size_t widen_ascii(const unsigned char* in, size_t size,
                          bool little_endian, char* out) {
  size_t i = 0;
  for (; i < size && in[i] < 0x80; ++i) {
    out[2 * i + (little_endian ? 0 : 1)] = static_cast<char>(in[i]);
    out[2 * i + (little_endian ? 1 : 0)] = 0;
  }
  return i;
}

}  // namespace plain

#ifndef PLACEHARVEST_SSE2
using plain::byte_bits;
using plain::count_byte;
using plain::count_continuations;
using plain::narrow_ascii;
using plain::narrow_below_0x800;
using plain::widen_ascii;
#else

inline uint64_t byte_bits(const char* data, char byte) {
  const __m128i needle = _mm_set1_epi8(byte);
  uint64_t bits = 0;
  for (size_t i = 0; i < 64; i += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    uint64_t mask =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, needle)));
    bits |= mask << i;
  }
  return bits;
}

// How many of the `size` bytes at `data` have a byte of `matches(bytes)`
// set, which marks 16 bytes at a time; the rest is left to `plain_count`.
// Matches are summed in byte counters, added up before they overflow.
template <typename Matches, typename PlainCount>
uint64_t count_matching(const char* data, size_t size, Matches matches,
                        PlainCount plain_count) {
  uint64_t count = 0;
  size_t i = 0;
  while (size - i >= 16) {
    size_t vectors = std::min<size_t>((size - i) / 16, 255);
    __m128i counters = _mm_setzero_si128();
    for (size_t k = 0; k < vectors; ++k, i += 16) {
      __m128i bytes =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
      counters = _mm_sub_epi8(counters, matches(bytes));
    }
    __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
    count += static_cast<uint64_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<uint64_t>(_mm_extract_epi16(sums, 4));
  }
  return count + plain_count(data + i, size - i);
}

inline uint64_t count_byte(const char* data, size_t size, char byte) {
  const __m128i needle = _mm_set1_epi8(byte);
  return count_matching(
      data, size, [&](__m128i bytes) { return _mm_cmpeq_epi8(bytes, needle); },
      [&](const char* rest, size_t left) {
        return plain::count_byte(rest, left, byte);
      });
}

inline uint64_t count_continuations(const char* data, size_t size) {
  // As signed bytes, 0x80 to 0xBF are those below 0xC0.
  const __m128i below = _mm_set1_epi8(static_cast<char>(0xC0));
  return count_matching(
      data, size, [&](__m128i bytes) { return _mm_cmplt_epi8(bytes, below); },
      plain::count_continuations);
}

inline size_t narrow_ascii(const unsigned char* in, size_t units,
                           bool little_endian, char* out) {
  const __m128i not_ascii =
      _mm_set1_epi16(static_cast<short>(little_endian ? 0xFF80 : 0x80FF));
  const __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= units; i += 16) {
    __m128i first =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
    __m128i second =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i + 16));
    // Two bits for each ASCII unit.
    uint32_t ascii = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(
                         _mm_and_si128(first, not_ascii), zero))) |
                     static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(
                         _mm_and_si128(second, not_ascii), zero)))
                         << 16;
    if (!little_endian) {
      first = _mm_srli_epi16(first, 8);
      second = _mm_srli_epi16(second, 8);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                     _mm_packus_epi16(first, second));
    if (ascii != 0xFFFFFFFF) return i + lowest_bit(~ascii) / 2;
  }
  return i + plain::narrow_ascii(in + 2 * i, units - i, little_endian, out + i);
}

inline size_t widen_ascii(const unsigned char* in, size_t size,
                          bool little_endian, char* out) {
  const __m128i zero = _mm_setzero_si128();
  size_t i = 0;
  for (; i + 16 <= size; i += 16) {
    __m128i text = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    char* put = out + 2 * i;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(put),
                     little_endian ? _mm_unpacklo_epi8(text, zero)
                                   : _mm_unpacklo_epi8(zero, text));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(put + 16),
                     little_endian ? _mm_unpackhi_epi8(text, zero)
                                   : _mm_unpackhi_epi8(zero, text));
    unsigned outside = static_cast<unsigned>(_mm_movemask_epi8(text));
    if (outside != 0) return i + lowest_bit(outside);
  }
  return i + plain::widen_ascii(in + i, size - i, little_endian, out + 2 * i);
}

// narrow_below_0x800 without the shuffle: ASCII 16 units at a time, the
// rest one by one.
inline size_t narrow_below_0x800_one_by_one(const unsigned char* in,
                                            size_t units, bool little_endian,
                                            char* out, size_t* stored) {
  char* put = out;
  size_t i = 0;
  while (i < units) {
    size_t ascii = narrow_ascii(in + 2 * i, units - i, little_endian, put);
    put += ascii;
    i += ascii;
    size_t one = 0;
    if (i == units ||
        plain::narrow_below_0x800(in + 2 * i, 1, little_endian, put, &one) == 0)
      break;
    put += one;
    ++i;
  }
  *stored = static_cast<size_t>(put - out);
  return i;
}

// For each set of units among eight that take two bytes (bit i for unit i),
// the shuffle that puts the bytes of the eight in order, and how many
// bytes they are.
struct TwoByteShuffles {
  constexpr TwoByteShuffles() : shuffles(), sizes() {
    for (unsigned set = 0; set < 256; ++set) {
      unsigned put = 0;
      for (unsigned unit = 0; unit < 8; ++unit) {
        shuffles[set][put++] = static_cast<unsigned char>(2 * unit);
        if ((set >> unit & 1) != 0) {
          shuffles[set][put++] = static_cast<unsigned char>(2 * unit + 1);
        }
      }
      sizes[set] = static_cast<unsigned char>(put);
      while (put < 16) shuffles[set][put++] = 0x80;  // a zero byte
    }
  }
  alignas(16) unsigned char shuffles[256][16];
  unsigned char sizes[256];
};
inline constexpr TwoByteShuffles kTwoByteShuffles;

// narrow_below_0x800 with SSSE3: eight units at a time, each made one or two
// bytes in its own 16-bit lane and the lanes' bytes then shuffled together.
__attribute__((target("ssse3"))) inline size_t narrow_below_0x800_shuffled(
    const unsigned char* in, size_t units, bool little_endian, char* out,
    size_t* stored) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i above_two_bytes = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i last_ascii = _mm_set1_epi16(0x7F);
  const __m128i low_six = _mm_set1_epi16(0x3F);
  // The lead's 0xC0 in a lane's first byte, the continuation's 0x80 in its
  // second.
  const __m128i marks = _mm_set1_epi16(static_cast<short>(0x80C0));
  char* put = out;
  size_t i = 0;
  for (; i + 8 <= units; i += 8) {
    __m128i lanes =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
    if (!little_endian) {
      lanes = _mm_or_si128(_mm_slli_epi16(lanes, 8), _mm_srli_epi16(lanes, 8));
    }
    __m128i beyond =
        _mm_cmpeq_epi16(_mm_and_si128(lanes, above_two_bytes), zero);
    if (_mm_movemask_epi8(beyond) != 0xFFFF) break;
    __m128i two = _mm_cmpgt_epi16(lanes, last_ascii);
    __m128i pair = _mm_or_si128(
        _mm_or_si128(_mm_srli_epi16(lanes, 6),
                     _mm_slli_epi16(_mm_and_si128(lanes, low_six), 8)),
        marks);
    __m128i formed =
        _mm_or_si128(_mm_and_si128(two, pair), _mm_andnot_si128(two, lanes));
    unsigned set =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(two, zero)));
    __m128i shuffle = _mm_load_si128(
        reinterpret_cast<const __m128i*>(kTwoByteShuffles.shuffles[set]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(put),
                     _mm_shuffle_epi8(formed, shuffle));
    put += kTwoByteShuffles.sizes[set];
  }
  size_t rest = 0;
  i += plain::narrow_below_0x800(in + 2 * i, units - i, little_endian, put,
                                 &rest);
  *stored = static_cast<size_t>(put - out) + rest;
  return i;
}

// narrow_below_0x800 with AVX2: sixteen units at a time, put_shuffled()'s
// steps on both halves of a 32-byte register at once.
__attribute__((target("avx2"))) inline size_t narrow_below_0x800_wide(
    const unsigned char* in, size_t units, bool little_endian, char* out,
    size_t* stored) {
  const __m256i above_two_bytes = _mm256_set1_epi16(static_cast<short>(0xF800));
  const __m256i last_ascii = _mm256_set1_epi16(0x7F);
  const __m256i low_six = _mm256_set1_epi16(0x3F);
  const __m256i marks = _mm256_set1_epi16(static_cast<short>(0x80C0));
  char* put = out;
  size_t i = 0;
  for (; i + 16 <= units; i += 16) {
    __m256i lanes =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * i));
    if (!little_endian) {
      lanes = _mm256_or_si256(_mm256_slli_epi16(lanes, 8),
                              _mm256_srli_epi16(lanes, 8));
    }
    // A unit from 0x800 up is left to the plain loop below, which stops
    // at it.
    if (!_mm256_testz_si256(lanes, above_two_bytes)) break;
    __m256i two = _mm256_cmpgt_epi16(lanes, last_ascii);
    __m256i pair = _mm256_or_si256(
        _mm256_or_si256(_mm256_srli_epi16(lanes, 6),
                        _mm256_slli_epi16(_mm256_and_si256(lanes, low_six), 8)),
        marks);
    __m256i formed = _mm256_blendv_epi8(lanes, pair, two);
    // Packed within each half: the first half's set in bits 0 to 7, the
    // second's in bits 16 to 23.
    unsigned sets = static_cast<unsigned>(
        _mm256_movemask_epi8(_mm256_packs_epi16(two, _mm256_setzero_si256())));
    unsigned first_set = sets & 0xFF;
    unsigned second_set = sets >> 16 & 0xFF;
    __m256i shuffle = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(
            kTwoByteShuffles.shuffles[first_set]))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(
            kTwoByteShuffles.shuffles[second_set])),
        1);
    __m256i shuffled = _mm256_shuffle_epi8(formed, shuffle);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(put),
                     _mm256_castsi256_si128(shuffled));
    put += kTwoByteShuffles.sizes[first_set];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(put),
                     _mm256_extracti128_si256(shuffled, 1));
    put += kTwoByteShuffles.sizes[second_set];
  }
  size_t rest = 0;
  i += plain::narrow_below_0x800(in + 2 * i, units - i, little_endian, put,
                                 &rest);
  *stored = static_cast<size_t>(put - out) + rest;
  return i;
}

// narrow_below_0x800 with AVX-512's byte compress: thirty-two units at a
// time, each made one or two bytes in its own 16-bit lane as above, and
// the bytes kept pressed together in one step instead of two shuffles.
__attribute__((
    target("avx512f,avx512bw,avx512vbmi2,bmi2,popcnt"))) inline size_t
narrow_below_0x800_compressed(const unsigned char* in, size_t units,
                              bool little_endian, char* out, size_t* stored) {
  const __m512i above_two_bytes = _mm512_set1_epi16(static_cast<short>(0xF800));
  const __m512i last_ascii = _mm512_set1_epi16(0x7F);
  const __m512i low_six = _mm512_set1_epi16(0x3F);
  const __m512i marks = _mm512_set1_epi16(static_cast<short>(0x80C0));
  // Each lane's first byte, and its second where the unit takes two.
  constexpr uint64_t kFirstBytes = 0x5555555555555555;
  char* put = out;
  size_t i = 0;
  for (; i + 32 <= units; i += 32) {
    __m512i lanes = _mm512_loadu_si512(in + 2 * i);
    if (!little_endian) {
      lanes = _mm512_or_si512(_mm512_slli_epi16(lanes, 8),
                              _mm512_srli_epi16(lanes, 8));
    }
    // A unit from 0x800 up is left to the plain loop below, which stops
    // at it.
    if (_mm512_test_epi16_mask(lanes, above_two_bytes) != 0) break;
    __mmask32 two = _mm512_cmpgt_epu16_mask(lanes, last_ascii);
    __m512i pair = _mm512_or_si512(
        _mm512_or_si512(_mm512_srli_epi16(lanes, 6),
                        _mm512_slli_epi16(_mm512_and_si512(lanes, low_six), 8)),
        marks);
    __m512i formed = _mm512_mask_blend_epi16(two, lanes, pair);
    uint64_t kept = kFirstBytes | _pdep_u64(two, ~kFirstBytes);
    // Stores 64 bytes, of which the kept ones come first: no more than
    // the room for two bytes a unit that the other versions take too.
    _mm512_storeu_si512(put, _mm512_maskz_compress_epi8(kept, formed));
    put += 32 + __builtin_popcount(two);
  }
  size_t rest = 0;
  i += plain::narrow_below_0x800(in + 2 * i, units - i, little_endian, put,
                                 &rest);
  *stored = static_cast<size_t>(put - out) + rest;
  return i;
}

// Every feature narrow_below_0x800_compressed is built for.
inline bool has_byte_compress() {
  static const bool has =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2") &&
      __builtin_cpu_supports("popcnt");
  return has;
}

inline bool has_byte_shuffle() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

inline bool has_wide_vectors() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

inline size_t narrow_below_0x800(const unsigned char* in, size_t units,
                                 bool little_endian, char* out,
                                 size_t* stored) {
  if (has_byte_compress()) {
    return narrow_below_0x800_compressed(in, units, little_endian, out, stored);
  }
  if (has_wide_vectors()) {
    return narrow_below_0x800_wide(in, units, little_endian, out, stored);
  }
  if (has_byte_shuffle()) {
    return narrow_below_0x800_shuffled(in, units, little_endian, out, stored);
  }
  return narrow_below_0x800_one_by_one(in, units, little_endian, out, stored);
}

#endif  // PLACEHARVEST_SSE2

}  // namespace placeharvest

#endif  // PLACEHARVEST_BYTE_KERNELS_H_
