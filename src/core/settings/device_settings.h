// The device's settings page (page 0x110, area 0): one 256-byte record in
// three generations. The record is edited in place and written back whole, so
// every byte no accessor names stays exactly as read.
//
// Generations 1 and 2 share one layout ("older"); generation 3 has its own.
// Accessors take the generation; 0 and -1 (unrecognised) read as the older
// layout, like generation 1. Every access is bounds-checked against the page.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orvane {

inline constexpr size_t kSettingsSize = 256;
inline constexpr uint32_t kSettingsMarker = 0x6C1E93A5;

// Offsets of the older layout (generations 1 and 2).
namespace settings_old {
inline constexpr size_t kFlags = 8;
inline constexpr size_t kTimeZone = 10;
inline constexpr size_t kBandEnable = 11;
inline constexpr size_t kBandCount = 12;  // X, Ku, K1..K4, Ka1..Ka5, laser
inline constexpr size_t kBrightStart = 24;
inline constexpr size_t kBrightEnd = 25;
inline constexpr size_t kModelWord = 28;
inline constexpr size_t kProgramVersion = 32;
}  // namespace settings_old

// Offsets of generation 3.
namespace settings_gen3 {
inline constexpr size_t kModelWord = 4;
inline constexpr size_t kProgramVersion = 8;
inline constexpr size_t kFlags = 16;
inline constexpr size_t kTimeZone = 18;
inline constexpr size_t kBandCount = 19;  // five signed counts: X, Ku, K, Ka, laser
inline constexpr size_t kBandEnable = 24;
inline constexpr size_t kBandEnableEnd = 48;  // BandEnable must end before OptionLevel
inline constexpr size_t kMaxSubBands = kBandEnableEnd - kBandEnable;
inline constexpr size_t kOptionLevel = 48;
inline constexpr size_t kBrightStart = 50;
inline constexpr size_t kBrightEnd = 51;
inline constexpr size_t kRadarLink = 52;
inline constexpr size_t kFormatNumber = 55;
inline constexpr size_t kMarker = 59;
inline constexpr size_t kBandRange = 63;
}  // namespace settings_gen3

// Flags bits (both layouts; bit 7 only in generation 3).
inline constexpr uint8_t kFlag12Hour = 0x20;
inline constexpr uint8_t kFlagShowNumber = 0x40;
inline constexpr uint8_t kFlagNumberOffered = 0x80;

// Band groups of generation 3, in the order of BandCount.
inline constexpr size_t kBandGroups = 5;

struct BandRange {
  uint16_t lowMHz = 0;
  uint16_t highMHz = 0;
};

// Bytes covered by Checksum: 4..27 (gen 1 or less), 4..75 (gen 2), 4..62 (gen 3+).
size_t SettingsChecksumLength(int generation);

class DeviceSettings {
 public:
  using Bytes = std::array<uint8_t, kSettingsSize>;

  DeviceSettings() = default;
  // Copies up to 256 bytes; a shorter page leaves the rest zero.
  explicit DeviceSettings(std::span<const uint8_t> page);

  Bytes& Raw() { return m_bytes; }
  const Bytes& Raw() const { return m_bytes; }

  // Checked byte access; nullopt / false outside the page.
  std::optional<uint8_t> Byte(size_t offset) const;
  bool SetByte(size_t offset, uint8_t value);
  std::optional<uint32_t> Word(size_t offset) const;
  bool SetWord(size_t offset, uint32_t value);

  uint32_t Checksum() const;
  uint32_t ComputeChecksum(int generation) const;
  void UpdateChecksum(int generation);

  // Fields at their generation's place.
  uint32_t ModelWord(int generation) const;
  uint32_t ProgramVersion(int generation) const;
  uint8_t Flags(int generation) const;
  void SetFlags(int generation, uint8_t flags);
  bool Clock12(int generation) const { return (Flags(generation) & kFlag12Hour) != 0; }
  void SetClock12(int generation, bool on);
  bool ShowNumber(int generation) const { return (Flags(generation) & kFlagShowNumber) != 0; }
  void SetShowNumber(int generation, bool on);
  int8_t TimeZone(int generation) const;
  void SetTimeZone(int generation, int8_t hours);
  int8_t BrightStart(int generation) const;
  void SetBrightStart(int generation, int8_t hour);
  int8_t BrightEnd(int generation) const;
  void SetBrightEnd(int generation, int8_t hour);

  // Bands: 12 fixed bands in the older layout, the sub-bands of the counts in
  // generation 3 (clamped, see BandCounts).
  size_t BandCount(int generation) const;
  std::optional<bool> BandEnabled(int generation, size_t band) const;
  bool SetBandEnabled(int generation, size_t band, bool on);

  // Generation 3 only.
  std::array<int8_t, kBandGroups> RawBandCounts() const;
  // The counts as the page can hold them: negative counts count as 0 and the
  // sum never runs BandEnable past byte 48.
  std::array<int, kBandGroups> BandCounts() const;
  int8_t OptionLevel() const;
  int8_t RadarLink() const;
  uint32_t FormatNumber() const;
  uint32_t Marker() const;
  std::optional<BandRange> SubBandRange(size_t band) const;

 private:
  Bytes m_bytes{};
};

// Labels and ranges of the bands of a record, in BandEnable order: the fixed
// table of the older generations, or group name + position + "频段" with the
// range from BandRange in generation 3.
struct BandInfo {
  std::string label;     // e.g. "K1频段", "雷射频段"
  std::string key;       // ASCII name for command lines, e.g. "K1", "Ka3", "laser"
  BandRange range;       // 0/0 when the band has none
  bool rangeShown = false;  // the label carries the range (both ends large enough)
  bool enabled = false;
};
std::vector<BandInfo> DescribeBands(const DeviceSettings& settings, int generation);

// "(10.480~10.720)": the range suffix of band labels.
std::string FormatBandRange(const BandRange& range);

}  // namespace orvane
