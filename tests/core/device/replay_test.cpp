#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "test_files.h"
#include "core/device/replay_io.h"
#include "core/device/trace_io.h"
#include "core/session/device_session.h"
#include "job_rig.h"

namespace orvane {
namespace {

TEST(TraceReplay, AConnectionAndUpdateReplayAsTaken) {
  const std::string tracePath = ::testing::TempDir() + "orvane-replay.trace";
  test::JobRig live(test::FactoryDevice());
  UpdateFileContents contents = sim::SampleUpdateContents(test::SmallSampleSizes(), test::BuildBrandBytes());
  live.WriteFile(contents);
  {
    std::string error;
    auto traced = CTraceHidIO::Create(std::make_unique<sim::CVirtualHidIO>(live.device), tracePath, &error);
    ASSERT_TRUE(traced) << error;
    CDeviceSession session(std::move(traced));
    ASSERT_TRUE(session.Open());
    ASSERT_TRUE(session.RunConnectSequence());
    CUpdateJob job(session, live.observer);
    job.m_strLocalFile = live.path;
    ASSERT_EQ(job.RunUpdate().outcome, JobOutcome::Success);
  }

  std::vector<TraceEvent> events;
  std::string error;
  ASSERT_TRUE(ParseTrace(test::ReadWholeFile(tracePath), events, &error)) << error;
  auto* replay = new CReplayHidIO(events);
  CDeviceSession session{std::unique_ptr<CHidIO>(replay)};
  ASSERT_TRUE(session.Open());
  ASSERT_TRUE(session.RunConnectSequence());
  EXPECT_EQ(session.m_nDeviceVersion, 20250601);
  CUpdateJob job(session, live.observer);
  job.m_strLocalFile = live.path;
  EXPECT_EQ(job.RunUpdate().outcome, JobOutcome::Success);
  EXPECT_TRUE(replay->Mismatches().empty()) << replay->Mismatches().front();
  EXPECT_TRUE(replay->Exhausted());

  // A host that sends other data than when the trace was taken is caught.
  contents.sections[3][100] ^= 0xFF;
  live.WriteFile(contents);
  auto* again = new CReplayHidIO(events);
  CDeviceSession other{std::unique_ptr<CHidIO>(again)};
  ASSERT_TRUE(other.Open());
  ASSERT_TRUE(other.RunConnectSequence());
  CUpdateJob changed(other, live.observer);
  changed.m_strLocalFile = live.path;
  changed.RunUpdate();
  EXPECT_FALSE(again->Mismatches().empty());
  std::remove(tracePath.c_str());
}

TEST(TraceReplay, MalformedTracesAreRefused) {
  std::vector<TraceEvent> events;
  std::string error;
  EXPECT_TRUE(ParseTrace("# orvane hid trace 1\n0.1 IN-FAIL 0 \n0.2 CLOSE\n", events, &error)) << error;
  EXPECT_EQ(events.size(), 2u);
  for (const char* bad : {"0.1 OUT 2 0g\n", "0.1 IN 3 0011\n", "0.1 SIDEWAYS 1 00\n", "0.1 OPEN p maybe\n",
                          "0.1 IN 66 " /* longer than a report */}) {
    EXPECT_FALSE(ParseTrace(bad, events, &error)) << bad;
    EXPECT_NE(error.find("line 1"), std::string::npos);
  }
}

}  // namespace
}  // namespace orvane
