#include "core/settings/device_records.h"

#include "core/device/byte_sum.h"
#include "core/util/bytes.h"

namespace orvane {

std::string_view DeviceRecords::BrandText() const {
  const std::string_view page(reinterpret_cast<const char*>(m_szBrand.data()), m_szBrand.size());
  const size_t end = page.find('\0');
  return end == std::string_view::npos ? page : page.substr(0, end);
}

bool InfoPageValid(const std::array<uint8_t, kRecordPageSize>& info) {
  return LoadLE32<231>(info) == kInfoMarker && ByteSum(info.data() + 4, 231) == LoadLE32<0>(info);
}

int32_t InfoSettingsFormat(const std::array<uint8_t, kRecordPageSize>& info) {
  return int32_t(LoadLE32<17>(info));
}

}  // namespace orvane
