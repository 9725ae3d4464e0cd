#include <gtest/gtest.h>

#include "core/brands.h"
#include "core/update/info_page.h"
#include "job_rig.h"

namespace orvane {
namespace {

using test::ExpectedImage;
using test::JobRig;
using test::Round4k;

using test::FreshTable;
using test::SmallSizes;

std::vector<uint8_t> Brand() { return test::BuildBrandBytes(); }

TEST(UpdateJob, RelaysTheFactoryTableAndLeavesTheExactImage) {
  JobRig rig(test::FactoryDevice());
  ASSERT_TRUE(rig.Connect());
  const UpdateFileContents contents = sim::SampleUpdateContents(SmallSizes(), Brand());
  rig.WriteFile(contents);
  const ExpectedImage expected = test::FactoryImageAfter(rig, contents);

  const JobResult r = rig.Run();
  EXPECT_EQ(r.outcome, JobOutcome::Success);
  EXPECT_EQ(r.verdict, kVerdictSuccess);
  EXPECT_TRUE(rig.observer.asked.empty());
  EXPECT_TRUE(expected.Matches(*rig.device));
  EXPECT_EQ(rig.device->GetStats().finishes, 1u);
  // Progress counted every byte of the counted phases, then completed.
  EXPECT_EQ(rig.session.m_progress.m_nBytesDone.load(), rig.session.m_progress.m_nBytesTotal.load());
  EXPECT_EQ(rig.session.m_progress.m_nUpdatePhase.load(), kPhaseIdle);

  ASSERT_TRUE(rig.Connect());
  EXPECT_EQ(rig.session.m_nDeviceVersion, 20261120);
}

TEST(UpdateJob, CreatesATableOnADeviceWithoutOne) {
  JobRig rig(test::TablelessDevice());
  ASSERT_TRUE(rig.Connect());
  ASSERT_FALSE(rig.session.m_bInfoValid);
  const UpdateFileContents contents = sim::SampleUpdateContents(SmallSizes(), Brand());
  rig.WriteFile(contents);
  // Bytes outside the checksum keep what the erased page had.
  InfoPage created(rig.session.m_InfoPage);
  created.ClearBody();
  created.SetMagic(kMarkerWord);
  created.SetCreatedFlag(1);
  created.SetCapacity(0x800000);
  created = FreshTable(created, contents, SmallSizes().reserved);

  ExpectedImage expected(*rig.device);
  expected.Put(0, kBrandPage * 256, std::vector<uint8_t>(rig.session.m_szBrand.begin(), rig.session.m_szBrand.end()));
  expected.Put(0, kInfoPage * 256, {created.bytes().begin(), created.bytes().end()});
  expected.Put(0, 0, contents.sections[0]);
  expected.PutDeviceBlock(contents.blocks[1].data);
  expected.Erase(0, 0x19, 2);
  expected.PutSections(contents, created.Area2Start(), created.Area3Start(), created.Area4Start(),
                       created.Area5Start());
  EXPECT_EQ(rig.Run().outcome, JobOutcome::Success);
  EXPECT_TRUE(expected.Matches(*rig.device));
  ASSERT_TRUE(rig.Connect());
  EXPECT_TRUE(rig.session.m_bInfoValid);
  EXPECT_EQ(rig.session.m_nDeviceVersion, 20261120);
}

TEST(UpdateJob, PlainDirectoryUsesTheFixedLayout) {
  for (bool withTable : {false, true}) {
    JobRig rig(withTable ? test::FactoryDevice() : test::TablelessDevice());
    ASSERT_TRUE(rig.Connect());
    UpdateFileContents contents = sim::SampleUpdateContents(SmallSizes(), Brand());
    contents.directoryKind = kDirectoryPlain;
    contents.sections[5].clear();  // the fixed layout has no section-5 area
    rig.WriteFile(contents);

    ExpectedImage expected(*rig.device);
    if (withTable) {  // withdrawn: brand page back to 0x70, the info page's sector erased
      expected.Put(0, kBrandPageOld * 256,
                   std::vector<uint8_t>(rig.session.m_szBrand.begin(), rig.session.m_szBrand.end()));
      expected.Erase(0, kInfoSector, 1);
    }
    expected.Put(0, 0, contents.sections[0]);
    expected.PutDeviceBlock(contents.blocks[1].data);
    expected.PutSections(contents, 0x16000, 0xDE000, 0x2DE000, 0);
    const JobResult r = rig.Run();
    EXPECT_EQ(r.outcome, JobOutcome::Success) << r.verdict;
    EXPECT_TRUE(rig.observer.asked.empty());
    EXPECT_TRUE(expected.Matches(*rig.device)) << "with table: " << withTable;
    ASSERT_TRUE(rig.Connect());
    EXPECT_FALSE(rig.session.m_bInfoValid);
    EXPECT_EQ(rig.session.m_nDeviceVersion, 20261120);
  }
}

TEST(UpdateJob, RefusedFilesLeaveTheDeviceUntouched) {
  struct Case {
    const char* name;
    std::function<void(UpdateFileContents&)> edit;
    const char* verdict;
    JobOutcome outcome;
    bool declineQuestions;
  } cases[] = {
      {"no data at all",
       [](UpdateFileContents& s) {
         for (auto& sec : s.sections) sec.clear();
         s.blocks.clear();
         s.directoryKind = kDirectoryNone;
       },
       kVerdictNoData, JobOutcome::Failed, false},
      {"section 3 past the capacity", [](UpdateFileContents& s) { s.sections[3].assign(0x800000, 1); },
       kVerdictTooLarge, JobOutcome::Failed, false},
      {"relayout declined",
       [](UpdateFileContents& s) {
         s.sections[4].clear();
         s.sections[3].assign(0x200000, 7);  // area 3 is not last and must grow
       },
       kVerdictCancelled, JobOutcome::Cancelled, true},
      {"version 2", [](UpdateFileContents& s) { s.version = 2; }, "更新文件格式出错！-1", JobOutcome::Failed, false},
  };
  for (const Case& c : cases) {
    JobRig rig(test::FactoryDevice());
    ASSERT_TRUE(rig.Connect());
    UpdateFileContents contents = sim::SampleUpdateContents(SmallSizes(), Brand());
    c.edit(contents);
    rig.WriteFile(contents);
    rig.observer.answer = !c.declineQuestions;
    ExpectedImage unchanged(*rig.device);
    const auto pagesBefore = rig.device->GetStats().pagesWritten;
    const JobResult r = rig.Run();
    EXPECT_EQ(r.verdict, c.verdict) << c.name;
    EXPECT_EQ(r.outcome, c.outcome) << c.name;
    EXPECT_EQ(rig.device->GetStats().pagesWritten, pagesBefore) << c.name;
    EXPECT_TRUE(unchanged.Matches(*rig.device)) << c.name;
    EXPECT_EQ(rig.session.m_progress.m_nBytesTotal.load(), 0u) << c.name;
  }
  JobRig rig(test::FactoryDevice());
  ASSERT_TRUE(rig.Connect());
  EXPECT_EQ(rig.Run().verdict, kVerdictChooseFile);  // no file at the path
}

TEST(UpdateJob, OddReservedSizeKeepsSectionsWhereTheTableSaysTheyAre) {
  JobRig rig(test::FactoryDevice());
  ASSERT_TRUE(rig.Connect());
  UpdateFileContents contents = sim::SampleUpdateContents(SmallSizes(), Brand());
  contents.blocks[1].reservedSize = 0x2010;
  rig.WriteFile(contents);
  ASSERT_EQ(rig.Run().outcome, JobOutcome::Success);
  ASSERT_TRUE(rig.Connect());
  const InfoPage table(rig.session.m_InfoPage);
  EXPECT_EQ(table.ReservedLength(), 0x3000u);
  const std::pair<int, uint32_t> areas[] = {
      {2, table.Area2Start()}, {3, table.Area3Start()}, {4, table.Area4Start()}};
  for (const auto& [section, start] : areas) {
    const auto& data = contents.sections[section];
    const auto bytes = rig.device->AreaBytes(1);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), bytes.begin() + start)) << "section " << section;
  }
}

