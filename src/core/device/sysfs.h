// Small reads from a sysfs tree (the real one, or a test's fake one).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

// An attribute's text without the newline sysfs ends it with; nullopt when
// it cannot be read. At most 4096 bytes, as sysfs hands out.
std::optional<std::string> ReadSysfsAttribute(const std::filesystem::path& path);

// The value of KEY=value in a uevent file; empty when absent or unreadable.
std::string UeventValue(const std::filesystem::path& ueventFile, std::string_view key);

// The device node of a sysfs device directory: /dev/ + its DEVNAME, or + its
// directory name when the uevent does not say.
std::string DevNodeOf(const std::filesystem::path& deviceDir);

}  // namespace orvane
