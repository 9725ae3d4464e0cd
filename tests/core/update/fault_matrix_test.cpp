// A complete update with one fault injected at each command in turn, and at a
// spread of data reports: the job never reports success unless the device
// holds exactly the image a clean update leaves, never crashes, and a clean
// second run on the same device then succeeds with that image.
#include <gtest/gtest.h>

#include "core/brands.h"
#include "job_rig.h"

namespace orvane {
namespace {

using sim::FaultKind;

// Time-outs end sooner than on the wire; what they lead to is the same.
constexpr std::chrono::milliseconds kQuickTimeout{3};

// Smaller still: every command of a complete update is hit in turn.
sim::SampleSizes MatrixSizes() {
  sim::SampleSizes s = test::SmallSampleSizes();
  s.section0 = 600;
  s.block = 300;
  s.otherBlock = 100;
  s.reserved = 0x1000;
  s.section2 = 700;
  s.section3 = 512;
  s.section4 = 900;
  s.section5 = 100;
  return s;
}

struct Baseline {
  std::vector<uint8_t> area[2];
  std::vector<sim::CVirtualDevice::CommandRecord> commands;  // of the job alone
  uint64_t firstReport = 0;                                   // reports before the job
  uint64_t reports = 0;                                       // reports of the job
};

const char* KindName(FaultKind k) {
  switch (k) {
    case FaultKind::DropReply: return "drop reply";
    case FaultKind::CorruptReply: return "corrupt reply";
    case FaultKind::FailCommand: return "failure status";
    case FaultKind::TimeoutReport: return "timeout";
    case FaultKind::Disconnect: return "disconnect";
  }
  return "?";
}

class FaultMatrix : public ::testing::TestWithParam<uint32_t> {
 protected:
  UpdateFileContents Contents() const {
    return sim::SampleUpdateContents(MatrixSizes(), {brands::kBuildBrand.begin(), brands::kBuildBrand.end()});
  }

  Baseline Clean() {
    test::JobRig rig(test::FactoryDevice(GetParam()), kQuickTimeout);
    EXPECT_TRUE(rig.Connect());
    rig.WriteFile(Contents());
    Baseline b;
    const auto before = rig.device->GetStats();
    b.firstReport = before.reports;
    EXPECT_EQ(rig.Run().outcome, JobOutcome::Success);
    b.reports = rig.device->GetStats().reports - before.reports;
    for (const auto& c : rig.device->CommandLog())
      if (c.report > before.reports) b.commands.push_back(c);
    for (uint8_t a = 0; a < 2; ++a) {
      auto bytes = rig.device->AreaBytes(a);
      b.area[a].assign(bytes.begin(), bytes.end());
    }
    return b;
  }

  static bool Holds(const sim::CVirtualDevice& d, const Baseline& b) {
    for (uint8_t a = 0; a < 2; ++a) {
      auto bytes = d.AreaBytes(a);
      if (!std::equal(bytes.begin(), bytes.end(), b.area[a].begin())) return false;
    }
    return true;
  }

  // One faulty run and the clean run after it.
  void RunWithFault(const Baseline& base, sim::Fault fault, const std::string& what) {
    SCOPED_TRACE(what);
    test::JobRig rig(test::FactoryDevice(GetParam()), kQuickTimeout);
    ASSERT_TRUE(rig.Connect());
    rig.WriteFile(Contents());
    rig.device->AddFault(fault);
    const JobResult r = rig.Run();
    if (r.outcome == JobOutcome::Success)
      EXPECT_TRUE(Holds(*rig.device, base)) << "reported success without the full image";
    else
      EXPECT_EQ(r.verdict, kVerdictFailed);
    rig.device->ClearFaults();

    // Replug when the fault pulled the device, then update again.
    if (!rig.device->IsPlugged()) rig.device->Plug();
    rig.session.Close();
    ASSERT_TRUE(rig.Connect());
    const JobResult again = rig.Run();
    EXPECT_EQ(again.outcome, JobOutcome::Success) << again.verdict;
    EXPECT_TRUE(Holds(*rig.device, base)) << "second run left another image";
  }
};

TEST_P(FaultMatrix, EveryCommand) {
  const Baseline base = Clean();
  ASSERT_GE(base.commands.size(), 9u);
  const bool oldBoot = GetParam() < 1008;
  for (size_t k = 0; k < base.commands.size(); ++k) {
    const auto& cmd = base.commands[k];
    const uint64_t report = cmd.report - base.firstReport;
    for (FaultKind kind : {FaultKind::DropReply, FaultKind::CorruptReply, FaultKind::FailCommand,
                           FaultKind::TimeoutReport, FaultKind::Disconnect}) {
      // Below boot version 1008 a page write is never answered, so a refusal
      // cannot reach the host at all (see the closing notes of the job).
      if (oldBoot && kind == FaultKind::FailCommand && cmd.code == HID_CMD_WRITE_PAGES) continue;
      const bool perReport = kind == FaultKind::TimeoutReport || kind == FaultKind::Disconnect;
      RunWithFault(base, {kind, perReport ? report : k + 1},
                   std::string(KindName(kind)) + " at command " + std::to_string(k + 1));
    }
  }
}

TEST_P(FaultMatrix, SpreadOfDataReports) {
  const Baseline base = Clean();
  for (uint64_t r = 2; r < base.reports; r += base.reports / 9 + 1)
    for (FaultKind kind : {FaultKind::TimeoutReport, FaultKind::Disconnect})
      RunWithFault(base, {kind, r}, std::string(KindName(kind)) + " at report " + std::to_string(r));
}

INSTANTIATE_TEST_SUITE_P(BootVersions, FaultMatrix, ::testing::Values(1007u, 1008u),
                         [](const auto& info) { return "boot" + std::to_string(info.param); });

}  // namespace
}  // namespace orvane
