#include <gtest/gtest.h>

#include <vector>

#include "core/update/area_plan.h"
#include "sim/virtual_device.h"
#include "sim/virtual_hid_io.h"

namespace orvane {
namespace {

// A table as a device keeps it: reserved 0x1000 at 0x19000, then areas 3, 2, 4.
InfoPage SampleTable(uint32_t capacity = 0x800000) {
  InfoPage p;
  p.SetMagic(kMarkerWord);
  p.SetCapacity(capacity);
  p.SetReservedStart(0x19000);
  p.SetReservedLength(0x1000);
  p.SetArea3Start(0x1A000);
  p.SetArea3Length(0x10000);
  p.SetArea2Start(0x2A000);
  p.SetArea2Length(0x8000);
  p.SetArea4Start(0x32000);
  p.SetArea4Length(0x20000);
  p.SetEnd(0x52000);
  p.Seal();
  return p;
}

TEST(FitAreasInPlace, KeepsTheLayoutWhenTheFileLeavesAnAreaOut) {
  // Sections 3 and 2 only; the table also has a section-4 area, which is last.
  InfoPage p = SampleTable();
  EXPECT_EQ(FitAreasInPlace(p, 0x8000, 0x8000, 0, 0, 0x3000), 0);
  EXPECT_EQ(p.Area3Start(), 0x1A000u);
  EXPECT_EQ(p.Area3Length(), 0x10000u);  // the smaller section uses the front
  EXPECT_EQ(p.ReservedLength(), 0x1000u);
  EXPECT_EQ(p.End(), 0x52000u);

  p = SampleTable();
  EXPECT_EQ(FitAreasInPlace(p, 0x11000, 0x8000, 0, 0, 0), -1);  // area 3 is not last

  // The last area grows into free space; a new section-5 area is appended.
  p = SampleTable();
  EXPECT_EQ(FitAreasInPlace(p, 0, 0x4000, 0x40000, 0x2000, 0), 0);
  EXPECT_EQ(p.Area4Length(), 0x40000u);
  EXPECT_EQ(p.Area5Start(), 0x32000u + 0x40000u);
  EXPECT_EQ(p.Area5Length(), 0x2000u);
  EXPECT_EQ(p.End(), 0x74000u);

  p = SampleTable(0x60000);
  EXPECT_EQ(FitAreasInPlace(p, 0, 0x4000, 0x40000, 0, 0), -2);
}

TEST(FitAreasInPlace, RelaysTheTableWhenEveryAreaGetsData) {
  InfoPage p = SampleTable();
  // A reserved size that is not whole sectors is taken up to them, so every
  // area starts where whole pages of data land.
  EXPECT_EQ(FitAreasInPlace(p, 0x20000, 0x1000, 0x3000, 0, 0x2500), 1);
  EXPECT_EQ(p.ReservedStart(), 0x19000u);
  EXPECT_EQ(p.ReservedLength(), 0x3000u);
  EXPECT_EQ(p.Area3Start(), 0x1C000u);
  EXPECT_EQ(p.Area2Start(), 0x3C000u);
  EXPECT_EQ(p.Area4Start(), 0x3D000u);
  EXPECT_EQ(p.Area5Start(), 0x40000u);  // an empty area still gets a start
  EXPECT_EQ(p.End(), 0x40000u);
  p = SampleTable(0x30000);
  EXPECT_EQ(FitAreasInPlace(p, 0x20000, 0x1000, 0x3000, 0, 0), -2);
}

struct Answers : IUpdateQuestions {
  bool answer = true;
  std::vector<std::string> asked;
  bool AskYesNo(const std::string& text) override {
    asked.push_back(text);
    return answer;
  }
};

struct PlanRig {
  std::shared_ptr<sim::CVirtualDevice> device;
  CHidCmd link;
  std::array<uint8_t, 256> brand{};
  Answers answers;
  InfoPage info;
  bool infoValid = false;
  bool brandComplete = true;
  int directoryKind = 1;
  uint32_t reserved = 0;
  int64_t boot = 1011;

