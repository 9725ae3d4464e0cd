// The device state every front end shares: the link, the records read when
// the device connected, the versions, and the counters of an update job.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/device/hid_cmd.h"
#include "core/settings/device_records.h"
#include "core/update/job_progress.h"

namespace orvane {

inline constexpr const char* kTitleService = "数据更新服务";
inline constexpr const char* kTitleNotConnected = "   未连接硬件！";
inline constexpr const char* kTitleConnecting = "    正在连接...";
inline constexpr const char* kTitleConnected = "   连接成功！";
inline constexpr const char* kTitleCurrentVersion = "   当前版本：";

// Start of the dated data region when the device has no area table.
inline constexpr uint32_t kFixedDateRegion = 0x2DE000;

class CDeviceSession : public DeviceRecords, public IHidNotify {
 public:
  explicit CDeviceSession(std::unique_ptr<CHidIO> io);
  ~CDeviceSession() override;

  CHidCmd& Link() { return m_hidCmd; }

  // Opens the first device present (start-up) or the interface an arrival
  // names, with this session as the receiver of progress notices.
  bool Open();
  bool OpenPath(const std::string& path);
  // Closes the link and enters the closed state.
  void Close();
  bool IsOpen() const { return m_hidCmd.IsOpen(); }

  // The connect sequence: boot version, capacity, info, settings and brand
  // pages, the brand check, the date of the device's data. False when it
  // failed; the device is then closed and the records cleared.
  bool RunConnectSequence();

  // Effects of entering the closed state on the records.
  void ResetRecords();

  // The window title for the current state.
  std::string ConnectionTitle() const;

  uint32_t m_nCapacity = 0;
  int32_t m_nDeviceVersion = -1;
  std::string m_strDateText;
  bool m_bConnected = false;
  // All 256 bytes of the brand page arrived (or the brand check filled it in):
  // only then may planning write it back to the device.
  bool m_bBrandComplete = false;
  JobProgress m_progress;

 private:
  void Post(unsigned message, uint32_t wParam, int32_t lParam) override;
  bool Fail();

  CHidCmd m_hidCmd;
};

}  // namespace orvane
