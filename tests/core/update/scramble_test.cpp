// ByteSum, ScrambleWords and ScrambledSum against straightforward byte-level
// models of the rules, over lengths that cross every block and lane boundary.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/device/byte_sum.h"
#include "core/update/scramble.h"

namespace orvane {
namespace {

uint32_t NaiveByteSum(const std::vector<uint8_t>& d, size_t from, size_t to) {
  uint32_t s = 0;
  for (size_t i = from; i < to; ++i) s += d[i];
  return s;
}

// The scrambler as the device describes it, one byte operation at a time.
void NaiveScramble(std::vector<uint8_t>& d, size_t n) {
  uint32_t key = 0x6C1E93A5, sum = 0, count = 0;
  for (size_t i = 0; i + 4 <= n; i += 4) {
    d[i + 2] ^= d[i];
    d[i + 3] ^= d[i + 1];
    uint32_t w = d[i] | d[i + 1] << 8 | d[i + 2] << 16 | uint32_t(d[i + 3]) << 24;
    w ^= key;
    for (int b = 0; b < 4; ++b) d[i + b] = uint8_t(w >> (8 * b));
    sum += w;
    count += 4;
    if (count == 256) {
      key = sum;
      sum = 0;
      count = 0;
    }
  }
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> d(n);
  for (auto& b : d) b = uint8_t(rng());
  return d;
}

const size_t kLengths[] = {0, 1, 3, 4, 7, 8, 15, 16, 17, 255, 256, 257, 259, 1023, 1024, 1031,
                           4096, 65536 + 13, 300000};

TEST(ByteSum, MatchesByteByByteSumForAllLengthsAndAllOnes) {
  for (size_t n : kLengths) {
    for (uint8_t fill : {uint8_t(0xFF), uint8_t(0)}) {
      std::vector<uint8_t> d(n, fill);
      EXPECT_EQ(ByteSum(d.data(), n), NaiveByteSum(d, 0, n)) << n;
    }
    const auto r = RandomBytes(n, uint32_t(n));
    EXPECT_EQ(ByteSum(r), NaiveByteSum(r, 0, n)) << n;
  }
  // Unaligned starts.
  const auto r = RandomBytes(5000, 7);
  for (size_t off = 1; off < 9; ++off)
    EXPECT_EQ(ByteSum(r.data() + off, r.size() - off), NaiveByteSum(r, off, r.size()));
}

TEST(ByteSum, WrapsAt32Bits) {
  // 0x1010102 bytes of 0xFF sum to 0xFF * 0x1010102 = 0x1_0000_00FE modulo 2^32.
  std::vector<uint8_t> d(0x1010102, 0xFF);
  EXPECT_EQ(ByteSum(d), uint32_t(0xFFull * 0x1010102ull));
}

TEST(ScrambleWords, MatchesModelAndCarriesStateAcrossCalls) {
  for (size_t n : kLengths) {
    const auto original = RandomBytes(n, uint32_t(n) + 1);
    auto expect = original;
    NaiveScramble(expect, n);

    auto whole = original;
    ScrambleState s;
    ScrambleWords(s, whole.data(), n);
    EXPECT_EQ(whole, expect) << n;

    // The same data in word-aligned pieces through one state.
    auto pieces = original;
    ScrambleState p;
    const size_t cut = (n / 3) & ~size_t(3);
    ScrambleWords(p, pieces.data(), cut);
    ScrambleWords(p, pieces.data() + cut, n - cut);
    EXPECT_EQ(pieces, expect) << n;
  }
}

TEST(ScrambleWords, FirstWordAndKeySwitch) {
  // One word: b2 ^= b0, b3 ^= b1, then XOR with the marker word.
  std::vector<uint8_t> d = {0x11, 0x22, 0x33, 0x44};
  ScrambleState s;
  ScrambleWords(s, d.data(), d.size());
  const uint32_t w = (0x11u | 0x22u << 8 | (0x33u ^ 0x11u) << 16 | (0x44u ^ 0x22u) << 24) ^ 0x6C1E93A5u;
  EXPECT_EQ(d, (std::vector<uint8_t>{uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)}));
  EXPECT_EQ(s.sum, w);
  EXPECT_EQ(s.count, 4u);

  // After 64 words the key is the sum of the block's scrambled words.
  std::vector<uint8_t> block(256, 0);
  ScrambleState b;
  ScrambleWords(b, block.data(), block.size());
  EXPECT_EQ(b.key, 64u * 0x6C1E93A5u);
  EXPECT_EQ(b.sum, 0u);
  EXPECT_EQ(b.count, 0u);
}

TEST(ScrambledSum, EqualsSumOfScrambledCopyPlusPlainTail) {
  for (size_t total : kLengths) {
    const auto data = RandomBytes(total, uint32_t(total) + 2);
    for (size_t n : {size_t(0), total / 2, total - (total ? 1 : 0), total}) {
      auto copy = data;
      NaiveScramble(copy, n);
      const uint32_t expect = NaiveByteSum(copy, 0, n) + NaiveByteSum(data, n, total);
      const auto before = data;
      EXPECT_EQ(ScrambledSum(data.data(), n, total), expect) << n << "/" << total;
      EXPECT_EQ(data, before);
    }
  }
}

TEST(ScrambledSum, EdgeCases) {
  const auto data = RandomBytes(257, 9);
  // n = 0: the plain byte sum.
  EXPECT_EQ(ScrambledSum(data.data(), 0, data.size()), ByteSum(data));
  // 257 bytes: the last byte is summed as it is; the key switch after 256
  // bytes changes nothing.
  auto copy = data;
  NaiveScramble(copy, 256);
  EXPECT_EQ(ScrambledSum(data.data(), 257, 257), NaiveByteSum(copy, 0, 256) + data[256]);
  // All 0xFF, many blocks: the lane folding never overflows.
  std::vector<uint8_t> ff(1 << 16, 0xFF);
  auto ffc = ff;
  NaiveScramble(ffc, ffc.size());
  EXPECT_EQ(ScrambledSum(ff.data(), ff.size(), ff.size()), NaiveByteSum(ffc, 0, ffc.size()));
}

}  // namespace
}  // namespace orvane