  explicit PlanRig(uint32_t bootVersion = 1011)
      : device(std::make_shared<sim::CVirtualDevice>(sim::VirtualDeviceConfig{bootVersion, 0x800000})),
        link(std::make_unique<sim::CVirtualHidIO>(device)),
        boot(bootVersion) {
    EXPECT_TRUE(link.Open(nullptr));
    brand.fill(0);
    brand[0] = 'Q';
  }
  void InstallTable(const InfoPage& p) {
    info = p;
    infoValid = true;
    device->WritePageDirect(0, kInfoPage, p.bytes());
  }
  int Plan(SectionLengths lengths, AreaTargets& targets) {
    PlanInputs in{link, boot, 0x800000, infoValid, brand, brandComplete, directoryKind, reserved, &answers};
    return PlanDeviceAreas(in, lengths, info, targets);
  }
};

TEST(PlanDeviceAreas, PlainDirectoryWithdrawsTheTable) {
  PlanRig rig;
  rig.InstallTable(SampleTable());
  rig.directoryKind = -1;
  AreaTargets t;
  EXPECT_EQ(rig.Plan({0x1000, 0x2000, 0}, t), kPlanOk);  // section 4 missing: asked
  ASSERT_EQ(rig.answers.asked.size(), 1u);
  EXPECT_EQ(rig.answers.asked[0], kQuestionDataIncomplete);
  EXPECT_EQ(t.section2, kFixedSection2Address);
  EXPECT_EQ(t.section4, kFixedSection4Address);
  EXPECT_EQ(rig.device->ReadPageDirect(0, kBrandPageOld)[0], 'Q');
  EXPECT_EQ(rig.device->ReadPageDirect(0, kInfoPage), std::vector<uint8_t>(256, 0xFF));
  EXPECT_FALSE(rig.info.IsValid());
}

TEST(PlanDeviceAreas, DeclinedOrTooLargeWritesNothing) {
  struct Case {
    const char* name;
    int kind;
    bool table;
    bool answer;
    SectionLengths lengths;
    int expected;
  } cases[] = {
      {"withdrawn, declined", -1, true, false, {0x1000, 0, 0x1000}, kPlanDeclined},
      {"withdrawn, section 2 past its area", -1, true, true, {0xC8001, 0x1000, 0x1000}, kPlanTooLarge},
      {"plain fixed, section 2 past its area", -1, false, true, {0xC8001, 0x1000, 0x1000}, kPlanTooLarge},
      {"fixed, section 5 has no area", -1, false, true, {0x1000, 0x1000, 0x1000, 0x100}, kPlanTooLarge},
      {"created, declined", 1, false, false, {0, 0x1000, 0x1000}, kPlanDeclined},
      {"created, past the capacity", 1, false, true, {0x400000, 0x400000, 0x1000}, kPlanTooLarge},
      {"fitted, past the capacity", 1, true, true, {0x400000, 0x400000, 0x1000}, kPlanTooLarge},
      {"fitted, relayout declined", 1, true, false, {0x1000, 0x20000, 0}, kPlanDeclined},
      {"created, brand page not read whole", 1, false, true, {0x1000, 0x1000, 0x1000}, kPlanWriteFailed},
      {"withdrawn, brand page not read whole", -1, true, true, {0x1000, 0x1000, 0x1000}, kPlanWriteFailed},
  };
  for (const Case& c : cases) {
    PlanRig rig;
    if (c.table) rig.InstallTable(SampleTable());
    rig.directoryKind = c.kind;
    rig.answers.answer = c.answer;
    rig.brandComplete = std::string(c.name).find("brand page") == std::string::npos;
    const InfoPage before = rig.info;
    const auto pagesBefore = rig.device->GetStats().pagesWritten;
    AreaTargets t;
    EXPECT_EQ(rig.Plan(c.lengths, t), c.expected) << c.name;
    EXPECT_EQ(rig.device->GetStats().pagesWritten, pagesBefore) << c.name;
    EXPECT_EQ(rig.device->GetStats().sectorsErased, 0u) << c.name;
    EXPECT_EQ(rig.info.bytes(), before.bytes()) << c.name;
  }
}

TEST(PlanDeviceAreas, HeadedDirectoryCreatesATable) {
  PlanRig rig;
  rig.reserved = 0x3000;
  AreaTargets t;
  EXPECT_EQ(rig.Plan({0x1000, 0x2100, 0x3000, 0x10}, t), kPlanOk);
  EXPECT_TRUE(rig.answers.asked.empty());
  const auto onDevice = rig.device->ReadPageDirect(0, kInfoPage);
  InfoPage::Bytes b;
  std::copy(onDevice.begin(), onDevice.end(), b.begin());
  const InfoPage written(b);
  EXPECT_TRUE(written.IsValid());
  EXPECT_EQ(written.SettingsFormat(), 0u);
  EXPECT_EQ(written.CreatedFlag(), 1);
  EXPECT_EQ(written.Capacity(), 0x800000u);
  EXPECT_EQ(written.ReservedLength(), 0x3000u);
  EXPECT_EQ(t.section3, 0x19000u + 0x3000u);
  EXPECT_EQ(t.section2, t.section3 + 0x3000u);
  EXPECT_EQ(t.section4, t.section2 + 0x1000u);
  EXPECT_EQ(t.section5, t.section4 + 0x3000u);
  EXPECT_EQ(written.End(), t.section5 + 0x1000u);
  EXPECT_EQ(rig.device->ReadPageDirect(0, kBrandPage)[0], 'Q');
  EXPECT_EQ(rig.info.bytes(), written.bytes());
}

TEST(PlanDeviceAreas, FittedTableIsWrittenBack) {
  PlanRig rig;
  rig.InstallTable(SampleTable());
  AreaTargets t;
  EXPECT_EQ(rig.Plan({0x4000, 0x8000, 0, 0x800}, t), kPlanOk);  // section 5 appended
  EXPECT_EQ(t.section3, 0x1A000u);
  EXPECT_EQ(t.section5, 0x52000u);
  EXPECT_TRUE(rig.answers.asked.empty());
  EXPECT_EQ(rig.device->ReadPageDirect(0, kInfoPage),
            std::vector<uint8_t>(rig.info.bytes().begin(), rig.info.bytes().end()));
  EXPECT_TRUE(rig.info.IsValid());
  // A larger section 3 that is not last: asked, then laid out afresh.
  rig.reserved = 0x2000;
  EXPECT_EQ(rig.Plan({0x4000, 0x30000, 0, 0}, t), kPlanOk);
  ASSERT_EQ(rig.answers.asked.size(), 1u);
  EXPECT_EQ(rig.answers.asked[0], kQuestionRelayout);
  EXPECT_EQ(rig.info.ReservedLength(), 0x2000u);
  EXPECT_EQ(t.section3, 0x1B000u);
}

TEST(PlanDeviceAreas, OldBootLoaderAcceptsAMissingReplyAfterRecordPages) {
  PlanRig rig(1007);
  AreaTargets t;
  EXPECT_EQ(rig.Plan({0x1000, 0x1000, 0x1000}, t), kPlanOk);
  PlanRig failing(1008);
  failing.device->AddFault({sim::FaultKind::DropReply, 1});
  EXPECT_EQ(failing.Plan({0x1000, 0x1000, 0x1000}, t), kPlanWriteFailed);
  EXPECT_FALSE(failing.info.IsValid());
}

}  // namespace
}  // namespace orvane
