// The settings page: recognition of its generation, the field accessors of
// each layout, and the Config exchange against the virtual device.
#include <gtest/gtest.h>

#include <memory>

#include "core/device/byte_sum.h"
#include "core/settings/settings_exchange.h"
#include "sim/virtual_device.h"
#include "sim/virtual_hid_io.h"

namespace orvane {
namespace {

using namespace settings_gen3;

DeviceSettings Gen3Page(std::array<int8_t, 5> counts = {1, 1, 4, 5, 1}) {
  DeviceSettings s;
  s.SetWord(kModelWord, 0x204B3354);  // "T3K "
  s.SetWord(kProgramVersion, 77);
  for (size_t g = 0; g < 5; ++g) s.SetByte(kBandCount + g, uint8_t(counts[g]));
  s.SetWord(kFormatNumber, 6);
  s.SetWord(kMarker, kSettingsMarker);
  s.SetByte(100, 0xAB);  // a byte no field names
  s.UpdateChecksum(3);
  return s;
}

DeviceSettings OlderPage(int gen) {
  DeviceSettings s;
  for (size_t i = 4; i < 76; ++i) s.SetByte(i, uint8_t(i));
  s.SetByte(settings_old::kTimeZone, uint8_t(-5));
  s.UpdateChecksum(gen);
  return s;
}

DeviceRecords Detect(const DeviceSettings& page, bool infoValid = false, int32_t infoFormat = 0,
                     const char* brand = "") {
  DeviceRecords r;
  r.m_Settings = page;
  r.m_bInfoValid = infoValid;
  r.m_nSettingsFormat = infoFormat;
  for (size_t i = 0; brand[i]; ++i) r.m_szBrand[i] = uint8_t(brand[i]);
  DetectSettingsGeneration(r);
  return r;
}

TEST(SettingsRecognition, GenerationsInOrder) {
  // Generation 3, format from the page unless the info page gave one.
  EXPECT_EQ(Detect(Gen3Page()).m_nSettingsGen, 3);
  EXPECT_EQ(Detect(Gen3Page()).m_nSettingsFormat, 6);
  EXPECT_EQ(Detect(Gen3Page(), true, 42).m_nSettingsFormat, 42);

  // Marker present but its 59-byte sum wrong, 72-byte sum right: generation 2.
  DeviceSettings markerOnly = OlderPage(2);
  markerOnly.SetWord(kMarker, kSettingsMarker);
  markerOnly.UpdateChecksum(2);
  ASSERT_NE(markerOnly.ComputeChecksum(3), markerOnly.Checksum());
  EXPECT_EQ(Detect(markerOnly).m_nSettingsGen, 2);
  EXPECT_EQ(Detect(markerOnly, true, 42).m_nSettingsFormat, 5);

  // 256 zero bytes: every sum is 0, no marker: generation 2.
  EXPECT_EQ(Detect(DeviceSettings{}).m_nSettingsGen, 2);

  // Generation 1: bytes 4..11 cleared, the rest kept.
  const DeviceRecords g1 = Detect(OlderPage(1));
  EXPECT_EQ(g1.m_nSettingsGen, 1);
  EXPECT_EQ(g1.m_nSettingsFormat, 5);
  for (size_t i = 4; i < 12; ++i) EXPECT_EQ(g1.m_Settings.Byte(i), 0) << i;
  EXPECT_EQ(g1.m_Settings.Byte(12), 12);
  EXPECT_EQ(g1.m_Settings.TimeZone(1), 0);
  EXPECT_EQ(g1.m_Settings.BandEnabled(1, 0), false);

  // Not recognised: -1, or 0 when the previous brand begins with "XVO".
  DeviceSettings junk = OlderPage(1);
  junk.SetWord(0, 1);
  EXPECT_EQ(Detect(junk).m_nSettingsGen, -1);
  EXPECT_EQ(Detect(junk, true, 42).m_nSettingsFormat, 0);
  EXPECT_EQ(Detect(junk, false, 0, "XVO").m_nSettingsGen, 0);
  EXPECT_EQ(Detect(junk, false, 0, "XV").m_nSettingsGen, -1);
  EXPECT_EQ(Detect(junk).m_Settings.Raw(), junk.Raw());
}

TEST(SettingsRecord, FieldsOfBothLayouts) {
  DeviceSettings s;
  // Older layout.
  s.SetTimeZone(2, -12);
  s.SetBrightStart(2, 3);
  s.SetBrightEnd(2, -1);
  s.SetClock12(2, true);
  s.SetShowNumber(2, true);
  s.SetBandEnabled(2, 11, true);
  EXPECT_EQ(s.Byte(10), 0xF4);
  EXPECT_EQ(s.Byte(24), 3);
  EXPECT_EQ(s.Byte(25), 0xFF);
  EXPECT_EQ(s.Byte(8), 0x60);
  EXPECT_EQ(s.Byte(22), 1);
  EXPECT_FALSE(s.SetBandEnabled(2, 12, true));
  EXPECT_EQ(s.BandCount(1), 12u);

  // Generation 3.
  DeviceSettings g = Gen3Page();
  g.SetFlags(3, 0x80);
  g.SetTimeZone(3, 13);
  g.SetBrightStart(3, 10);
  g.SetBrightEnd(3, 23);
  g.SetShowNumber(3, true);
  EXPECT_EQ(g.Byte(16), 0xC0);
  EXPECT_EQ(g.Byte(18), 13);
  EXPECT_EQ(g.Byte(50), 10);
  EXPECT_EQ(g.Byte(51), 23);
  EXPECT_EQ(g.ModelWord(3), 0x204B3354u);
  EXPECT_EQ(g.ProgramVersion(3), 77u);
  EXPECT_EQ(g.BandCount(3), 12u);
  EXPECT_TRUE(g.SetBandEnabled(3, 11, true));
  EXPECT_EQ(g.Byte(24 + 11), 1);
  EXPECT_FALSE(g.SetBandEnabled(3, 12, true));
  EXPECT_EQ(g.Byte(100), 0xAB);  // untouched

  EXPECT_FALSE(g.Byte(256));
  EXPECT_FALSE(g.Word(253));
  EXPECT_FALSE(g.SetWord(253, 1));
}

TEST(SettingsRecord, BandCountsAreClampedToThePage) {
  struct Case {
    std::array<int8_t, 5> raw;
    std::array<int, 5> clamped;
  };
  const Case cases[] = {
      {{1, 1, 4, 5, 1}, {1, 1, 4, 5, 1}},
      {{24, 0, 0, 0, 0}, {24, 0, 0, 0, 0}},
      {{20, 3, 4, 0, 9}, {20, 3, 1, 0, 0}},  // would run BandEnable past byte 48
      {{-3, 2, 127, -128, 1}, {0, 2, 22, 0, 0}},
      {{-1, -1, -1, -1, -1}, {0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const DeviceSettings s = Gen3Page(c.raw);
    EXPECT_EQ(s.BandCounts(), c.clamped);
    size_t n = 0;
    for (int v : c.clamped) n += size_t(v);
    EXPECT_EQ(s.BandCount(3), n);
    EXPECT_LE(kBandEnable + n, kBandEnableEnd);
    EXPECT_EQ(DescribeBands(s, 3).size(), n);
  }
}

TEST(SettingsRecord, BandNames) {
  DeviceSettings s = Gen3Page({1, 1, 4, 5, 2});
  s.SetWord(kBandRange + 4 * 0, 1000u | 1200u << 16);    // not above 1000: no range
  s.SetWord(kBandRange + 4 * 4, 24060u | 24410u << 16);  // K3
  const auto bands = DescribeBands(s, 3);
  ASSERT_EQ(bands.size(), 13u);
  EXPECT_EQ(bands[0].label, "X频段");
  EXPECT_FALSE(bands[0].rangeShown);
  EXPECT_EQ(bands[1].label, "Ku频段");
  EXPECT_EQ(bands[2].label, "K1频段");
  EXPECT_EQ(bands[4].label, "K3频段");
  EXPECT_TRUE(bands[4].rangeShown);
  EXPECT_EQ(FormatBandRange(bands[4].range), "(24.060~24.410)");
  EXPECT_EQ(bands[10].label, "Ka5频段");
  EXPECT_EQ(bands[11].label, "雷射1频段");
  EXPECT_EQ(bands[12].key, "laser2");

  const auto older = DescribeBands(OlderPage(2), 2);
  ASSERT_EQ(older.size(), 12u);
  EXPECT_EQ(older[0].label + FormatBandRange(older[0].range), "X频段(10.480~10.720)");
  EXPECT_EQ(older[11].label, "雷射频段");
  EXPECT_FALSE(older[11].rangeShown);
}

TEST(SettingsRecord, ChecksumRangePerGeneration) {
  DeviceSettings s;
  s.SetByte(4, 1);    // in every range
  s.SetByte(27, 2);   // last byte of generation 1
  s.SetByte(62, 4);   // last byte of generation 3
  s.SetByte(75, 8);   // last byte of generation 2
  s.SetByte(76, 16);  // in none
  EXPECT_EQ(s.ComputeChecksum(-1), 3u);
  EXPECT_EQ(s.ComputeChecksum(1), 3u);
  EXPECT_EQ(s.ComputeChecksum(2), 15u);
  EXPECT_EQ(s.ComputeChecksum(3), 7u);
}

TEST(ConfigExchange, Refusals) {
  DeviceRecords r = Detect(Gen3Page());
  EXPECT_EQ(CheckConfigAllowed(false, r), "   未连接硬件！");
  EXPECT_EQ(CheckConfigAllowed(true, r), "");

  for (int gen : {0, -1}) {
    DeviceRecords u = r;
    u.m_nSettingsGen = gen;
    EXPECT_EQ(CheckConfigAllowed(true, u), "请启动一次机器以初始化参数！");
  }
  // Format number from the page, no valid info page: 100 passes, 101 is refused.
  for (uint32_t format : {100u, 101u}) {
    DeviceSettings p = Gen3Page();
    p.SetWord(kFormatNumber, format);
    p.UpdateChecksum(3);
    EXPECT_EQ(CheckConfigAllowed(true, Detect(p)), format > 100 ? "需要更新的更新工具，请重新下载！！" : "");
  }
  // A huge format word is a newer tool's page, not a negative number.
  DeviceSettings p = Gen3Page();
  p.SetWord(kFormatNumber, 0xFFFFFFFF);
  p.UpdateChecksum(3);
  EXPECT_EQ(CheckConfigAllowed(true, Detect(p)), "需要更新的更新工具，请重新下载！！");

  // RadarLink 0x80 asks the default-values question, 0x01 does not.
  for (uint8_t link : {uint8_t(0x80), uint8_t(0x01)}) {
    DeviceSettings q = Gen3Page();
    q.SetByte(kRadarLink, link);
    q.UpdateChecksum(3);
    EXPECT_EQ(NeedsDefaultsQuestion(Detect(q)), link == 0x80);
  }
}

TEST(ConfigExchange, RangeChecks) {
  for (int tz : {-12, 13}) EXPECT_EQ(CheckTimeZone(tz), "");
  for (int tz : {-13, 14}) EXPECT_EQ(CheckTimeZone(tz), "时区 出错！");
  for (int h : {3, 10}) EXPECT_EQ(CheckBrightStart(h), "");
  for (int h : {2, 11, 0}) EXPECT_EQ(CheckBrightStart(h), "白天亮度开始时间 出错！");
  for (int h : {15, 23}) EXPECT_EQ(CheckBrightEnd(h), "");
  for (int h : {14, 24}) EXPECT_EQ(CheckBrightEnd(h), "白天亮度结束时间 出错！");
}

TEST(ConfigExchange, OfferedFields) {
  DeviceSettings p = Gen3Page();
  p.SetTimeZone(3, 14);
  p.SetBrightStart(3, -1);
  p.SetBrightEnd(3, 0);
  p.SetByte(kOptionLevel, 5);
  p.SetByte(kRadarLink, 1);
  p.SetFlags(3, kFlagNumberOffered);
  p.UpdateChecksum(3);
  DeviceRecords r = Detect(p);
  SettingsOffer o = OfferedSettings(r, r.m_Settings);
  EXPECT_FALSE(o.timeZone);
  EXPECT_FALSE(o.brightStart);
  EXPECT_TRUE(o.brightEnd);
  EXPECT_TRUE(o.perBandLayout);
  EXPECT_TRUE(o.showNumber);

  // Option level above 2 without bit 7: no frequency-number option.
  r.m_Settings.SetFlags(3, 0);
  EXPECT_FALSE(OfferedSettings(r, r.m_Settings).showNumber);
  // Five-group layout: never.
  r.m_Settings.SetByte(kOptionLevel, 0);
  r.m_Settings.SetByte(kRadarLink, 0);
  EXPECT_FALSE(OfferedSettings(r, r.m_Settings).perBandLayout);
  EXPECT_FALSE(OfferedSettings(r, r.m_Settings).showNumber);

  // Generation 2: per band only for T3K; an XVO record hides the option.
  DeviceSettings old = OlderPage(2);
  old.SetWord(settings_old::kModelWord, 0x204B3354);
  old.UpdateChecksum(2);
  DeviceRecords r2 = Detect(old);
  EXPECT_TRUE(OfferedSettings(r2, r2.m_Settings).perBandLayout);
  EXPECT_TRUE(OfferedSettings(r2, r2.m_Settings).showNumber);
  r2.m_Settings.SetWord(settings_old::kModelWord, 0x204F5658);  // "XVO "
  EXPECT_FALSE(OfferedSettings(r2, r2.m_Settings).perBandLayout);
}

class ConfigWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    device = std::shared_ptr<sim::CVirtualDevice>(sim::MakeFactoryDevice());
    link = std::make_unique<CHidCmd>(std::make_unique<sim::CVirtualHidIO>(device));
    ASSERT_TRUE(link->Open(nullptr));
    std::array<uint8_t, 256> page{};
    ASSERT_EQ(link->ReadPage(0, kSettingsPage, page), 256);
    records.m_Settings = DeviceSettings(page);
    records.m_nBootVersion = device->Config().bootVersion;
    DetectSettingsGeneration(records);
  }
  std::shared_ptr<sim::CVirtualDevice> device;
  std::unique_ptr<CHidCmd> link;
  DeviceRecords records;
};

TEST_F(ConfigWrite, FactoryPageIsGeneration3AndEditsReachTheDevice) {
  ASSERT_EQ(records.m_nSettingsGen, 3);
  EXPECT_EQ(CheckConfigAllowed(link->IsOpen(), records), "");
  DeviceSettings w = records.m_Settings;
  w.SetTimeZone(3, -3);
  w.SetBandEnabled(3, 2, false);
  const auto before = device->GetStats();
  const ConfigWriteResult r = WriteSettings(*link, records, w);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.message, "配置成功！");
  const auto after = device->GetStats();
  EXPECT_EQ(after.pagesWritten - before.pagesWritten, 1u);
  EXPECT_EQ(after.finishes - before.finishes, 1u);

