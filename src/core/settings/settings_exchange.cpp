#include "core/settings/settings_exchange.h"

#include "core/brands.h"
#include "core/util/bytes.h"

namespace orvane {

namespace {

constexpr uint32_t Word4(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
         uint32_t(uint8_t(d)) << 24;
}

constexpr uint32_t kModelT3K = Word4('T', '3', 'K', ' ');
constexpr uint32_t kModelXVO = Word4('X', 'V', 'O', ' ');

// The model word the editor goes by: the info page's when it is valid.
uint32_t DisplayedModelWord(const DeviceRecords& records, const DeviceSettings& working) {
  if (records.m_bInfoValid) return LoadLE32<8>(records.m_InfoPage);
  return working.ModelWord(records.m_nSettingsGen);
}

bool BrandBeginsWith(const DeviceRecords& records, std::string_view prefix) {
  const std::string_view page(reinterpret_cast<const char*>(records.m_szBrand.data()),
                              records.m_szBrand.size());
  return page.substr(0, prefix.size()) == prefix;
}

}  // namespace

void DetectSettingsGeneration(DeviceRecords& records) {
  DeviceSettings& s = records.m_Settings;
  const uint32_t checksum = s.Checksum();
  if (s.Marker() == kSettingsMarker && s.ComputeChecksum(3) == checksum) {
    records.m_nSettingsGen = 3;
    if (!records.m_bInfoValid) records.m_nSettingsFormat = int32_t(s.FormatNumber());
  } else if (s.ComputeChecksum(2) == checksum) {
    records.m_nSettingsGen = 2;
    records.m_nSettingsFormat = 5;
  } else if (s.ComputeChecksum(1) == checksum) {
    records.m_nSettingsGen = 1;
    // Generation-1 pages carry no valid flags, time zone or X band here.
    for (size_t i = 4; i < 12; ++i) s.SetByte(i, 0);
    records.m_nSettingsFormat = 5;
  } else {
    records.m_nSettingsGen = BrandBeginsWith(records, "XVO") ? 0 : -1;
    records.m_nSettingsFormat = 0;
  }
}

std::string CheckConfigAllowed(bool deviceOpen, const DeviceRecords& records) {
  if (!deviceOpen) return kTextNotConnected;
  if (records.m_nSettingsGen <= 0) return kTextNotInitialised;
  // Compared as the unsigned word it is on the page: a huge format is newer
  // than this tool, not negative.
  if (uint32_t(records.m_nSettingsFormat) > 100) return kTextToolTooOld;
  return {};
}

bool NeedsDefaultsQuestion(const DeviceRecords& records) {
  return records.m_nSettingsGen > 2 && records.m_Settings.RadarLink() < 0;
}

SettingsOffer OfferedSettings(const DeviceRecords& records, const DeviceSettings& working) {
  const int gen = records.m_nSettingsGen;
  SettingsOffer offer;
  if (gen >= 3)
    offer.perBandLayout = working.OptionLevel() >= 5 || working.RadarLink() > 0;
  else if (gen == 2)
    offer.perBandLayout = DisplayedModelWord(records, working) == kModelT3K;
  else
    offer.perBandLayout = !BrandBeginsWith(records, brands::kBrand2);

  if (offer.perBandLayout) {
    if (gen >= 3 && working.OptionLevel() > 2)
      offer.showNumber = (working.Flags(gen) & kFlagNumberOffered) != 0 && working.RadarLink() != 0;
    else
      offer.showNumber = working.ModelWord(gen) != kModelXVO;
  }
  const int tz = working.TimeZone(gen);
  offer.timeZone = tz >= -12 && tz <= 13;
  offer.brightStart = working.BrightStart(gen) >= 0;
  offer.brightEnd = working.BrightEnd(gen) >= 0;
  return offer;
}

std::string CheckTimeZone(int hours) {
  return hours < -12 || hours > 13 ? kTextTimeZoneError : "";
}

std::string CheckBrightStart(int hour) {
  return hour < 3 || hour > 10 ? kTextBrightStartError : "";
}

std::string CheckBrightEnd(int hour) {
  return hour < 15 || hour > 23 ? kTextBrightEndError : "";
}

ConfigWriteResult WriteSettings(CHidCmd& link, DeviceRecords& records, DeviceSettings edited) {
  edited.UpdateChecksum(records.m_nSettingsGen);
  // Command and data must not be interleaved with another thread's exchange.
  auto lock = link.LockExchange();
  bool written = false;
  if (link.SendCommand(HID_CMD_WRITE_PAGES, kSettingsPage, 1, 0, 0, 0)) {
    written = link.PageWriteTaken(link.WritePages(1, edited.Raw()), kPageSize, records.m_nBootVersion);
  }
  const bool finished = link.Finish() == 1;
  if (written) records.m_Settings = edited;
  if (!written || !finished) return {false, kTextConfigFailed};
  return {true, kTextConfigDone};
}

}  // namespace orvane
