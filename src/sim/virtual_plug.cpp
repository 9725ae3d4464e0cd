#include "sim/virtual_plug.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/virtual_hid_io.h"

namespace orvane::sim {

std::string UnpluggedMarkerPath(const std::string& imagePath) { return imagePath + ".unplugged"; }

bool ImageIsPlugged(const std::string& imagePath) {
  return ::access(UnpluggedMarkerPath(imagePath).c_str(), F_OK) != 0;
}

bool SetImagePlugged(const std::string& imagePath, bool plugged, std::string* error) {
  const std::string marker = UnpluggedMarkerPath(imagePath);
  if (plugged) {
    if (::unlink(marker.c_str()) == 0 || errno == ENOENT) return true;
  } else {
    const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0) {
      ::close(fd);
      return true;
    }
  }
  if (error) *error = marker + ": " + std::strerror(errno);
  return false;
}

std::unique_ptr<IDeviceEventSource> MakeVirtualPlugSource(std::shared_ptr<CVirtualDevice> device,
                                                          const std::string& imagePath,
                                                          std::chrono::milliseconds period, const IClock& clock) {
  auto enumerate = [device, imagePath]() -> std::vector<PresentInterface> {
    const bool plugged = ImageIsPlugged(imagePath);
    if (plugged && !device->IsPlugged()) device->Plug();
    if (!plugged && device->IsPlugged()) device->Unplug();
    if (!plugged) return {};
    PresentInterface hid;
    hid.position = kGuidHid;
    hid.path = CVirtualHidIO::kPath;
    hid.identity = std::to_string(device->Generation());  // a new one after every unplug
    hid.isTarget = IsTargetDevicePath(hid.path);
    return {hid};
  };
  return std::make_unique<CPollingEventSource>(enumerate, period, clock);
}

}  // namespace orvane::sim
