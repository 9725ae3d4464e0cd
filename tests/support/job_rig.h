// A complete update against the virtual device, with the image it must leave
// computed independently of the job: the device's memory before the job, and
// each write and erase the update implies, applied in order.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/brands.h"
#include "core/session/device_session.h"
#include "core/update/info_page.h"
#include "core/update/scramble.h"
#include "core/update/update_job.h"
#include "core/update/update_writer.h"
#include "sim/sample_update.h"
#include "sim/virtual_device.h"
#include "sim/virtual_hid_io.h"

namespace orvane::test {

class ExpectedImage {
 public:
  explicit ExpectedImage(const sim::CVirtualDevice& device) {
    for (uint8_t a = 0; a < 2; ++a) {
      auto bytes = device.AreaBytes(a);
      m_area[a].assign(bytes.begin(), bytes.end());
    }
  }
  // Data written from `address`, padded with 0xFF to whole pages.
  void Put(uint8_t area, uint32_t address, std::vector<uint8_t> data) {
    data.resize((data.size() + 255) / 256 * 256, 0xFF);
    ASSERT_LE(size_t(address) + data.size(), m_area[area].size());
    std::copy(data.begin(), data.end(), m_area[area].begin() + address);
  }
  void Erase(uint8_t area, uint32_t firstSector, uint32_t count) {
    std::fill_n(m_area[area].begin() + size_t(firstSector) * 4096, size_t(count) * 4096, 0xFF);
  }
  // The announcement page and the block, as the device block is written.
  void PutDeviceBlock(const std::vector<uint8_t>& block) {
    std::vector<uint8_t> page(256, 0xFF);
    StoreLE32At(page.data(), kMarkerWord);
    StoreLE32At(page.data() + 4, uint32_t(block.size()));
    StoreLE32At(page.data() + 8, ScrambledSum(block.data(), block.size(), block.size()));
    Put(1, kAnnouncePage * 256, page);
    Put(1, kDeviceBlockPage * 256, block);
  }
  // Sections 0 and 2 to 5 of `contents` at the given addresses.
  void PutSections(const UpdateFileContents& contents, uint32_t s2, uint32_t s3, uint32_t s4, uint32_t s5) {
    if (!contents.sections[0].empty()) Put(0, 0, contents.sections[0]);
    if (!contents.sections[2].empty()) Put(1, s2, contents.sections[2]);
    if (!contents.sections[3].empty()) Put(1, s3, contents.sections[3]);
    if (!contents.sections[4].empty()) Put(1, s4, contents.sections[4]);
    if (!contents.sections[5].empty()) Put(0, s5, contents.sections[5]);
  }
  // Compares page by page so a failure names the first page that differs.
  ::testing::AssertionResult Matches(const sim::CVirtualDevice& device) const {
    for (uint8_t a = 0; a < 2; ++a) {
      auto bytes = device.AreaBytes(a);
      for (size_t off = 0; off < bytes.size(); off += 256) {
        if (!std::equal(bytes.begin() + off, bytes.begin() + off + 256, m_area[a].begin() + off))
        {
          char where[64];
          std::snprintf(where, sizeof where, "area %d page 0x%zX differs", int(a), off / 256);
          return ::testing::AssertionFailure() << where;
        }
      }
    }
    return ::testing::AssertionSuccess();
  }
  std::vector<uint8_t>& Area(uint8_t a) { return m_area[a]; }

 private:
  std::vector<uint8_t> m_area[2];
};

struct RecordingObserver : IUpdateJobObserver {
  bool answer = true;
  std::vector<std::string> asked;
  std::vector<std::string> phases;
  std::vector<std::string> shownFolders;
  bool AskYesNo(const std::string& text) override {
    asked.push_back(text);
    return answer;
  }
  void OnPhaseText(const std::string& text) override { phases.push_back(text); }
  void OnShowFolder(const std::string& folder) override { shownFolders.push_back(folder); }
};

struct JobRig {
  std::shared_ptr<sim::CVirtualDevice> device;
  CDeviceSession session;
  RecordingObserver observer;
  std::string path;

