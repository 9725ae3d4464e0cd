// The update job on a worker thread while another thread shows its progress,
// and while another thread closes the link under it.
#include <gtest/gtest.h>

#include <thread>

#include "core/brands.h"
#include "job_rig.h"

namespace orvane {
namespace {

sim::SampleSizes Sizes(uint32_t scale) {
  sim::SampleSizes s;
  s.section2 *= scale;
  s.section3 *= scale;
  s.section4 *= scale;
  return s;
}

std::vector<uint8_t> Brand() { return {brands::kBuildBrand.begin(), brands::kBuildBrand.end()}; }

TEST(UpdateJobThreads, ProgressIsReadWhileTheJobRuns) {
  test::JobRig rig(test::FactoryDevice());
  ASSERT_TRUE(rig.Connect());
  rig.WriteFile(sim::SampleUpdateContents(Sizes(1), Brand()));
  rig.device->SetLatency(std::chrono::microseconds(20));
  JobResult result;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    result = rig.Run();
    done = true;
  });
  std::string saved, text;
  uint32_t lastDone = 0;
  bool monotonic = true;
  while (!done) {
    if (rig.session.m_progress.WantsRefresh()) {
      text = UpdateProgressText(rig.session.m_progress, saved, kPhaseTextUpdating);
      const uint32_t now = rig.session.m_progress.m_nBytesDone;
      monotonic = monotonic && now >= lastDone;
      lastDone = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  worker.join();
  EXPECT_EQ(result.outcome, JobOutcome::Success);
  EXPECT_TRUE(monotonic);  // no retry happened, so the count only grows
  EXPECT_EQ(rig.session.m_progress.m_nBytesDone.load(), rig.session.m_progress.m_nBytesTotal.load());
}

TEST(UpdateJobThreads, ClosingTheLinkMidJobFailsIt) {
  test::JobRig rig(test::FactoryDevice());
  ASSERT_TRUE(rig.Connect());
  rig.WriteFile(sim::SampleUpdateContents(Sizes(4), Brand()));
  rig.device->SetLatency(std::chrono::microseconds(50));  // ~2 s of reports in all
  JobResult result;
  std::thread worker([&] { result = rig.Run(); });
  while (rig.session.m_progress.m_nBytesDone.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  rig.session.Link().Close();  // the device was pulled out
  worker.join();
  EXPECT_EQ(result.outcome, JobOutcome::Failed);
  EXPECT_EQ(result.verdict, kVerdictFailed);
  EXPECT_FALSE(rig.session.IsOpen());
}

}  // namespace
}  // namespace orvane
