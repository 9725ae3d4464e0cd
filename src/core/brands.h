// Brand texts: raw GBK bytes as the device stores them, compared byte for
// byte. The build brand is chosen when the project is configured
// (-DORVANE_BUILD_BRAND=N for brand N; empty for the unbranded build, which
// serves every device).
#pragma once

#include <cstddef>
#include <string_view>

namespace orvane::brands {

using namespace std::string_view_literals;

inline constexpr std::string_view kBrand1 = "\xbf\xad\xce\xac\xb4\xef\xb5\xe7\xd7\xd3\x53"sv;
inline constexpr std::string_view kBrand1Short = "\xbf\xad\xce\xac\xb4\xef"sv;
inline constexpr std::string_view kBrand2 = "\xc8\xf0\xbf\xcb\x54"sv;
inline constexpr std::string_view kBrand3 = "\xd0\xc7\xcd\xbe\xb4\xef"sv;
inline constexpr std::string_view kBrand5 = "\xb0\xb2\xd0\xd0\xd5\xdf\xb5\xe7\xd7\xd3"sv;
inline constexpr std::string_view kBrand6 = "\xd3\xa5\xd1\xdb"sv;
inline constexpr std::string_view kBrand7 =
    "\xce\xc0\xca\xbf\xcd\xa8\xd6\xc7\xc4\xdc\xb5\xe7\xd7\xd3\x47\x44"sv;
inline constexpr std::string_view kBrand8 = "\xce\xc0\xca\xbf\xcd\xa8\x41\x38"sv;
inline constexpr std::string_view kBrand10 = "\xce\xc0\xca\xbf\xcd\xa8\x42\x39"sv;
inline constexpr std::string_view kBrand11 = "\xb1\xb1\xb6\xb7\xd0\xc7\xb3\xbd\xb5\xbc\xba\xbd"sv;
inline constexpr std::string_view kBrand12 =
    "\xb1\xb1\xb6\xb7\xd0\xc7\xb3\xbd\xb5\xbc\xba\xbd\xb5\xe7\xd7\xd3\xbf\xc6\xbc\xbc\xd3\xd0\xcf\xde"sv;
inline constexpr std::string_view kBrand13 = "\xc0\xd7\xf6\xaa\xd1\xdb"sv;
inline constexpr std::string_view kBrand14 = "RADARX"sv;  // ASCII

static_assert(kBrand1.size() == 11 && kBrand2.size() == 5 && kBrand3.size() == 6 &&
              kBrand5.size() == 10 && kBrand6.size() == 4 && kBrand7.size() == 16 &&
              kBrand8.size() == 8 && kBrand10.size() == 8 && kBrand11.size() == 12 &&
              kBrand12.size() == 24 && kBrand13.size() == 6 && kBrand14.size() == 6);

// 21 spaces: the unbranded build.
inline constexpr std::string_view kUnbranded = "                     "sv;
static_assert(kUnbranded.size() == 21);

#ifndef ORVANE_BUILD_BRAND_ID
#define ORVANE_BUILD_BRAND_ID 0
#endif

inline constexpr std::string_view BrandById(int id) {
  switch (id) {
    case 1: return kBrand1;
    case 2: return kBrand2;
    case 3: return kBrand3;
    case 5: return kBrand5;
    case 6: return kBrand6;
    case 7: return kBrand7;
    case 8: return kBrand8;
    case 10: return kBrand10;
    case 11: return kBrand11;
    case 12: return kBrand12;
    case 13: return kBrand13;
    case 14: return kBrand14;
    default: return kUnbranded;
  }
}

// The brand compiled into this build.
inline constexpr std::string_view kBuildBrand = BrandById(ORVANE_BUILD_BRAND_ID);
static_assert(kBuildBrand.size() <= 21, "a build brand holds at most 21 bytes");

inline constexpr bool IsUnbrandedBuild() { return kBuildBrand == kUnbranded; }

}  // namespace orvane::brands
