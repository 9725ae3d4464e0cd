// Plugging and unplugging a virtual device from another process: the state
// lives beside the device's image file, as IMAGE.unplugged, present while the
// device is unplugged. `orvane-cli --virtual-device=IMAGE plug|unplug` sets
// it; a process that uses the image follows it.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "core/device/device_events.h"
#include "sim/virtual_device.h"

namespace orvane::sim {

std::string UnpluggedMarkerPath(const std::string& imagePath);
bool ImageIsPlugged(const std::string& imagePath);
bool SetImagePlugged(const std::string& imagePath, bool plugged, std::string* error);

// An event source that looks at the marker every `period`: it plugs and
// unplugs `device` to match and reports the arrival and removal of its HID
// interface. The device is brought in line already when the source is made.
std::unique_ptr<IDeviceEventSource> MakeVirtualPlugSource(std::shared_ptr<CVirtualDevice> device,
                                                          const std::string& imagePath,
                                                          std::chrono::milliseconds period, const IClock& clock);

}  // namespace orvane::sim
