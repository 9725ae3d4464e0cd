// A front end that closes while the job's archiver runs: the archiver is
// ended, the job comes back at once and asks for no folder to be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "core/net/test_http_server.h"
#include "core/update/archive_source.h"
#include "job_rig.h"
#include "sim/sample_archive.h"

namespace orvane {
namespace {

// Runs an online job from `url` on a worker, closes the front end after
// `runFor`, and says how long the job took to come back after that.
struct ClosedJob {
  JobResult result;
  std::chrono::steady_clock::duration afterClosing{};
};

ClosedJob CloseDuringOnlineJob(test::JobRig& rig, const std::string& url, ArchiverTable archivers,
                               std::chrono::milliseconds runFor) {
  CUpdateJob job(rig.session, rig.observer);
  job.m_strArchiveUrl = url;
  ArchiveSourceOptions options;
  options.archivers = std::move(archivers);
  options.stop = &job.m_bStopping;
  job.m_archiveSource = MakeArchiveSource(options);
  ClosedJob closed;
  std::thread worker([&] { closed.result = job.RunUpdate(); });
  std::this_thread::sleep_for(runFor);
  const auto closing = std::chrono::steady_clock::now();
  job.m_bStopping = true;
  worker.join();
  closed.afterClosing = std::chrono::steady_clock::now() - closing;
  return closed;
}

TEST(OnlineJobThreads, ClosingEndsARunningArchiver) {
  test::ScopedRuntimeDir runtime;
  test::TestHttpServer server;
  const std::string archive = runtime.Path() + "/pkg.zip";
  ASSERT_TRUE(sim::WriteArchive(archive, {sim::FileItem("u.qzv", "x")}, nullptr));
  server.SetText("pkg.zip", test::ReadWholeFile(archive));
  const std::string hang = runtime.Path() + "/hang";
  std::ofstream(hang) << "#!/bin/sh\nsleep 30\n";
  ::chmod(hang.c_str(), 0755);

  test::JobRig rig(test::FactoryDevice());
  ASSERT_TRUE(rig.Connect());
  const test::ExpectedImage unchanged(*rig.device);
  const ClosedJob closed =
      CloseDuringOnlineJob(rig, server.Url("/text/pkg.zip"),
                           {{hang, ArgumentForm::Extract}, {"", ArgumentForm::BuiltIn}},
                           std::chrono::milliseconds(300));
  EXPECT_LT(closed.afterClosing, std::chrono::seconds(5));
  EXPECT_EQ(closed.result.verdict, kVerdictNoUpdateFile);
  EXPECT_TRUE(rig.observer.shownFolders.empty());
  EXPECT_TRUE(unchanged.Matches(*rig.device));
}

TEST(OnlineJobThreads, ClosingEndsARunningDownload) {
  test::ScopedRuntimeDir runtime;
  test::TestHttpServer server;  // /slow trickles for about ten seconds
  test::JobRig rig(test::FactoryDevice());
  ASSERT_TRUE(rig.Connect());
  const test::ExpectedImage unchanged(*rig.device);
  const ClosedJob closed =
      CloseDuringOnlineJob(rig, server.Url("/slow"), PlatformArchivers(), std::chrono::milliseconds(200));
  EXPECT_LT(closed.afterClosing, std::chrono::seconds(2));
  EXPECT_EQ(closed.result.outcome, JobOutcome::Failed);
  EXPECT_TRUE(unchanged.Matches(*rig.device));
}

}  // namespace
}  // namespace orvane