TEST(DeviceSession, ACapacityTheDeviceDoesNotTellFailsTheConnection) {
  JobRig rig(test::FactoryDevice());
  ASSERT_TRUE(rig.session.Open());
  rig.device->AddFault({sim::FaultKind::DropReply, 2});  // the capacity query
  EXPECT_FALSE(rig.session.RunConnectSequence());
  EXPECT_FALSE(rig.session.IsOpen());
}

TEST(UpdateJob, UnpluggedDeviceFailsTheJob) {
  JobRig rig(test::FactoryDevice());
  ASSERT_TRUE(rig.Connect());
  rig.WriteFile(sim::SampleUpdateContents(SmallSizes(), Brand()));
  rig.session.Close();
  const JobResult r = rig.Run();
  EXPECT_EQ(r.verdict, kVerdictFailed);
  EXPECT_EQ(r.outcome, JobOutcome::Failed);
}

TEST(UpdateJob, PadToPage) {
  for (size_t n : {0u, 1u, 255u, 256u, 257u, 1000u}) {
    std::vector<uint8_t> b(n, 0x11);
    PadToPage(b);
    EXPECT_EQ(b.size() % 256, 0u) << n;
    EXPECT_EQ(b.size(), (n + 255) / 256 * 256) << n;
    if (b.size() > n) {
      EXPECT_EQ(b.back(), 0xFF) << n;
    }
  }
}

}  // namespace
}  // namespace orvane
