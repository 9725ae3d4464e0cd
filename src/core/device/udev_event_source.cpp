// The libudev monitor: events for hidraw and block devices as udevd announces
// them, i.e. after it has set the permissions.
#include <libudev.h>

#include <cstring>
#include <set>

#include "core/device/device_events.h"

namespace orvane {

namespace {

bool IsTargetHidraw(udev_device* dev) {
  // The parent is owned by `dev`.
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(dev, "hid", nullptr);
  const char* id = hid ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
  return id && HidIdIsTarget(id);
}

class CUdevEventSource final : public IDeviceEventSource {
 public:
  ~CUdevEventSource() override {
    if (m_monitor) udev_monitor_unref(m_monitor);
    if (m_udev) udev_unref(m_udev);
  }

  bool Start(std::string* error) {
    m_udev = udev_new();
    if (!m_udev) return Fail(error, "udev_new failed");
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor) return Fail(error, "cannot open the udev event socket");
    if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "hidraw", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "block", nullptr) < 0)
      return Fail(error, "cannot filter udev events");
    // Receive before enumerating, so a device that comes meanwhile is not missed.
    if (udev_monitor_enable_receiving(m_monitor) < 0) return Fail(error, "cannot receive udev events");
    RememberPresentTargets();
    return true;
  }

  std::string Kind() const override { return "udev"; }
  int Fd() const override { return udev_monitor_get_fd(m_monitor); }

  std::vector<DeviceChangeRecord> Collect() override {
    std::vector<DeviceChangeRecord> events;
    // The socket does not block: this ends when nothing more waits.
    while (udev_device* dev = udev_monitor_receive_device(m_monitor)) {
      const char* action = udev_device_get_action(dev);
      const char* subsystem = udev_device_get_subsystem(dev);
      const char* node = udev_device_get_devnode(dev);
      if (action && subsystem && node) {
        const bool add = std::strcmp(action, "add") == 0, remove = std::strcmp(action, "remove") == 0;
        const uint32_t code = add ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
        if (std::strcmp(subsystem, "hidraw") == 0 && (add || remove)) {
          bool target;
          if (add) {
            target = IsTargetHidraw(dev);
            if (target) m_targets.insert(node);
          } else {
            // sysfs is gone by now: what the node was is what we saw at its arrival.
            target = m_targets.erase(node) > 0;
          }
          events.push_back(MakeInterfaceRecord(code, kGuidHid, node, target));
        } else if (std::strcmp(subsystem, "block") == 0 && (add || remove)) {
          events.push_back(MakeInterfaceRecord(code, kGuidDiskVolume, node, false));
        }
      }
      udev_device_unref(dev);
    }
    return events;
  }

 private:
  static bool Fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
  }

  void RememberPresentTargets() {
    udev_enumerate* en = udev_enumerate_new(m_udev);
    if (!en) return;
    udev_enumerate_add_match_subsystem(en, "hidraw");
    udev_enumerate_scan_devices(en);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(en)) {
      udev_device* dev = udev_device_new_from_syspath(m_udev, udev_list_entry_get_name(entry));
      if (!dev) continue;
      const char* node = udev_device_get_devnode(dev);
      if (node && IsTargetHidraw(dev)) m_targets.insert(node);
      udev_device_unref(dev);
    }
    udev_enumerate_unref(en);
  }

  udev* m_udev = nullptr;
  udev_monitor* m_monitor = nullptr;
  std::set<std::string> m_targets;  // device nodes of the device's interfaces
};

}  // namespace

std::unique_ptr<IDeviceEventSource> MakeUdevEventSource(std::string* error) {
  auto source = std::make_unique<CUdevEventSource>();
  if (!source->Start(error)) return nullptr;
  return source;
}

}  // namespace orvane
