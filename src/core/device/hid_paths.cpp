#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/device/hid_io.h"

namespace orvane {

bool IsTargetDevicePath(std::string_view path) {
  std::string lowered(path);
  for (char& c : lowered) c = char(std::tolower(static_cast<unsigned char>(c)));
  char pattern[32];
  std::snprintf(pattern, sizeof pattern, "vid_%04x&pid_%04x", kDeviceVendorId, kDeviceProductId);
  return lowered.find(pattern) != std::string::npos;
}

const std::array<InterfaceGuid, 5> NotifyInterfaceGuids = {{
    {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}},  // USB device
    {0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}},  // disk volume
    {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}},  // disk
    {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}},  // HID
    {0xAD498944, 0x762F, 0x11D0, {0x8D, 0xCB, 0x00, 0xC0, 0x4F, 0xC3, 0x58, 0x8C}},  // network adapter
}};

int ClassifyInterfaceGuid(const InterfaceGuid& guid) {
  for (size_t i = 0; i < NotifyInterfaceGuids.size(); ++i) {
    const InterfaceGuid& row = NotifyInterfaceGuids[i];
    if (row.Data1 == guid.Data1 && row.Data2 == guid.Data2 && row.Data3 == guid.Data3 &&
        std::memcmp(row.Data4, guid.Data4, sizeof row.Data4) == 0)
      return int(i) + 1;
  }
  return 0;
}

}  // namespace orvane
