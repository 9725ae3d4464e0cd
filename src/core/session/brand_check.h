// Whether this build may serve a device, decided on the device's brand page;
// and the date stamp of the device's data.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvane {

struct BrandDecision {
  bool accepted = false;
  // The brand page is to be rewritten with `newBrand` (written to page 0x70).
  bool rewrite = false;
  std::array<uint8_t, 256> newBrand{};
  int rule = 0;  // the rule that decided, 1..8
};

// The brand rule table, tried in order; the first rule that applies decides.
BrandDecision CheckDeviceBrand(const std::array<uint8_t, 256>& brand, int32_t settingsGen,
                               std::string_view buildBrand);

// A date stamp (seconds since 1970-01-01, no time zone) as "yyyymmdd".
std::string FormatDateStamp(uint32_t seconds);

}  // namespace orvane
