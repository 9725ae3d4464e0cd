// Explicit little-endian access to device and file structures.
//
// Fixed records (packets, pages, trailers) use the compile-time variants: the
// offset is checked against the record size when the code is compiled. Data of
// unknown size (files, replies) uses the Try variants, which refuse any access
// that would leave the buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace orvane {

template <size_t Off, size_t N>
constexpr uint32_t LoadLE32(const std::array<uint8_t, N>& b) {
  static_assert(Off + 4 <= N, "read past the end of the record");
  return uint32_t(b[Off]) | uint32_t(b[Off + 1]) << 8 | uint32_t(b[Off + 2]) << 16 |
         uint32_t(b[Off + 3]) << 24;
}

template <size_t Off, size_t N>
constexpr void StoreLE32(std::array<uint8_t, N>& b, uint32_t v) {
  static_assert(Off + 4 <= N, "write past the end of the record");
  b[Off] = uint8_t(v);
  b[Off + 1] = uint8_t(v >> 8);
  b[Off + 2] = uint8_t(v >> 16);
  b[Off + 3] = uint8_t(v >> 24);
}

// Unchecked word load for loops that have already checked their range.
constexpr uint32_t LoadLE32At(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr void StoreLE32At(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

inline std::optional<uint32_t> TryLoadLE32(std::span<const uint8_t> b, size_t off) {
  if (off > b.size() || b.size() - off < 4) return std::nullopt;
  return LoadLE32At(b.data() + off);
}

inline std::optional<uint16_t> TryLoadLE16(std::span<const uint8_t> b, size_t off) {
  if (off > b.size() || b.size() - off < 2) return std::nullopt;
  return uint16_t(b[off] | b[off + 1] << 8);
}

inline bool TryStoreLE32(std::span<uint8_t> b, size_t off, uint32_t v) {
  if (off > b.size() || b.size() - off < 4) return false;
  StoreLE32At(b.data() + off, v);
  return true;
}

}  // namespace orvane
