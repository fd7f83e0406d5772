// Each byte kernel gives what its plain twin gives, at every length and
// alignment, with the bytes it looks for anywhere; on a build without SSE2
// both are the plain one.
#include "byte_kernels.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace placeharvest {
namespace {

TEST(ByteKernels, AgreeWithTheirPlainTwins) {
  std::mt19937 random(7);
  // Bytes that matter (line ends, ASCII, and bytes and units that are not
  // ASCII), often enough to land in every position.
  const unsigned char kBytes[] = {'\n', '\r', 'a',  0,   0x7F,
                                  0x80, 0xBF, 0xC3, 0xFF};
  std::string data(256 + 64, '\0');
  for (int round = 0; round < 2000; ++round) {
    for (char& c : data) {
      c = static_cast<char>(kBytes[random() % std::size(kBytes)]);
    }
    // Runs of ASCII of any length, so that the first byte that is not
    // ASCII falls anywhere.
    size_t ascii_run = random() % 80;
    for (size_t i = 0; i < ascii_run; ++i) data[i] = 'x';
    size_t offset = random() % 16;
    size_t size = random() % 200;
    const char* at = data.data() + offset;
    const auto* bytes = reinterpret_cast<const unsigned char*>(at);
    std::string shown = "round " + std::to_string(round);

    char needle = random() % 2 ? '\n' : '\r';
    EXPECT_EQ(byte_bits(at, needle), plain::byte_bits(at, needle)) << shown;
    EXPECT_EQ(count_byte(at, size, needle), plain::count_byte(at, size, needle))
        << shown;
    EXPECT_EQ(count_continuations(at, size),
              plain::count_continuations(at, size))
        << shown;
    for (bool little_endian : {true, false}) {
      std::string fast(2 * size + 32, '?');
      std::string slow(2 * size + 32, '?');
      size_t units = size / 2;
      size_t narrowed = narrow_ascii(bytes, units, little_endian, fast.data());
      ASSERT_EQ(narrowed,
                plain::narrow_ascii(bytes, units, little_endian, slow.data()))
          << shown;
      EXPECT_EQ(fast.substr(0, narrowed), slow.substr(0, narrowed)) << shown;
      size_t widened = widen_ascii(bytes, size, little_endian, fast.data());
      ASSERT_EQ(widened,
                plain::widen_ascii(bytes, size, little_endian, slow.data()))
          << shown;
      EXPECT_EQ(fast.substr(0, 2 * widened), slow.substr(0, 2 * widened))
          << shown;
    }
  }
}

// Text of units below 0x800, ASCII and not, now and then broken by one
// above, in either byte order, narrowed by every version there is here.
TEST(ByteKernels, NarrowBelow0x800AgreesWithItsPlainTwin) {
  std::mt19937 random(11);
  const char16_t kUnits[] = {'a', '\n', 0x7F, 0x80, 0xE5, 0x7FF, 0x800, 0xFFFF};
  using Narrow = size_t (*)(const unsigned char*, size_t, bool, char*, size_t*);
  std::vector<Narrow> versions = {narrow_below_0x800};
#if defined(PLACEHARVEST_SSE2)
  versions.push_back(narrow_below_0x800_one_by_one);
  if (has_byte_shuffle()) versions.push_back(narrow_below_0x800_shuffled);
  if (has_wide_vectors()) versions.push_back(narrow_below_0x800_wide);
  if (has_byte_compress()) versions.push_back(narrow_below_0x800_compressed);
#endif
  for (int round = 0; round < 2000; ++round) {
    size_t units = random() % 100;
    std::string bytes(2 * units + 1, '\0');
    for (bool little_endian : {true, false}) {
      for (size_t i = 0; i < units; ++i) {
        // Units from 0x800 up are rare enough that long runs go without.
        char16_t unit = kUnits[random() % (random() % 8 == 0 ? 8 : 6)];
        bytes[1 + 2 * i + (little_endian ? 0 : 1)] = static_cast<char>(unit);
        bytes[1 + 2 * i + (little_endian ? 1 : 0)] =
            static_cast<char>(unit >> 8);
      }
      // At an odd address, as a read may leave them.
      const auto* in = reinterpret_cast<const unsigned char*>(bytes.data() + 1);
      std::string expected(2 * units + 16, '?');
      size_t expected_size = 0;
      size_t expected_units = plain::narrow_below_0x800(
          in, units, little_endian, expected.data(), &expected_size);
      for (Narrow narrow : versions) {
        std::string got(2 * units + 16, '?');
        size_t got_size = 0;
        ASSERT_EQ(narrow(in, units, little_endian, got.data(), &got_size),
                  expected_units)
            << "round " << round;
        ASSERT_EQ(got.substr(0, got_size), expected.substr(0, expected_size))
            << "round " << round;
      }
    }
  }
}

}  // namespace
}  // namespace placeharvest
