// hidapi backend (hidraw on Linux).
#include <hidapi/hidapi.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>

#include "core/device/hid_io.h"

namespace orvane {

namespace {

void InitHidApiOnce() {
  static std::once_flag once;
  std::call_once(once, [] { hid_init(); });
}

class CHidApiIO final : public CHidIO {
 public:
  ~CHidApiIO() override { Close(); }

  std::vector<std::string> EnumerateTargets() override {
    InitHidApiOnce();
    std::vector<std::string> paths;
    hid_device_info* list = hid_enumerate(kDeviceVendorId, kDeviceProductId);
    for (hid_device_info* d = list; d; d = d->next) {
      // The filter above already matched; keep the check so a backend that
      // ignores it cannot hand us a foreign device.
      if (d->path && d->vendor_id == kDeviceVendorId && d->product_id == kDeviceProductId)
        paths.emplace_back(d->path);
    }
    hid_free_enumeration(list);
    return paths;
  }

  bool OpenPath(const std::string& path) override {
    InitHidApiOnce();
    Close();
    // Tell a missing node from one we may not use, so the user can be told
    // about the udev rule rather than that nothing is connected.
    if (::access(path.c_str(), R_OK | W_OK) != 0) {
      m_lastOpenError = (errno == EACCES || errno == EPERM) ? OpenError::PermissionDenied
                        : errno == ENOENT                   ? OpenError::NotFound
                                                            : OpenError::Failed;
      return false;
    }
    m_dev = hid_open_path(path.c_str());
    if (!m_dev) {
      m_lastOpenError = (errno == EACCES || errno == EPERM) ? OpenError::PermissionDenied
                                                            : OpenError::Failed;
      return false;
    }
    m_lastOpenError = OpenError::None;
    return true;
  }

  void Close() override {
    if (m_dev) {
      hid_close(m_dev);
      m_dev = nullptr;
    }
  }

  bool IsOpen() const override { return m_dev != nullptr; }

  bool ReadReport(Report& buffer, size_t* bytesRead) override {
    if (bytesRead) *bytesRead = 0;
    if (!m_dev) return false;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kTransferTimeoutMs);
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      errno = 0;
      // hidraw hands back the payload without the report-id byte.
      const int n = hid_read_timeout(m_dev, buffer.data() + 1, kReportPayload, int(left));
      if (n > 0) {
        buffer[0] = 0;
        if (bytesRead) *bytesRead = size_t(n) + 1;
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      return false;  // 0: time-out; -1: disconnected or failed
    }
  }

  bool WriteReport(const Report& buffer, size_t* bytesWritten) override {
    if (bytesWritten) *bytesWritten = 0;
    if (!m_dev) return false;
    int n;
    do {
      errno = 0;
      n = hid_write(m_dev, buffer.data(), buffer.size());
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    if (bytesWritten) *bytesWritten = size_t(n);
    return true;
  }

  void DiscardInput() override {
    if (!m_dev) return;
    uint8_t scratch[kReportPayload];
    // hidraw keeps at most 64 reports; the bound keeps a chattering device from holding us.
    for (int i = 0; i < 64 && hid_read_timeout(m_dev, scratch, sizeof scratch, 0) > 0; ++i) {
    }
  }

  OpenError LastOpenError() const override { return m_lastOpenError; }

 private:
  hid_device* m_dev = nullptr;
  OpenError m_lastOpenError = OpenError::None;
};

}  // namespace

std::unique_ptr<CHidIO> MakeHidApiIO() { return std::make_unique<CHidApiIO>(); }

}  // namespace orvane
