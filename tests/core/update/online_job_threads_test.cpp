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
  CUpdateJob job(rig.session, rig.observer);
  job.m_strArchiveUrl = server.Url("/text/pkg.zip");
  ArchiveSourceOptions options;
  options.archivers = {{hang, ArgumentForm::Extract}, {"", ArgumentForm::BuiltIn}};
  options.stop = &job.m_bStopping;
  job.m_archiveSource = MakeArchiveSource(options);

  JobResult result;
  std::thread worker([&] { result = job.RunUpdate(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto closing = std::chrono::steady_clock::now();
  job.m_bStopping = true;
  worker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(5));
  EXPECT_EQ(result.verdict, kVerdictNoUpdateFile);
  EXPECT_TRUE(rig.observer.shownFolders.empty());
  EXPECT_TRUE(unchanged.Matches(*rig.device));
}

TEST(OnlineJobThreads, ClosingEndsARunningDownload) {
  test::ScopedRuntimeDir runtime;
  test::TestHttpServer server;  // /slow trickles for about ten seconds
  test::JobRig rig(test::FactoryDevice());
  ASSERT_TRUE(rig.Connect());
  const test::ExpectedImage unchanged(*rig.device);
  CUpdateJob job(rig.session, rig.observer);
  job.m_strArchiveUrl = server.Url("/slow");
  ArchiveSourceOptions options;
  options.stop = &job.m_bStopping;
  job.m_archiveSource = MakeArchiveSource(options);

  JobResult result;
  std::thread worker([&] { result = job.RunUpdate(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto closing = std::chrono::steady_clock::now();
  job.m_bStopping = true;
  worker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(2));
  EXPECT_EQ(result.outcome, JobOutcome::Failed);
  EXPECT_TRUE(unchanged.Matches(*rig.device));
}

}  // namespace
}  // namespace orvane
