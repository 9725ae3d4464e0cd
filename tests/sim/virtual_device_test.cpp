#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <vector>

#include "core/device/byte_sum.h"
#include "core/update/scramble.h"
#include "sim/virtual_device.h"
#include "sim/virtual_hid_io.h"

namespace orvane::sim {
namespace {

using Page = std::array<uint8_t, kPageSize>;

struct Rig {
  std::shared_ptr<CVirtualDevice> device;
  CHidCmd link;
  explicit Rig(VirtualDeviceConfig config = {})
      : device(std::make_shared<CVirtualDevice>(config)),
        link(std::make_unique<CVirtualHidIO>(device)) {
    EXPECT_TRUE(link.Open(nullptr));
  }
  // One page write the way the update job sends section data.
  int Write(uint8_t area, uint32_t first, const std::vector<uint8_t>& data, uint32_t lengthWord,
            uint32_t checksum) {
    const uint32_t pages = uint32_t(data.size() / kPageSize);
    if (!link.SendCommand(HID_CMD_WRITE_PAGES, first, pages, lengthWord, area, checksum)) return -1;
    return link.WritePages(pages, data);
  }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + seed);
  return v;
}

TEST(VirtualDevice, AnswersTheQueries) {
  Rig rig({.bootVersion = 1011, .capacity = 0x100000});
  EXPECT_EQ(rig.link.GetBootVersion(), 1011);
  EXPECT_EQ(rig.link.GetCapacity(), 0x100000);
  EXPECT_EQ(rig.link.Finish(), 1);
  EXPECT_EQ(rig.device->GetStats().finishes, 1u);
  // Older boot loaders know neither the capacity query nor the close command.
  Rig old({.bootVersion = 1009, .capacity = 0x100000});
  EXPECT_EQ(old.link.GetBootVersion(), 1009);
  EXPECT_EQ(old.link.GetCapacity(), -2);
  ASSERT_TRUE(old.link.SendCommand(HID_CMD_CLOSE, 0, 0, 0, 0, 0));
  EXPECT_FALSE(old.link.ReadResponse(nullptr));
}

TEST(VirtualDevice, StoresPagesWhoseSumMatches) {
  Rig rig;
  const auto plain = Pattern(2 * kPageSize, 1);
  EXPECT_EQ(rig.Write(0, 0x110, plain, 0, ByteSum(plain)), 512);
  const auto scrambled = Pattern(3 * kPageSize, 9);
  const uint32_t length = 3 * kPageSize - 100;  // unpadded length of a section
  EXPECT_EQ(rig.Write(1, 0x90, scrambled, length, ScrambledSum(scrambled.data(), length, scrambled.size())),
            768);
  // A zero checksum word announces no sum (record pages).
  const auto record = Pattern(kPageSize, 3);
  EXPECT_EQ(rig.Write(0, 0x70, record, 0, 0), 256);

  Page page{};
  EXPECT_EQ(rig.link.ReadPage(0, 0x111, page), 256);
  EXPECT_TRUE(std::equal(page.begin(), page.end(), plain.begin() + kPageSize));
  EXPECT_EQ(rig.link.ReadPage(1, 0x92, page), 256);
  EXPECT_TRUE(std::equal(page.begin(), page.end(), scrambled.begin() + 2 * kPageSize));
  EXPECT_EQ(rig.device->ReadPageDirect(0, 0x70), record);
}

TEST(VirtualDevice, RefusesWhatTheFirmwareRefuses) {
  Rig rig({.bootVersion = 1011, .capacity = 0x10000});  // 256 pages, 16 sectors
  const auto data = Pattern(kPageSize, 5);
  const auto before = rig.device->ReadPageDirect(0, 3);
  struct Case {
    const char* name;
    uint8_t area;
    uint32_t page;
    uint32_t lengthWord;
    uint32_t checksum;
  } cases[] = {
      {"plain sum off by one", 0, 3, 0, ByteSum(data) + 1},
      {"scrambled sum announced as plain", 0, 3, 0, ScrambledSum(data.data(), 256, 256)},
      {"plain sum announced as scrambled", 0, 3, 256, ByteSum(data)},
      {"length word past the pages", 0, 3, 257, ScrambledSum(data.data(), 256, 256)},
      {"page past the capacity", 0, 256, 0, ByteSum(data)},
      {"area 2", 2, 3, 0, ByteSum(data)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rig.Write(c.area, c.page, data, c.lengthWord, c.checksum), -2) << c.name;
    EXPECT_EQ(rig.device->ReadPageDirect(0, 3), before) << c.name;
  }
  // The link stays in step after every refusal.
  EXPECT_EQ(rig.Write(0, 3, data, 0, ByteSum(data)), 256);

  Page page{};
  EXPECT_EQ(rig.link.ReadPage(0, 256, page), -2);
  ASSERT_TRUE(rig.link.SendCommand(HID_CMD_ERASE_SECTORS, 15, 2, 0, 0, 0));
  EXPECT_FALSE(rig.link.ReadResponse(nullptr));
  ASSERT_TRUE(rig.link.SendCommand(0xE0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(rig.link.ReadResponse(nullptr));
  // Queries must carry their fixed words.
  ASSERT_TRUE(rig.link.SendCommand(HID_CMD_FINISH, kHidMarkerWord, 0, 0, 0, 0));
  EXPECT_FALSE(rig.link.ReadResponse(nullptr));
  EXPECT_EQ(rig.device->GetStats().finishes, 0u);
}

TEST(VirtualDevice, RejectsMalformedPackets) {
  auto device = std::make_shared<CVirtualDevice>();
  CVirtualHidIO io(device);
  ASSERT_TRUE(io.OpenPath(CVirtualHidIO::kPath));
  const HidCommandPacket good = HidCommandPacket::Make(HID_CMD_GET_BOOT_VERSION, kHidMarkerWord, kHidQueryWord, 0, 0, 0);
  for (int field : {1, 19, 23}) {  // length, magic, checksum
    auto bytes = good.Store();
    bytes[field] ^= 0x01;
    Report r{};
    std::copy(bytes.begin(), bytes.end(), r.begin() + 1);
    ASSERT_TRUE(io.WriteReport(r, nullptr));
    Report reply{};
    ASSERT_TRUE(io.ReadReport(reply, nullptr));
    HidCommandPacket::Bytes rb;
    std::copy_n(reply.begin() + 1, rb.size(), rb.begin());
    const HidCommandPacket p = HidCommandPacket::Load(rb);
    EXPECT_TRUE(p.IsWellFormed());
    EXPECT_EQ(p.Param0, kStatusBadPacket) << field;
  }
}

TEST(VirtualDevice, EraseSetsSectorsToFF) {
  Rig rig;
  const auto data = Pattern(16 * kPageSize, 2);
  ASSERT_EQ(rig.Write(0, 22 * 16, data, 0, ByteSum(data)), int(data.size()));
  ASSERT_TRUE(rig.link.SendCommand(HID_CMD_ERASE_SECTORS, 22, 1, 0, 0, 0));
  EXPECT_TRUE(rig.link.ReadResponse(nullptr));
  EXPECT_EQ(rig.device->ReadPageDirect(0, 22 * 16 + 15), std::vector<uint8_t>(kPageSize, 0xFF));
}

TEST(VirtualDevice, OldBootLoaderSendsNoReplyAfterPageWrites) {
  Rig rig({.bootVersion = 1007, .capacity = kDefaultCapacity});
  const auto data = Pattern(kPageSize, 4);
  EXPECT_EQ(rig.Write(0, 0x110, data, 0, ByteSum(data)), -2);
  EXPECT_EQ(rig.device->ReadPageDirect(0, 0x110), data);
  EXPECT_EQ(rig.link.GetBootVersion(), 1007);  // still in step
}

TEST(VirtualDevice, InjectedFaults) {
  Page page{};
  const auto data = Pattern(kPageSize, 6);
  {
    Rig rig;
    rig.device->AddFault({FaultKind::DropReply, 1});
    EXPECT_EQ(rig.link.GetBootVersion(), -2);
    rig.device->AddFault({FaultKind::CorruptReply, 1});
    EXPECT_EQ(rig.link.GetBootVersion(), -2);
    rig.device->AddFault({FaultKind::FailCommand, 1});
    EXPECT_EQ(rig.Write(0, 0x110, data, 0, ByteSum(data)), -2);
    EXPECT_NE(rig.device->ReadPageDirect(0, 0x110), data);  // not carried out
    EXPECT_EQ(rig.link.GetBootVersion(), 1011);
  }
  {
    Rig rig;
    rig.device->AddFault({FaultKind::TimeoutReport, 4});  // command, two data reports, then this
    EXPECT_EQ(rig.link.ReadPage(0, 0, page), 128);
  }
  {
    Rig rig;
    rig.device->AddFault({FaultKind::Disconnect, 3});
    EXPECT_EQ(rig.Write(0, 0x110, data, 0, ByteSum(data)), 64);
    EXPECT_EQ(rig.link.GetBootVersion(), -1);  // the handle is dead
    rig.device->Plug();
    EXPECT_EQ(rig.link.GetBootVersion(), -1);  // even after replugging, until reopened
    rig.link.Close();
    ASSERT_TRUE(rig.link.Open(nullptr));
    EXPECT_EQ(rig.link.GetBootVersion(), 1011);
  }
}

TEST(VirtualDevice, HostAndDeviceFallBackIntoStepAfterALostReport) {
  Rig rig({.bootVersion = 1011, .capacity = 0x100000});
  // The reply of the boot-version query is still waiting when the read gives
  // up; the next query must get its own answer, not that one.
  rig.device->AddFault({FaultKind::TimeoutReport, 2});
  EXPECT_EQ(rig.link.GetBootVersion(), -2);
  EXPECT_EQ(rig.link.GetCapacity(), 0x100000);
  // A data report lost in the middle of a page write: the next command ends
  // that write unstored, and the device answers it.
  const auto data = Pattern(2 * kPageSize, 9);
  rig.device->AddFault({FaultKind::TimeoutReport, 4});
  EXPECT_EQ(rig.Write(0, 0x110, data, 0, ByteSum(data)), 128);
  EXPECT_EQ(rig.link.GetBootVersion(), 1011);
  EXPECT_EQ(rig.device->GetStats().abandonedWrites, 1u);
  EXPECT_NE(rig.device->ReadPageDirect(0, 0x110), std::vector<uint8_t>(data.begin(), data.begin() + 256));
}

TEST(VirtualDevice, UnpluggedDeviceIsNotFound) {
  Rig rig;
  rig.link.Close();
  rig.device->Unplug();
  EXPECT_FALSE(rig.link.Open(nullptr));
  EXPECT_EQ(rig.link.LastOpenError(), OpenError::NotFound);
}

TEST(VirtualDevice, ImageKeepsMemoryAcrossRuns) {
  const std::string path = testing::TempDir() + "orvane-image-test.img";
  const auto data = Pattern(kPageSize, 8);
  {
    auto device = MakeFactoryDevice({.bootVersion = 1010, .capacity = 0x20000});
    device->WritePageDirect(1, 0x1F, data);
    std::string error;
    ASSERT_TRUE(device->SaveImage(path, &error)) << error;
  }
  std::string error;
  auto loaded = CVirtualDevice::LoadImage(path, &error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->Config().bootVersion, 1010u);
  EXPECT_EQ(loaded->Config().capacity, 0x20000u);
  EXPECT_EQ(loaded->ReadPageDirect(1, 0x1F), data);
  EXPECT_FALSE(loaded->Dirty());

  // A truncated or foreign file is refused with a reason.
  std::filesystem::resize_file(path, 1000);
  EXPECT_FALSE(CVirtualDevice::LoadImage(path, &error));
  EXPECT_NE(error.find("size"), std::string::npos);
  std::ofstream(path, std::ios::trunc) << "hello";
  EXPECT_FALSE(CVirtualDevice::LoadImage(path, &error));
  std::remove(path.c_str());
  EXPECT_FALSE(CVirtualDevice::LoadImage(path, &error));
}

}  // namespace
}  // namespace orvane::sim
