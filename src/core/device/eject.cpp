#include "core/device/eject.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "core/device/sysfs.h"

namespace orvane {

namespace fs = std::filesystem;

namespace {

bool IsPrint(unsigned char c) { return c >= 0x20 && c < 0x7F; }
bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Hexadecimal digit pairs; nullopt when the text is not such a text.
std::optional<std::string> DecodeHexPairs(std::string_view text) {
  std::string out;
  bool stored0 = false;  // a completed 0 byte ends the text as a C string would
  unsigned byte = 0;
  bool half = false;
  for (unsigned char c : text) {
    if (IsSpace(c)) c = '0';
    const int digit = HexValue(static_cast<unsigned char>(std::tolower(c)));
    if (digit < 0) return std::nullopt;
    byte = (byte << 4 | unsigned(digit)) & 0xFF;
    half = !half;
    if (half) continue;
    if (byte != 0 && !IsPrint(static_cast<unsigned char>(byte))) return std::nullopt;
    if (byte == 0) stored0 = true;
    if (!stored0 && out.size() < kDescriptorTextBuffer - 1) out.push_back(char(byte));
    byte = 0;
  }
  return out;
}

std::string Trimmed(std::string s) {
  const bool allSpace = std::all_of(s.begin(), s.end(), [](char c) { return IsSpace(static_cast<unsigned char>(c)); });
  if (s.empty() || allSpace) return s;
  size_t b = 0, e = s.size();
  while (IsSpace(static_cast<unsigned char>(s[b]))) ++b;
  while (IsSpace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

}  // namespace

std::string DecodeDescriptorText(std::string_view text) {
  text = text.substr(0, std::min(text.size(), text.find('\0')));
  std::optional<std::string> out = DecodeHexPairs(text);
  if (!out) {
    // The plain reading.
    out.emplace();
    for (unsigned char c : text) {
      if (!IsPrint(c)) return {};
      if (out->size() < kDescriptorTextBuffer - 1) out->push_back(char(c));
    }
  }
  return Trimmed(std::move(*out));
}

std::string DecodeDescriptorString(std::span<const uint8_t> descriptor, int64_t offset) {
  if (offset <= 0 || uint64_t(offset) >= descriptor.size()) return {};
  const auto* p = reinterpret_cast<const char*>(descriptor.data()) + offset;
  return DecodeDescriptorText(std::string_view(p, descriptor.size() - size_t(offset)));
}

namespace {

std::string Stripped(std::string s) {
  while (!s.empty() && IsSpace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

// Whether the device behind `deviceLink` has a USB device among its parents.
bool OnUsbBus(const fs::path& deviceLink, const fs::path& root) {
  std::error_code ec;
  const fs::path rootDir = fs::canonical(root, ec);
  if (ec) return false;
  fs::path p = fs::canonical(deviceLink, ec);
  if (ec) return false;
  // Stay inside the tree we were given.
  if (std::mismatch(rootDir.begin(), rootDir.end(), p.begin(), p.end()).first != rootDir.end())
    return false;
  for (int depth = 0; depth < 64 && p != rootDir && p.has_relative_path(); ++depth) {
    const fs::path subsystem = fs::read_symlink(p / "subsystem", ec);
    if (!ec && subsystem.filename() == "usb") return true;
    if (p.parent_path() == p) break;
    p = p.parent_path();
  }
  return false;
}

BlockNode NodeOf(const fs::path& dir) {
  BlockNode node;
  node.name = dir.filename().string();
  node.devNode = DevNodeOf(dir);
  if (auto dev = ReadSysfsAttribute(dir / "dev")) node.devNumbers = Stripped(*dev);
  return node;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::vector<EjectCandidate> EjectDeviceVolume(const std::string& sysfsRoot, const EjectAction& eject) {
  std::vector<EjectCandidate> chosen;
  const fs::path root(sysfsRoot);
  std::error_code ec;
  std::vector<fs::path> disks;
  for (fs::directory_iterator it(root / "block", ec), end; !ec && it != end; it.increment(ec))
    disks.push_back(it->path());
  std::sort(disks.begin(), disks.end());

  for (const fs::path& disk : disks) {
    if (!fs::is_directory(disk, ec)) continue;
    // The INQUIRY vendor field: 8 characters, space-padded.
    const std::optional<std::string> vendor = ReadSysfsAttribute(disk / "device" / "vendor");
    if (!vendor) continue;
    const std::string decoded = DecodeDescriptorText(*vendor);
    if (!EqualsIgnoringCase(decoded, kDeviceDiskVendor)) continue;
    // The removable flag is 0 on many USB enclosures; a disk on a USB bus is
    // hot-pluggable whatever it says.
    if (!OnUsbBus(disk / "device", root)) continue;

    EjectCandidate c;
    c.disk = NodeOf(disk);
    c.vendor = decoded;
    std::vector<fs::path> parts;
    for (fs::directory_iterator it(disk, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code e2;
      if (it->is_directory(e2) && !it->is_symlink(e2) && fs::exists(it->path() / "partition", e2))
        parts.push_back(it->path());
    }
    std::sort(parts.begin(), parts.end());
    for (const fs::path& part : parts) c.partitions.push_back(NodeOf(part));
    if (eject) eject(c);
    chosen.push_back(std::move(c));
  }
  return chosen;
}

std::vector<std::string> MountPointsOf(std::string_view mountinfo, std::string_view devNumbers) {
  std::vector<std::string> points;
  if (devNumbers.empty()) return points;
  size_t pos = 0;
  while (pos < mountinfo.size()) {
    size_t end = mountinfo.find('\n', pos);
    if (end == std::string_view::npos) end = mountinfo.size();
    const std::string_view line = mountinfo.substr(pos, end - pos);
    pos = end + 1;
    // id parent major:minor root mount-point ...
    std::string_view fields[5];
    size_t f = 0, i = 0;
    while (f < 5 && i < line.size()) {
      const size_t sp = std::min(line.find(' ', i), line.size());
      fields[f++] = line.substr(i, sp - i);
      i = sp + 1;
    }
    if (f < 5 || fields[2] != devNumbers) continue;
    std::string point;
    const std::string_view raw = fields[4];
    for (size_t k = 0; k < raw.size(); ++k) {
      if (raw[k] == '\\' && k + 3 < raw.size() && raw[k + 1] >= '0' && raw[k + 1] <= '3' &&
          raw[k + 2] >= '0' && raw[k + 2] <= '7' && raw[k + 3] >= '0' && raw[k + 3] <= '7') {
        point.push_back(char((raw[k + 1] - '0') * 64 + (raw[k + 2] - '0') * 8 + (raw[k + 3] - '0')));
        k += 3;
      } else {
        point.push_back(raw[k]);
      }
    }
    points.push_back(std::move(point));
  }
  return points;
}

}  // namespace orvane
