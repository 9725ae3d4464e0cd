#include "core/update/scramble.h"

#include "core/device/byte_sum.h"
#include "core/util/bytes.h"

namespace orvane {

namespace {

// One word through the scrambler: b2 ^= b0, b3 ^= b1, then XOR with the key.
inline uint32_t ScrambleWord(uint32_t w, uint32_t key) { return (w ^ (w << 16)) ^ key; }

}  // namespace

void ScrambleWords(ScrambleState& state, uint8_t* data, size_t length) {
  const size_t words = length / 4;
  for (size_t i = 0; i < words; ++i) {
    uint8_t* p = data + i * 4;
    const uint32_t w = ScrambleWord(LoadLE32At(p), state.key);
    StoreLE32At(p, w);
    state.sum += w;
    state.count += 4;
    if (state.count == 256) {
      state.key = state.sum;
      state.sum = 0;
      state.count = 0;
    }
  }
}

uint32_t ScrambledSum(const uint8_t* data, size_t n, size_t total) {
  if (n > total) n = total;
  // Same walk as ScrambleWords from the reset state, without the copy: the
  // byte sum of each scrambled word is gathered in two 16-bit lanes, folded
  // once per 64-word block (at most 64 * 2 * 255 per lane).
  uint32_t key = kMarkerWord;
  uint32_t result = 0;
  const size_t words = n / 4;
  size_t i = 0;
  while (i < words) {
    const size_t blockEnd = (i + 64 < words) ? i + 64 : words;
    uint32_t blockSum = 0;
    uint32_t lanes = 0;
    for (; i < blockEnd; ++i) {
      const uint32_t w = ScrambleWord(LoadLE32At(data + i * 4), key);
      blockSum += w;
      lanes += (w & 0x00FF00FFu) + ((w >> 8) & 0x00FF00FFu);
    }
    result += (lanes & 0xFFFF) + (lanes >> 16);
    // The key of the next 256-byte block is the sum of this block's words;
    // a partial last block never hands its sum on.
    if (i % 64 == 0) key = blockSum;
  }
  result += ByteSum(data + words * 4, n - words * 4);
  result += ByteSum(data + n, total - n);
  return result;
}

}  // namespace orvane
