// The system's one checksum: bytes as unsigned values summed into a wrapping
// 32-bit accumulator. Used for command packets, record pages and update data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvane {

uint32_t ByteSum(const uint8_t* data, size_t length);

inline uint32_t ByteSum(std::span<const uint8_t> data) { return ByteSum(data.data(), data.size()); }

}  // namespace orvane
