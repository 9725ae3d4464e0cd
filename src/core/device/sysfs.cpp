#include "core/device/sysfs.h"

#include <fcntl.h>
#include <unistd.h>

namespace orvane {

std::optional<std::string> ReadSysfsAttribute(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  char buf[4096];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  ::close(fd);
  if (n < 0) return std::nullopt;
  std::string text(buf, size_t(n));
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

std::string UeventValue(const std::filesystem::path& ueventFile, std::string_view key) {
  const std::optional<std::string> text = ReadSysfsAttribute(ueventFile);
  if (!text) return {};
  size_t pos = 0;
  while (pos < text->size()) {
    size_t end = text->find('\n', pos);
    if (end == std::string::npos) end = text->size();
    const std::string_view line(text->data() + pos, end - pos);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=')
      return std::string(line.substr(key.size() + 1));
    pos = end + 1;
  }
  return {};
}

std::string DevNodeOf(const std::filesystem::path& deviceDir) {
  std::string name = UeventValue(deviceDir / "uevent", "DEVNAME");
  if (name.empty()) name = deviceDir.filename().string();
  return "/dev/" + name;
}

}  // namespace orvane