  explicit JobRig(std::shared_ptr<sim::CVirtualDevice> dev, std::chrono::milliseconds timeoutWait = std::chrono::milliseconds(100))
      : device(std::move(dev)), session(MakeIO(device, timeoutWait)) {
    static int counter = 0;
    path = ::testing::TempDir() + "orvane-job-" + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + ".qzv";
  }
  ~JobRig() { std::remove(path.c_str()); }
  static std::unique_ptr<CHidIO> MakeIO(const std::shared_ptr<sim::CVirtualDevice>& d,
                                        std::chrono::milliseconds timeoutWait) {
    auto io = std::make_unique<sim::CVirtualHidIO>(d);
    io->SetTimeoutWait(timeoutWait);
    return io;
  }

  bool Connect() {
    if (!session.IsOpen() && !session.Open()) return false;
    return session.RunConnectSequence();
  }
  void WriteFile(const UpdateFileContents& contents) {
    std::string error;
    const auto bytes = BuildUpdateFile(contents, &error);
    ASSERT_TRUE(bytes) << error;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  }
  JobResult Run() {
    CUpdateJob job(session, observer);
    job.m_strLocalFile = path;
    return job.RunUpdate();
  }
};

inline std::shared_ptr<sim::CVirtualDevice> FactoryDevice(uint32_t bootVersion = 1011,
                                                          uint32_t capacity = 0x800000) {
  return std::shared_ptr<sim::CVirtualDevice>(sim::MakeFactoryDevice({bootVersion, capacity}));
}

// A device without an area table: factory settings, everything else erased.
inline std::shared_ptr<sim::CVirtualDevice> TablelessDevice(uint32_t bootVersion = 1011) {
  auto d = FactoryDevice(bootVersion);
  d->WritePageDirect(0, kInfoPage, std::vector<uint8_t>(256, 0xFF));
  return d;
}

// Small sections of every kind, for runs that must be quick.
inline sim::SampleSizes SmallSampleSizes() {
  sim::SampleSizes s;
  s.section0 = 1000;
  s.block = 700;
  s.otherBlock = 300;
  s.reserved = 0x2000;
  s.section2 = 5000;
  s.section3 = 8192;
  s.section4 = 3000;
  s.section5 = 257;
  return s;
}

inline uint32_t Round4k(size_t n) { return uint32_t((n + 4095) / 4096 * 4096); }

// The build brand as a file's brand bytes.
inline std::vector<uint8_t> BuildBrandBytes() {
  return {brands::kBuildBrand.begin(), brands::kBuildBrand.end()};
}

// Small sections of every kind, a reserved area and two device blocks.
inline sim::SampleSizes SmallSizes() { return SmallSampleSizes(); }

// The area table a fresh layout gives for `contents`.
inline InfoPage FreshTable(const InfoPage& before, const UpdateFileContents& contents, uint32_t reserved) {
  InfoPage p = before;
  p.SetReservedStart(0x19000);
  p.SetReservedLength(Round4k(reserved));  // whole sectors
  uint32_t at = 0x19000 + Round4k(reserved);
  const std::pair<int, std::pair<void (InfoPage::*)(uint32_t), void (InfoPage::*)(uint32_t)>> order[] = {
      {3, {&InfoPage::SetArea3Start, &InfoPage::SetArea3Length}},
      {2, {&InfoPage::SetArea2Start, &InfoPage::SetArea2Length}},
      {4, {&InfoPage::SetArea4Start, &InfoPage::SetArea4Length}},
      {5, {&InfoPage::SetArea5Start, &InfoPage::SetArea5Length}}};
  for (const auto& [section, setters] : order) {
    const uint32_t len = Round4k(contents.sections[section].size());
    (p.*setters.first)(at);
    (p.*setters.second)(len);
    at += len;
  }
  p.SetEnd(at);
  p.Seal();
  return p;
}

// What a connected factory device holds after a complete update with the
// small sample `contents`: the table relaid afresh, the T3K block, the reserved
// area erased, every section in its area.
inline ExpectedImage FactoryImageAfter(JobRig& rig, const UpdateFileContents& contents) {
  const InfoPage table = FreshTable(InfoPage(rig.session.m_InfoPage), contents, SmallSizes().reserved);
  ExpectedImage expected(*rig.device);
  expected.Put(0, kInfoPage * 256, {table.bytes().begin(), table.bytes().end()});
  expected.Put(0, 0, contents.sections[0]);
  expected.PutDeviceBlock(contents.blocks[1].data);  // the T3K block
  expected.Erase(0, 0x19, 2);                     // the reserved area
  expected.PutSections(contents, table.Area2Start(), table.Area3Start(), table.Area4Start(), table.Area5Start());
  return expected;
}

}  // namespace orvane::test
