#include "core/update/scramble.h"

#include "core/device/byte_sum.h"
#include "core/util/bytes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  uint32_t key = kMarkerWord;
  uint32_t result = 0;
  size_t done = 0;  // bytes of whole 256-byte blocks already summed

#if defined(__SSE2__)
  // Whole blocks four words at a time: scramble, add the words for the next
  // key, and add the bytes with SAD into two 64-bit totals.
  {
    const __m128i zero = _mm_setzero_si128();
    __m128i bytes = zero;
    for (; n - done >= 256; done += 256) {
      const __m128i k = _mm_set1_epi32(int32_t(key));
      __m128i words = zero;
      for (size_t j = 0; j < 256; j += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + done + j));
        x = _mm_xor_si128(_mm_xor_si128(x, _mm_slli_epi32(x, 16)), k);
        words = _mm_add_epi32(words, x);
        bytes = _mm_add_epi64(bytes, _mm_sad_epu8(x, zero));
      }
      words = _mm_add_epi32(words, _mm_shuffle_epi32(words, 0x4E));
      words = _mm_add_epi32(words, _mm_shuffle_epi32(words, 0xB1));
      key = uint32_t(_mm_cvtsi128_si32(words));
    }
    uint64_t totals[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(totals), bytes);
    result += uint32_t(totals[0] + totals[1]);
  }
#endif

  // The rest (everything without SSE2): the same walk a word at a time. The
  // byte sum of each scrambled word is gathered in two 16-bit lanes, folded
  // once per 64-word block (at most 64 * 2 * 255 per lane).
  const size_t words = n / 4;
  size_t i = done / 4;
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
