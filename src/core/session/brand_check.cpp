#include "core/session/brand_check.h"

#include <algorithm>
#include <cstdio>

#include "core/brands.h"

namespace orvane {

namespace {

bool BeginsWith(const std::array<uint8_t, 256>& page, std::string_view text) {
  return text.size() <= page.size() &&
         std::equal(text.begin(), text.end(), page.begin(),
                    [](char a, uint8_t b) { return uint8_t(a) == b; });
}

std::array<uint8_t, 256> BrandPageOf(std::string_view text) {
  std::array<uint8_t, 256> page{};
  std::copy_n(text.begin(), std::min(text.size(), page.size()), page.begin());
  return page;
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

BrandDecision CheckDeviceBrand(const std::array<uint8_t, 256>& brand, int32_t settingsGen,
                               std::string_view build) {
  using namespace brands;
  BrandDecision d;
  d.accepted = true;
  if (build.substr(0, 21) == kUnbranded) {
    d.rule = 1;
  } else if (std::all_of(brand.begin(), brand.end(), [](uint8_t b) { return b == 0xFF; })) {
    d.rule = 2;
    d.rewrite = true;
    d.newBrand = BrandPageOf(build);
  } else if (BeginsWith(brand, build)) {
    d.rule = 3;
  } else if (BeginsWith(brand, kBrand1) && build == kBrand2 && settingsGen <= 1) {
    d.rule = 4;
    d.rewrite = true;
    d.newBrand = BrandPageOf(kBrand2);
  } else if (BeginsWith(brand, kBrand7) && (build == kBrand8 || build == kBrand10)) {
    d.rule = 5;
  } else if ((build == kBrand11 || build == kBrand12) &&
             (BeginsWith(brand, kBrand11) || BeginsWith(brand, kBrand12))) {
    d.rule = 6;
  } else if (build == kBrand7 && (BeginsWith(brand, kBrand13) || BeginsWith(brand, kBrand14))) {
    d.rule = 7;
  } else {
    d.rule = 8;
    d.accepted = false;
  }
  return d;
}

std::string FormatDateStamp(uint32_t s) {
  static constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int year = 1970;
  for (;;) {
    const uint32_t yearSeconds = (IsLeap(year) ? 366u : 365u) * 86400u;
    if (s < yearSeconds) break;
    s -= yearSeconds;
    ++year;
  }
  int month = 0;
  for (; month < 11; ++month) {
    const uint32_t days = uint32_t(kMonthDays[month] + (month == 1 && IsLeap(year) ? 1 : 0));
    if (s < days * 86400u) break;
    s -= days * 86400u;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d", year, month + 1, int(s / 86400 + 1));
  return text;
}

}  // namespace orvane
