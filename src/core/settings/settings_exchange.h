// Recognition of the settings page and the Config exchange: the checks before
// the settings may be edited, what the editor may offer, and the write-back.
#pragma once

#include <string>

#include "core/device/hid_cmd.h"
#include "core/settings/device_records.h"

namespace orvane {

// Texts of the Config exchange.
inline constexpr const char* kTextNotConnected = "   未连接硬件！";
inline constexpr const char* kTextNotInitialised = "请启动一次机器以初始化参数！";
inline constexpr const char* kTextToolTooOld = "需要更新的更新工具，请重新下载！！";
inline constexpr const char* kTextDefaultsQuestion =
    "未正确连接一次雷达，将使用默认值，雷达配置有可能出错！确认配置？";
inline constexpr const char* kTextConfigDone = "配置成功！";
inline constexpr const char* kTextConfigFailed = "配置失败！";
inline constexpr const char* kTextTimeZoneError = "时区 出错！";
inline constexpr const char* kTextBrightStartError = "白天亮度开始时间 出错！";
inline constexpr const char* kTextBrightEndError = "白天亮度结束时间 出错！";
inline constexpr const char* kCaptionService = "数据更新服务";

// Recognises the generation of records.m_Settings, right after the page was
// read. The caller has set m_nSettingsGen to 0 and, from a valid info page,
// m_nSettingsFormat; m_szBrand still holds the previous connection's brand.
// Sets m_nSettingsGen and m_nSettingsFormat; a generation-1 page gets its
// bytes 4..11 cleared.
void DetectSettingsGeneration(DeviceRecords& records);

// The refusal text of a Config request, empty when the settings may be edited:
// device closed, page not recognised, settings format newer than this tool.
std::string CheckConfigAllowed(bool deviceOpen, const DeviceRecords& records);

// Whether the user must confirm that the page holds default values.
bool NeedsDefaultsQuestion(const DeviceRecords& records);

// What the settings editor offers for this record (hidden fields are neither
// checked nor written).
struct SettingsOffer {
  bool timeZone = false;
  bool brightStart = false;
  bool brightEnd = false;
  bool showNumber = false;
  bool perBandLayout = false;
};
SettingsOffer OfferedSettings(const DeviceRecords& records, const DeviceSettings& working);

// Range checks of the editor's numbers: the error text, or empty when valid.
std::string CheckTimeZone(int hours);
std::string CheckBrightStart(int hour);
std::string CheckBrightEnd(int hour);

// Writes an edited record: new checksum for the generation, HID_CMD_WRITE_PAGES
// of page 0x110 with the 256 bytes, then Finish (sent in every case). Once the
// device took the page, records.m_Settings becomes the record as written. The
// result is kTextConfigDone only when the page was taken and Finish succeeded,
// else kTextConfigFailed: a device that stopped answering is not reported as
// configured.
struct ConfigWriteResult {
  bool ok = false;
  std::string message;
};
ConfigWriteResult WriteSettings(CHidCmd& link, DeviceRecords& records, DeviceSettings edited);

}  // namespace orvane
