#include "core/device/byte_sum.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane {

namespace {

// Sum of the bytes of a 64-bit word's byte lanes gathered into four 16-bit lanes.
inline uint64_t PairLanes(uint64_t w) {
  constexpr uint64_t kMask = 0x00FF00FF00FF00FFull;
  return (w & kMask) + ((w >> 8) & kMask);
}

inline uint32_t FoldLanes(uint64_t acc) {
  return uint32_t((acc & 0xFFFF) + ((acc >> 16) & 0xFFFF) + ((acc >> 32) & 0xFFFF) + (acc >> 48));
}

}  // namespace

uint32_t ByteSum(const uint8_t* data, size_t length) {
  // Eight bytes a step, added lane-wise. A 16-bit lane takes at most 2 * 255
  // per step, so it is folded into the 32-bit result every 128 steps.
  uint32_t sum = 0;
  size_t i = 0;
#if defined(__SSE2__)
  // 32 bytes a step: SAD against zero sums each 8-byte half into a 64-bit lane.
  {
    const __m128i zero = _mm_setzero_si128();
    __m128i acc0 = zero, acc1 = zero;
    for (; length - i >= 32; i += 32) {
      acc0 = _mm_add_epi64(acc0, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), zero));
      acc1 = _mm_add_epi64(acc1, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 16)), zero));
    }
    uint64_t totals[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(totals), _mm_add_epi64(acc0, acc1));
    sum = uint32_t(totals[0] + totals[1]);
  }
#endif
  // Without SSE2, and for the tail:
  while (length - i >= 8) {
    size_t steps = (length - i) / 8;
    if (steps > 128) steps = 128;
    uint64_t acc0 = 0, acc1 = 0;
    size_t s = 0;
    for (; s + 2 <= steps; s += 2) {
      uint64_t w0, w1;
      std::memcpy(&w0, data + i, 8);
      std::memcpy(&w1, data + i + 8, 8);
      acc0 += PairLanes(w0);
      acc1 += PairLanes(w1);
      i += 16;
    }
    if (s < steps) {
      uint64_t w0;
      std::memcpy(&w0, data + i, 8);
      acc0 += PairLanes(w0);
      i += 8;
    }
    sum += FoldLanes(acc0) + FoldLanes(acc1);
  }
  for (; i < length; ++i) sum += data[i];
  return sum;
}

}  // namespace orvane
