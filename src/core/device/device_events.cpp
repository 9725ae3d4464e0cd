#include "core/device/device_events.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "core/device/sysfs.h"

namespace orvane {

namespace fs = std::filesystem;

DeviceChangeRecord MakeInterfaceRecord(uint32_t eventType, int position, std::string path, bool isTarget) {
  DeviceChangeRecord r;
  r.eventType = eventType;
  r.deviceType = DBT_DEVTYP_DEVICEINTERFACE;
  if (position >= 1 && size_t(position) <= NotifyInterfaceGuids.size())
    r.classGuid = NotifyInterfaceGuids[size_t(position) - 1];
  r.path = std::move(path);
  r.isTarget = isTarget;
  return r;
}

CPollingEventSource::CPollingEventSource(Enumerator enumerate, std::chrono::milliseconds period,
                                         const IClock& clock)
    : m_enumerate(std::move(enumerate)), m_period(period), m_clock(clock) {
  for (PresentInterface& p : m_enumerate()) {
    auto key = std::make_pair(p.position, p.path);
    m_present.emplace(std::move(key), std::move(p));
  }
  m_next = m_clock.Now() + m_period;
}

std::vector<DeviceChangeRecord> CPollingEventSource::Collect() {
  std::vector<DeviceChangeRecord> events;
  const MonoTime now = m_clock.Now();
  if (now < m_next) return events;
  m_next = now + m_period;

  std::map<std::pair<int, std::string>, PresentInterface> present;
  for (PresentInterface& p : m_enumerate()) {
    auto key = std::make_pair(p.position, p.path);
    present.emplace(std::move(key), std::move(p));
  }
  // Removals first: a path that is a new device now was removed before.
  for (const auto& [key, old] : m_present) {
    auto it = present.find(key);
    if (it == present.end() || it->second.identity != old.identity)
      events.push_back(MakeInterfaceRecord(DBT_DEVICEREMOVECOMPLETE, old.position, old.path, old.isTarget));
  }
  for (const auto& [key, now_] : present) {
    auto it = m_present.find(key);
    if (it == m_present.end() || it->second.identity != now_.identity)
      events.push_back(MakeInterfaceRecord(DBT_DEVICEARRIVAL, now_.position, now_.path, now_.isTarget));
  }
  m_present = std::move(present);
  return events;
}

bool HidIdIsTarget(std::string_view hidId) {
  // bus:vendor:product
  const size_t a = hidId.find(':');
  if (a == std::string_view::npos) return false;
  const size_t b = hidId.find(':', a + 1);
  if (b == std::string_view::npos) return false;
  auto hex = [](std::string_view text, uint32_t& v) {
    if (text.empty() || text.size() > 8) return false;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 16);
    return ec == std::errc() && p == text.data() + text.size();
  };
  uint32_t vendor = 0, product = 0;
  return hex(hidId.substr(a + 1, b - a - 1), vendor) && hex(hidId.substr(b + 1), product) &&
         vendor == kDeviceVendorId && product == kDeviceProductId;
}

namespace {

void EnumerateClass(const fs::path& dir, int position, bool hid, std::vector<PresentInterface>& out) {
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path entry = it->path();
    struct stat st {};
    if (::stat(entry.c_str(), &st) != 0) continue;  // gone meanwhile
    PresentInterface p;
    p.position = position;
    p.path = DevNodeOf(entry);
    // A device removed and added again gets a new sysfs node.
    p.identity = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    if (hid) p.isTarget = HidIdIsTarget(UeventValue(entry / "device" / "uevent", "HID_ID"));
    out.push_back(std::move(p));
  }
}

}  // namespace

std::vector<PresentInterface> EnumerateSysfs(const std::string& root) {
  std::vector<PresentInterface> out;
  EnumerateClass(fs::path(root) / "class" / "hidraw", kGuidHid, true, out);
  EnumerateClass(fs::path(root) / "class" / "block", kGuidDiskVolume, false, out);
  return out;
}

std::unique_ptr<IDeviceEventSource> MakeSystemEventSource(const EventSourceOptions& options, const IClock& clock,
                                                          std::string* why) {
  std::string reason;
  if (::access(options.udevControl.c_str(), F_OK) == 0) {
    if (auto udev = MakeUdevEventSource(&reason)) return udev;
  } else {
    reason = "udev is not running";
  }
  if (why) *why = reason;
  const std::string root = options.sysfsRoot;
  return std::make_unique<CPollingEventSource>([root] { return EnumerateSysfs(root); }, options.pollPeriod,
                                               clock);
}

}  // namespace orvane
