// One HID interface of the device, moving single 65-byte reports.
//
// Backends: the hidapi one for real devices (hidapi_io.cpp), the virtual one
// connected to the firmware model (src/sim), and a trace decorator. Callers
// never share a backend between threads except for Cancel(), which may come
// from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvane {

inline constexpr size_t kReportSize = 65;  // byte 0 is the report id (always 0)
inline constexpr size_t kReportPayload = 64;
inline constexpr uint16_t kDeviceVendorId = 0x0416;
inline constexpr uint16_t kDeviceProductId = 0xB500;
inline constexpr int kTransferTimeoutMs = 100;

using Report = std::array<uint8_t, kReportSize>;

enum class OpenError {
  None,
  NotFound,          // no such interface (gone, or never there)
  PermissionDenied,  // present but not accessible to this user
  Failed,
};

class CHidIO {
 public:
  virtual ~CHidIO() = default;

  // Paths of the present interfaces that belong to the device, in enumeration order.
  virtual std::vector<std::string> EnumerateTargets() = 0;
  virtual bool OpenPath(const std::string& path) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // Each transfer is bounded by kTransferTimeoutMs; on failure the count is 0.
  // A completed read reports 65 bytes (or fewer when the device sent fewer).
  virtual bool ReadReport(Report& buffer, size_t* bytesRead) = 0;
  virtual bool WriteReport(const Report& buffer, size_t* bytesWritten) = 0;

  // Ends a transfer that is waiting in another thread as a failure.
  virtual void Cancel() {}

  // Drops input reports that are already waiting, without waiting for more:
  // leftovers of an exchange that failed half-way.
  virtual void DiscardInput() {}

  // Why the last OpenPath failed.
  virtual OpenError LastOpenError() const { return OpenError::Failed; }
};

// The hidapi backend for real devices.
std::unique_ptr<CHidIO> MakeHidApiIO();

// Whether a (Windows-form) interface path names the device: vid_0416&pid_b500
// anywhere in it, in any case.
bool IsTargetDevicePath(std::string_view path);

// Device-interface classes the main window listens to, in this order; the
// 1-based position is what ClassifyInterfaceGuid returns.
struct InterfaceGuid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};

inline constexpr int kGuidUsbDevice = 1;
inline constexpr int kGuidDiskVolume = 2;
inline constexpr int kGuidDisk = 3;
inline constexpr int kGuidHid = 4;
inline constexpr int kGuidNetwork = 5;

extern const std::array<InterfaceGuid, 5> NotifyInterfaceGuids;

int ClassifyInterfaceGuid(const InterfaceGuid& guid);

}  // namespace orvane
