// Device arrival and removal events, in the shape of the system's
// device-change notifications: an event code, a record type, the interface
// class and the interface path.
//
// Sources: a libudev monitor on hidraw and block (Linux with udevd running);
// a polling source that enumerates once a period and reports the differences
// (Linux without udevd, and the virtual device); tests script their own.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/device/hid_io.h"
#include "core/util/clock.h"

namespace orvane {

// Event codes and the record type looked at.
inline constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr uint32_t DBT_DEVTYP_VOLUME = 2;
inline constexpr uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;

struct DeviceChangeRecord {
  uint32_t eventType = 0;   // DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, ...
  uint32_t deviceType = DBT_DEVTYP_DEVICEINTERFACE;
  InterfaceGuid classGuid{};
  std::string path;  // what OpenPath takes (a hidraw node here)
  // Whether the interface belongs to the device. On Windows that is
  // IsTargetDevicePath(path); Linux sources know it from the HID ids.
  bool isTarget = false;
};

// A record of a device interface of class `position` (1-based, as
// ClassifyInterfaceGuid returns it).
DeviceChangeRecord MakeInterfaceRecord(uint32_t eventType, int position, std::string path, bool isTarget);

class IDeviceEventSource {
 public:
  virtual ~IDeviceEventSource() = default;
  // "udev" or "polling": shown to the user.
  virtual std::string Kind() const = 0;
  // A descriptor that becomes readable when events wait, or -1.
  virtual int Fd() const { return -1; }
  // When the source wants to be asked next without its descriptor having
  // become readable (the next enumeration of a polling source).
  virtual std::optional<MonoTime> NextPoll() const { return std::nullopt; }
  // Takes what has happened, without blocking.
  virtual std::vector<DeviceChangeRecord> Collect() = 0;
};

// What a polling source sees at one moment: the interfaces present.
struct PresentInterface {
  int position = 0;      // interface class, as ClassifyInterfaceGuid returns it
  std::string path;
  std::string identity;  // changes when the same path is a new device (replugged)
  bool isTarget = false;
};
using Enumerator = std::function<std::vector<PresentInterface>()>;

// Enumerates every `period` and reports what appeared and what went. The
// first enumeration, made when it is constructed, is the baseline: what is
// present then is the front end's start-up business, not an arrival.
class CPollingEventSource final : public IDeviceEventSource {
 public:
  CPollingEventSource(Enumerator enumerate, std::chrono::milliseconds period, const IClock& clock);

  std::string Kind() const override { return "polling"; }
  std::optional<MonoTime> NextPoll() const override { return m_next; }
  std::vector<DeviceChangeRecord> Collect() override;

 private:
  Enumerator m_enumerate;
  std::chrono::milliseconds m_period;
  const IClock& m_clock;
  MonoTime m_next;
  std::map<std::pair<int, std::string>, PresentInterface> m_present;
};

// hidraw and block devices of a sysfs tree (`root`/class/hidraw,
// `root`/class/block): the device's interfaces as HID, every block device as
// a volume.
std::vector<PresentInterface> EnumerateSysfs(const std::string& root);

// "0003:00000416:0000B500" (bus:vendor:product, hexadecimal) names the device.
bool HidIdIsTarget(std::string_view hidId);

struct EventSourceOptions {
  std::string sysfsRoot = "/sys";
  // Present while udevd runs; without it libudev's monitor would stay silent.
  std::string udevControl = "/run/udev/control";
  std::chrono::milliseconds pollPeriod{1000};
};

// The libudev monitor where udevd runs, else polling of the sysfs tree.
// `why` (may be null) receives why polling was chosen.
std::unique_ptr<IDeviceEventSource> MakeSystemEventSource(const EventSourceOptions& options, const IClock& clock,
                                                          std::string* why);
// The libudev monitor alone; nullptr (with `error` set) when it cannot start.
std::unique_ptr<IDeviceEventSource> MakeUdevEventSource(std::string* error);

}  // namespace orvane
