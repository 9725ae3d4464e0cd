#include "core/session/device_session.h"

#include <cstdlib>

#include "core/brands.h"
#include "core/session/brand_check.h"
#include "core/settings/settings_exchange.h"
#include "core/update/info_page.h"

namespace orvane {

CDeviceSession::CDeviceSession(std::unique_ptr<CHidIO> io) : m_hidCmd(std::move(io)) {}

CDeviceSession::~CDeviceSession() { m_hidCmd.Close(); }

bool CDeviceSession::Open() { return m_hidCmd.Open(this); }

bool CDeviceSession::OpenPath(const std::string& path) { return m_hidCmd.OpenPath(path, this); }

void CDeviceSession::Close() {
  m_hidCmd.Close();
  ResetRecords();
}

void CDeviceSession::ResetRecords() {
  m_szBrand.fill(0);
  m_bBrandComplete = false;
  m_Settings = DeviceSettings();
  m_nDeviceVersion = -1;
  m_strDateText.clear();
  m_bConnected = false;
}

void CDeviceSession::Post(unsigned message, uint32_t, int32_t lParam) {
  if (message == WM_HID_WRITE_PROGRESS) m_progress.OnHidWriteProgress(lParam);
}

bool CDeviceSession::Fail() {
  Close();
  return false;
}

bool CDeviceSession::RunConnectSequence() {
  // The whole sequence is one exchange as far as other threads are concerned.
  auto lock = m_hidCmd.LockExchange();
  m_bConnected = false;
  m_nSettingsGen = 0;

  const int64_t boot = m_hidCmd.GetBootVersion();
  m_nBootVersion = uint32_t(boot);  // a failure compares as a large version
  if (!BootVersionAtLeast(boot, 1011)) {
    m_nCapacity = kDefaultCapacity;
  } else {
    // A capacity the device did not tell would end up in an area table as
    // 4 GiB and void every later fit check: such a device is not connected.
    const int64_t capacity = m_hidCmd.GetCapacity();
    if (capacity <= 0) return Fail();
    m_nCapacity = uint32_t(capacity);
  }

  m_bInfoValid = false;
  if (m_hidCmd.ReadPage(0, kInfoPage, m_InfoPage) != int(kPageSize)) return Fail();
  const InfoPage info(m_InfoPage);
  if (info.IsValid()) {
    m_nSettingsFormat = int32_t(info.SettingsFormat());
    m_bInfoValid = true;
  }

  m_Settings = DeviceSettings();
  if (m_hidCmd.ReadPage(0, kSettingsPage, m_Settings.Raw()) != int(kPageSize)) return Fail();
  DetectSettingsGeneration(*this);

  // A short brand read is not checked: the zeroed rest takes part in the check.
  m_szBrand.fill(0);
  m_bBrandComplete =
      m_hidCmd.ReadPage(0, m_bInfoValid ? kBrandPage : kBrandPageOld, m_szBrand) == int(kPageSize);

  const BrandDecision brand = CheckDeviceBrand(m_szBrand, m_nSettingsGen, brands::kBuildBrand);
  if (brand.rewrite) {
    m_szBrand = brand.newBrand;
    m_bBrandComplete = true;
    if (m_hidCmd.SendCommand(HID_CMD_WRITE_PAGES, kBrandPageOld, 1, 0, 0, 0))
      m_hidCmd.WritePages(1, m_szBrand);
  }
  if (!brand.accepted) return Fail();

  m_strDateText.clear();
  uint32_t regionStart = kFixedDateRegion;
  bool regionExists = true;
  if (m_bInfoValid) {
    regionStart = info.Area4Start();
    regionExists = info.Area4Length() != 0;
  }
  if (regionExists) {
    std::array<uint8_t, kPageSize> page{};
    if (m_hidCmd.ReadPage(1, regionStart / kPageSize, page) == int(kPageSize))
      m_strDateText = FormatDateStamp(LoadLE32<0>(page));
  }
  m_nDeviceVersion = m_strDateText.empty() ? 0 : std::atoi(m_strDateText.c_str());
  m_bConnected = true;
  return true;
}

std::string CDeviceSession::ConnectionTitle() const {
  std::string title = kTitleService;
  if (!m_hidCmd.IsOpen())
    title += kTitleNotConnected;
  else if (!m_bConnected)
    title += kTitleConnecting;
  else
    title += std::string(kTitleConnected) + kTitleCurrentVersion + m_strDateText;
  return title;
}

}  // namespace orvane
