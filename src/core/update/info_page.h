// The info page (page 0x160 of area 0): the device's area table. Fields sit at
// fixed, partly odd byte offsets; bytes this system does not interpret are
// kept as read.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "core/device/byte_sum.h"
#include "core/update/scramble.h"
#include "core/util/bytes.h"

namespace orvane {

class InfoPage {
 public:
  static constexpr size_t kSize = 256;
  using Bytes = std::array<uint8_t, kSize>;

  InfoPage() { m_bytes.fill(0); }
  explicit InfoPage(const Bytes& bytes) : m_bytes(bytes) {}

  Bytes& bytes() { return m_bytes; }
  const Bytes& bytes() const { return m_bytes; }

#define ORVANE_INFO_WORD(Name, Off)                              \
  uint32_t Name() const { return LoadLE32<Off>(m_bytes); }       \
  void Set##Name(uint32_t v) { StoreLE32<Off>(m_bytes, v); }
  ORVANE_INFO_WORD(Checksum, 0)
  ORVANE_INFO_WORD(ModelWord, 8)
  ORVANE_INFO_WORD(ProgramVersion, 12)
  ORVANE_INFO_WORD(SettingsFormat, 17)
  ORVANE_INFO_WORD(Capacity, 63)
  ORVANE_INFO_WORD(ReservedStart, 67)
  ORVANE_INFO_WORD(ReservedLength, 71)
  ORVANE_INFO_WORD(Area5Start, 75)
  ORVANE_INFO_WORD(Area5Length, 79)
  ORVANE_INFO_WORD(Area3Start, 83)
  ORVANE_INFO_WORD(Area3Length, 87)
  ORVANE_INFO_WORD(Area2Start, 91)
  ORVANE_INFO_WORD(Area2Length, 95)
  ORVANE_INFO_WORD(Area4Start, 99)
  ORVANE_INFO_WORD(Area4Length, 103)
  ORVANE_INFO_WORD(End, 107)
  ORVANE_INFO_WORD(Magic, 231)
#undef ORVANE_INFO_WORD

  uint8_t CreatedFlag() const { return m_bytes[22]; }
  void SetCreatedFlag(uint8_t v) { m_bytes[22] = v; }

  // ByteSum of bytes 4..234, the range the checksum covers.
  uint32_t BodySum() const { return ByteSum(m_bytes.data() + 4, 231); }
  bool IsValid() const { return Magic() == kMarkerWord && Checksum() == BodySum(); }
  void Seal() { SetChecksum(BodySum()); }
  // Zeroes bytes 4..234 (the table and everything the checksum covers).
  void ClearBody() { std::fill(m_bytes.begin() + 4, m_bytes.begin() + 235, 0); }

 private:
  Bytes m_bytes;
};

}  // namespace orvane
