// The records read from the device when it connects: info page, settings page
// with its recognised generation, brand page, boot version. Update-file
// reading, area planning and the settings exchange all work from these.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/settings/device_settings.h"

namespace orvane {

inline constexpr size_t kRecordPageSize = 256;
inline constexpr uint32_t kInfoMarker = 0x6C1E93A5;

struct DeviceRecords {
  std::array<uint8_t, kRecordPageSize> m_InfoPage{};
  bool m_bInfoValid = false;
  DeviceSettings m_Settings;
  int32_t m_nSettingsGen = 0;      // 3, 2, 1; 0 or -1 when the page is not recognised
  int32_t m_nSettingsFormat = 0;
  std::array<uint8_t, kRecordPageSize> m_szBrand{};  // zero-terminated GBK text
  uint32_t m_nBootVersion = 0;

  // The brand page's text up to its first zero byte.
  std::string_view BrandText() const;
};

// Info page check: marker at offset 231 and ByteSum of bytes 4..234 at offset 0.
bool InfoPageValid(const std::array<uint8_t, kRecordPageSize>& info);

// Settings format number of a valid info page (bytes 17..20).
int32_t InfoSettingsFormat(const std::array<uint8_t, kRecordPageSize>& info);

}  // namespace orvane
