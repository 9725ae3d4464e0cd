#include "core/settings/device_settings.h"

#include <algorithm>
#include <cstdio>

#include "core/device/byte_sum.h"
#include "core/util/bytes.h"

namespace orvane {

namespace {

bool Older(int generation) { return generation <= 2; }

struct FixedBand {
  const char* label;
  const char* key;
  uint16_t low, high;
};

// Bands of the older generations, in BandEnable order.
constexpr FixedBand kFixedBands[settings_old::kBandCount] = {
    {"X频段", "X", 10480, 10720},     {"KU频段", "KU", 13350, 13540},
    {"K1频段", "K1", 22700, 23660},   {"K2频段", "K2", 23660, 24060},
    {"K3频段", "K3", 24060, 24410},   {"K4频段", "K4", 24410, 24900},
    {"KA1频段", "KA1", 33700, 34200}, {"KA2频段", "KA2", 34200, 34600},
    {"KA3频段", "KA3", 34600, 35450}, {"KA4频段", "KA4", 35450, 35950},
    {"KA5频段", "KA5", 35950, 36300}, {"雷射频段", "laser", 0, 0},
};

constexpr const char* kGroupNames[kBandGroups] = {"X", "Ku", "K", "Ka", "雷射"};
constexpr const char* kGroupKeys[kBandGroups] = {"X", "Ku", "K", "Ka", "laser"};
constexpr const char* kBandSuffix = "频段";

}  // namespace

size_t SettingsChecksumLength(int generation) {
  if (generation <= 1) return 24;
  if (generation == 2) return 72;
  return 59;
}

DeviceSettings::DeviceSettings(std::span<const uint8_t> page) {
  std::copy_n(page.begin(), std::min(page.size(), m_bytes.size()), m_bytes.begin());
}

std::optional<uint8_t> DeviceSettings::Byte(size_t offset) const {
  if (offset >= m_bytes.size()) return std::nullopt;
  return m_bytes[offset];
}

bool DeviceSettings::SetByte(size_t offset, uint8_t value) {
  if (offset >= m_bytes.size()) return false;
  m_bytes[offset] = value;
  return true;
}

std::optional<uint32_t> DeviceSettings::Word(size_t offset) const {
  return TryLoadLE32(m_bytes, offset);
}

bool DeviceSettings::SetWord(size_t offset, uint32_t value) {
  return TryStoreLE32(m_bytes, offset, value);
}

uint32_t DeviceSettings::Checksum() const { return LoadLE32<0>(m_bytes); }

uint32_t DeviceSettings::ComputeChecksum(int generation) const {
  return ByteSum(m_bytes.data() + 4, SettingsChecksumLength(generation));
}

void DeviceSettings::UpdateChecksum(int generation) {
  StoreLE32<0>(m_bytes, ComputeChecksum(generation));
}

uint32_t DeviceSettings::ModelWord(int generation) const {
  return Older(generation) ? LoadLE32<settings_old::kModelWord>(m_bytes)
                           : LoadLE32<settings_gen3::kModelWord>(m_bytes);
}

uint32_t DeviceSettings::ProgramVersion(int generation) const {
  return Older(generation) ? LoadLE32<settings_old::kProgramVersion>(m_bytes)
                           : LoadLE32<settings_gen3::kProgramVersion>(m_bytes);
}

uint8_t DeviceSettings::Flags(int generation) const {
  return m_bytes[Older(generation) ? settings_old::kFlags : settings_gen3::kFlags];
}

void DeviceSettings::SetFlags(int generation, uint8_t flags) {
  m_bytes[Older(generation) ? settings_old::kFlags : settings_gen3::kFlags] = flags;
}

void DeviceSettings::SetClock12(int generation, bool on) {
  const uint8_t f = Flags(generation);
  SetFlags(generation, on ? uint8_t(f | kFlag12Hour) : uint8_t(f & ~kFlag12Hour));
}

void DeviceSettings::SetShowNumber(int generation, bool on) {
  const uint8_t f = Flags(generation);
  SetFlags(generation, on ? uint8_t(f | kFlagShowNumber) : uint8_t(f & ~kFlagShowNumber));
}

int8_t DeviceSettings::TimeZone(int generation) const {
  return int8_t(m_bytes[Older(generation) ? settings_old::kTimeZone : settings_gen3::kTimeZone]);
}

void DeviceSettings::SetTimeZone(int generation, int8_t hours) {
  m_bytes[Older(generation) ? settings_old::kTimeZone : settings_gen3::kTimeZone] = uint8_t(hours);
}

int8_t DeviceSettings::BrightStart(int generation) const {
  return int8_t(m_bytes[Older(generation) ? settings_old::kBrightStart : settings_gen3::kBrightStart]);
}

void DeviceSettings::SetBrightStart(int generation, int8_t hour) {
  m_bytes[Older(generation) ? settings_old::kBrightStart : settings_gen3::kBrightStart] = uint8_t(hour);
}

int8_t DeviceSettings::BrightEnd(int generation) const {
  return int8_t(m_bytes[Older(generation) ? settings_old::kBrightEnd : settings_gen3::kBrightEnd]);
}

void DeviceSettings::SetBrightEnd(int generation, int8_t hour) {
  m_bytes[Older(generation) ? settings_old::kBrightEnd : settings_gen3::kBrightEnd] = uint8_t(hour);
}

size_t DeviceSettings::BandCount(int generation) const {
  if (Older(generation)) return settings_old::kBandCount;
  size_t n = 0;
  for (int c : BandCounts()) n += size_t(c);
  return n;
}

std::optional<bool> DeviceSettings::BandEnabled(int generation, size_t band) const {
  if (band >= BandCount(generation)) return std::nullopt;
  const size_t base = Older(generation) ? settings_old::kBandEnable : settings_gen3::kBandEnable;
  return m_bytes[base + band] != 0;
}

bool DeviceSettings::SetBandEnabled(int generation, size_t band, bool on) {
  if (band >= BandCount(generation)) return false;
  const size_t base = Older(generation) ? settings_old::kBandEnable : settings_gen3::kBandEnable;
  m_bytes[base + band] = on ? 1 : 0;
  return true;
}

std::array<int8_t, kBandGroups> DeviceSettings::RawBandCounts() const {
  std::array<int8_t, kBandGroups> counts{};
  for (size_t g = 0; g < kBandGroups; ++g) counts[g] = int8_t(m_bytes[settings_gen3::kBandCount + g]);
  return counts;
}

std::array<int, kBandGroups> DeviceSettings::BandCounts() const {
  std::array<int, kBandGroups> counts{};
  int room = int(settings_gen3::kMaxSubBands);
  const auto raw = RawBandCounts();
  for (size_t g = 0; g < kBandGroups; ++g) {
    const int c = std::clamp(int(raw[g]), 0, room);
    counts[g] = c;
    room -= c;
  }
  return counts;
}

int8_t DeviceSettings::OptionLevel() const { return int8_t(m_bytes[settings_gen3::kOptionLevel]); }
int8_t DeviceSettings::RadarLink() const { return int8_t(m_bytes[settings_gen3::kRadarLink]); }
uint32_t DeviceSettings::FormatNumber() const { return LoadLE32<settings_gen3::kFormatNumber>(m_bytes); }
uint32_t DeviceSettings::Marker() const { return LoadLE32<settings_gen3::kMarker>(m_bytes); }

std::optional<BandRange> DeviceSettings::SubBandRange(size_t band) const {
  if (band >= settings_gen3::kMaxSubBands) return std::nullopt;
  const size_t off = settings_gen3::kBandRange + band * 4;
  const auto low = TryLoadLE16(m_bytes, off);
  const auto high = TryLoadLE16(m_bytes, off + 2);
  if (!low || !high) return std::nullopt;
  return BandRange{*low, *high};
}

std::string FormatBandRange(const BandRange& range) {
  char text[64];
  std::snprintf(text, sizeof text, "(%.03f~%.03f)", range.lowMHz / 1000.0, range.highMHz / 1000.0);
  return text;
}

std::vector<BandInfo> DescribeBands(const DeviceSettings& settings, int generation) {
  std::vector<BandInfo> bands;
  if (Older(generation)) {
    for (size_t i = 0; i < settings_old::kBandCount; ++i) {
      const FixedBand& f = kFixedBands[i];
      BandInfo b;
      b.label = f.label;
      b.key = f.key;
      b.range = {f.low, f.high};
      b.rangeShown = f.low > 10 && f.high > 10;
      b.enabled = settings.BandEnabled(generation, i).value_or(false);
      bands.push_back(std::move(b));
    }
    return bands;
  }
  const auto counts = settings.BandCounts();
  size_t index = 0;
  for (size_t g = 0; g < kBandGroups; ++g) {
    for (int k = 1; k <= counts[g]; ++k, ++index) {
      BandInfo b;
      const std::string position = counts[g] > 1 ? std::to_string(k) : std::string();
      b.label = std::string(kGroupNames[g]) + position + kBandSuffix;
      b.key = std::string(kGroupKeys[g]) + position;
      b.range = settings.SubBandRange(index).value_or(BandRange{});
      b.rangeShown = b.range.lowMHz > 1000 && b.range.highMHz > 1000;
      b.enabled = settings.BandEnabled(generation, index).value_or(false);
      bands.push_back(std::move(b));
    }
  }
  return bands;
}

}  // namespace orvane
