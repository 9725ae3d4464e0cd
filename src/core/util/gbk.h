// GBK device texts (brand pages, update-file brands) to and from UTF-8 for
// display and entry. Comparisons elsewhere stay on the raw bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvane {

// Converts GBK bytes to UTF-8. Bytes that are not valid GBK are shown as
// "\xNN" escapes so a damaged text still displays.
std::string GbkToUtf8(std::string_view gbk);

// Converts UTF-8 to GBK; nullopt when the text is not valid UTF-8 or has a
// character GBK cannot hold.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

// The text of a zero-terminated record field: the bytes before the first 0.
std::string_view ZeroTerminated(std::string_view field);

}  // namespace orvane
