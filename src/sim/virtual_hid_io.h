// The virtual backend of the HID link: reports go to and come from a
// CVirtualDevice, paced by a wire clock when a per-report latency is set.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "core/device/hid_io.h"
#include "sim/virtual_device.h"

namespace orvane::sim {

class CVirtualHidIO final : public CHidIO {
 public:
  static constexpr const char* kPath = "virtual:orvane/vid_0416&pid_b500";

  explicit CVirtualHidIO(std::shared_ptr<CVirtualDevice> device);

  std::vector<std::string> EnumerateTargets() override;
  bool OpenPath(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override;
  bool ReadReport(Report& buffer, size_t* bytesRead) override;
  bool WriteReport(const Report& buffer, size_t* bytesWritten) override;
  void Cancel() override;
  void DiscardInput() override;
  OpenError LastOpenError() const override { return m_lastOpenError; }

  const std::shared_ptr<CVirtualDevice>& Device() const { return m_device; }
  // How long a transfer that gets no answer waits before it fails: the link's
  // 100 ms bound by default; tests that provoke many time-outs shorten it
  // (the outcome is the same, only sooner).
  void SetTimeoutWait(std::chrono::milliseconds wait) { m_timeoutWait = wait; }

 private:
  bool Transfer(bool write, Report& buffer, size_t* count);
  void WaitForFrame();
  // Waits out the transfer bound; false when Cancel ended the wait.
  void WaitOutTimeout();

  std::shared_ptr<CVirtualDevice> m_device;
  bool m_open = false;
  uint64_t m_generation = 0;
  OpenError m_lastOpenError = OpenError::None;
  std::chrono::milliseconds m_timeoutWait{kTransferTimeoutMs};

  // Wire clock: report k of a burst completes no earlier than start + k * latency,
  // so sleep overshoot does not accumulate. A gap of more than kIdleFrames
  // frames starts a new burst.
  static constexpr int kIdleFrames = 50;
  bool m_clockStarted = false;
  std::chrono::steady_clock::time_point m_clockStart;
  int64_t m_slot = 0;

  std::mutex m_cancelMutex;
  std::condition_variable m_cancelCv;
  bool m_cancelled = false;
};

}  // namespace orvane::sim
