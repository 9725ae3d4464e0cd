// Word scrambling of update data: the device checks the sum announced for a
// section against the data it received, scrambled this way.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane {

inline constexpr uint32_t kMarkerWord = 0x6C1E93A5;

// Key word, running sum of scrambled words, and bytes handled in the current
// 256-byte block. Every announced sum starts from the reset state.
struct ScrambleState {
  uint32_t key = kMarkerWord;
  uint32_t sum = 0;
  uint32_t count = 0;
};

// Scrambles every whole 4-byte word of `data` in place and advances `state`;
// the last length % 4 bytes stay as they are.
void ScrambleWords(ScrambleState& state, uint8_t* data, size_t length);

// The checksum announced for a buffer of `total` bytes whose first `n` bytes
// are sent scrambled-summed: ByteSum of the scrambled copy of the first n bytes
// plus ByteSum of the remaining total - n bytes. `data` is not changed.
uint32_t ScrambledSum(const uint8_t* data, size_t n, size_t total);

}  // namespace orvane
