// URLs of the brand table of the online check, next to the brand texts they
// belong to. The server's base is chosen when the project is configured
// (-DORVANE_VERSION_URL_BASE=http://host[:port]); the default points at a
// local server so that a test server on this machine can answer.
#pragma once

#include <string_view>

#ifndef ORVANE_VERSION_URL_BASE
#define ORVANE_VERSION_URL_BASE "http://127.0.0.1:8765"
#endif

namespace orvane::brands {

inline constexpr std::string_view kVersionUrlBase = ORVANE_VERSION_URL_BASE;

// Row 0: the unbranded build asks for a connectivity-test text only.
inline constexpr std::string_view kTestNetUrl = ORVANE_VERSION_URL_BASE "/UserFiles/File/testNet.txt";
// Rows 1 to 6: the version files of brands 1, 2, 3, the build brand, 5 and 6.
inline constexpr std::string_view kVersionUrl1 = ORVANE_VERSION_URL_BASE "/UserFiles/File/version1.txt";
inline constexpr std::string_view kVersionUrl2 = ORVANE_VERSION_URL_BASE "/UserFiles/File/version2.txt";
inline constexpr std::string_view kVersionUrl3 = ORVANE_VERSION_URL_BASE "/UserFiles/File/version3.txt";
inline constexpr std::string_view kVersionUrl4 = ORVANE_VERSION_URL_BASE "/UserFiles/File/version4.txt";
inline constexpr std::string_view kVersionUrl5 = ORVANE_VERSION_URL_BASE "/UserFiles/File/version5.txt";
inline constexpr std::string_view kVersionUrl6 = ORVANE_VERSION_URL_BASE "/UserFiles/File/version6.txt";

}  // namespace orvane::brands