  const std::vector<uint8_t> stored = device->ReadPageDirect(0, kSettingsPage);
  DeviceRecords again;
  again.m_Settings = DeviceSettings(stored);
  DetectSettingsGeneration(again);
  EXPECT_EQ(again.m_nSettingsGen, 3);
  EXPECT_EQ(again.m_Settings.TimeZone(3), -3);
  EXPECT_EQ(again.m_Settings.BandEnabled(3, 2), false);
  EXPECT_EQ(again.m_Settings.Raw(), records.m_Settings.Raw());
}

TEST_F(ConfigWrite, UnchangedGeneration1PageIsWrittenWithNew24ByteChecksum) {
  DeviceSettings p = OlderPage(1);
  device->WritePageDirect(0, kSettingsPage, p.Raw());
  records = DeviceRecords{};
  records.m_Settings = p;
  records.m_nBootVersion = 1011;
  DetectSettingsGeneration(records);
  ASSERT_EQ(records.m_nSettingsGen, 1);
  ASSERT_TRUE(WriteSettings(*link, records, records.m_Settings).ok);
  const DeviceSettings stored(device->ReadPageDirect(0, kSettingsPage));
  for (size_t i = 4; i < 12; ++i) EXPECT_EQ(stored.Byte(i), 0);
  EXPECT_EQ(stored.Checksum(), ByteSum(stored.Raw().data() + 4, 24));
}

TEST_F(ConfigWrite, SilentDeviceIsNotReportedAsConfigured) {
  const DeviceSettings original = records.m_Settings;
  DeviceSettings w = original;
  w.SetTimeZone(3, 1);
  device->AddFault({sim::FaultKind::FailCommand, 1});  // the write command
  ConfigWriteResult r = WriteSettings(*link, records, w);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "配置失败！");
  EXPECT_EQ(records.m_Settings.Raw(), original.Raw());
  EXPECT_EQ(DeviceSettings(device->ReadPageDirect(0, kSettingsPage)).Raw(), original.Raw());

  // Unplugged: Finish is still attempted, the result is a failure.
  device->Unplug();
  r = WriteSettings(*link, records, w);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, "配置失败！");
}

}  // namespace
}  // namespace orvane
