// The online road of an update job against a local HTTP server: archive
// download, type check, unpacking, the update itself, and every verdict of
// the way with the device left untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>


#include "core/net/test_http_server.h"
#include "core/net/version_check.h"
#include "core/update/archive_source.h"
#include "job_rig.h"
#include "sim/sample_archive.h"

namespace orvane {
namespace {

using test::ExpectedImage;
using test::JobRig;

class OnlineJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(m_scratch.empty());
    m_work = m_scratch + "/orvane/pkg";
    ASSERT_TRUE(m_rig.Connect());
    m_contents = sim::SampleUpdateContents(test::SmallSizes(), test::BuildBrandBytes());
    std::string error;
    const auto bytes = BuildUpdateFile(m_contents, &error);
    ASSERT_TRUE(bytes) << error;
    m_update.assign(bytes->begin(), bytes->end());
  }
  void TearDown() override { DeleteTree(m_scratch); }

  // Serves an archive of `items` as /text/NAME and returns its URL.
  std::string Serve(const std::string& name, const std::vector<sim::ArchiveItem>& items) {
    const std::string path = m_scratch + "/" + name;
    std::string error;
    EXPECT_TRUE(sim::WriteArchive(path, items, &error)) << error;
    m_server.SetText(name, test::ReadWholeFile(path));
    return m_server.Url("/text/" + name);
  }
  JobResult Run(const std::string& url, ArchiverTable table = {{"", ArgumentForm::BuiltIn}}) {
    CUpdateJob job(m_rig.session, m_rig.observer);
    job.m_strArchiveUrl = url;
    ArchiveSourceOptions options;
    options.observer = &m_rig.observer;
    options.archivers = std::move(table);
    job.m_archiveSource = MakeArchiveSource(options);
    m_rig.observer.shownFolders.clear();
    return job.RunUpdate();
  }

  test::ScopedRuntimeDir m_runtime;
  const std::string m_scratch = m_runtime.Path();
  test::TestHttpServer m_server;
  JobRig m_rig{test::FactoryDevice()};
  UpdateFileContents m_contents;
  std::string m_update, m_work;
};

TEST_F(OnlineJobTest, TheWholeRoadLeavesTheExpectedImage) {
  const ExpectedImage expected = test::FactoryImageAfter(m_rig, m_contents);
  const std::string url = Serve("pkg.zip", {sim::FileItem("readme.txt", "read me"),
                                            sim::FileItem("data/Update.QZV", m_update)});
  const JobResult r = Run(url);
  ASSERT_EQ(r.outcome, JobOutcome::Success) << r.verdict << " " << r.detail;
  EXPECT_EQ(r.verdict, kVerdictSuccess);
  EXPECT_EQ(r.detail, "unpacked with built-in");
  EXPECT_TRUE(expected.Matches(*m_rig.device));
  EXPECT_EQ(m_rig.observer.phases,
            (std::vector<std::string>{kPhaseTextUnpacking, kPhaseTextUpdating}));
  EXPECT_TRUE(m_rig.observer.shownFolders.empty());
  // The archive stays in its work folder; the extraction folder goes.
  EXPECT_TRUE(test::Exists(m_work + "/pkg.zip"));
  EXPECT_FALSE(test::Exists(m_work + "/TmpTmp"));
  ASSERT_TRUE(m_rig.Connect());
  EXPECT_EQ(m_rig.session.m_nDeviceVersion, 20261120);
}

TEST_F(OnlineJobTest, EveryFailureHasItsVerdictAndLeavesTheDeviceAlone) {
  const ExpectedImage unchanged(*m_rig.device);
  const std::string good = Serve("pkg.zip", {sim::FileItem("u.qzv", m_update)});
  const std::string zipBytes = test::ReadWholeFile(m_scratch + "/pkg.zip");
  m_server.SetText("pkg.ZIP", zipBytes);
  m_server.SetText("pkg.txt", m_update);
  m_server.SetText("page.zip", "<html>moved</html>");
  const std::string empty = Serve("empty.zip", {sim::FileItem("readme.txt", "nothing here")});
  const std::string hostile = Serve("hostile.zip", {sim::FileItem("../../escape.qzv", m_update)});
  const std::string garbage = Serve("garbage.zip", {sim::FileItem("u.qzv", std::string(3000, 'g'))});
  (void)good;

  struct Case {
    const char* label;
    std::string url;
    ArchiverTable table;
    std::string verdict;
    std::string folder;  // the folder the job asks to show
  } cases[] = {
      {"upper-case extension", m_server.Url("/text/pkg.ZIP"), {{"", ArgumentForm::BuiltIn}}, kVerdictNoUpdateFile,
       m_scratch + "/orvane/pkg"},
      {"not an archive type", m_server.Url("/text/pkg.txt"), {{"", ArgumentForm::BuiltIn}}, kVerdictNoUpdateFile,
       m_scratch + "/orvane/pkg"},
      {"download fails", m_server.Url("/status/404.zip"), {{"", ArgumentForm::BuiltIn}},
       std::string(kTextDownloadError), ""},
      {"no archiver", m_server.Url("/text/pkg.zip"), {{"no-such-archiver", ArgumentForm::Extract}},
       kVerdictNoArchiver, m_scratch + "/orvane/pkg"},
      {"a page instead of an archive", m_server.Url("/text/page.zip"), {{"", ArgumentForm::BuiltIn}},
       kVerdictNoUpdateFile, m_scratch + "/orvane/page"},
      {"no update file", empty, {{"", ArgumentForm::BuiltIn}}, kVerdictNoUpdateFile, m_scratch + "/orvane/empty"},
      {"traversal entry", hostile, {{"", ArgumentForm::BuiltIn}}, kVerdictNoUpdateFile,
       m_scratch + "/orvane/hostile"},
      {"update file of no format", garbage, {{"", ArgumentForm::BuiltIn}}, std::string(kVerdictFormat) + "-1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const auto pagesBefore = m_rig.device->GetStats().pagesWritten;
    const JobResult r = Run(c.url, c.table);
    EXPECT_EQ(r.outcome, JobOutcome::Failed);
    EXPECT_EQ(r.verdict, c.verdict) << r.detail;
    EXPECT_EQ(r.folderToShow, c.folder);
    EXPECT_EQ(m_rig.observer.shownFolders,
              c.folder.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.folder});
    EXPECT_EQ(m_rig.device->GetStats().pagesWritten, pagesBefore);
    EXPECT_TRUE(unchanged.Matches(*m_rig.device));
    EXPECT_FALSE(test::Exists(c.folder + "/TmpTmp"));
  }
  EXPECT_FALSE(test::Exists(m_scratch + "/escape.qzv"));
  EXPECT_FALSE(test::Exists(m_scratch + "/orvane/escape.qzv"));
}

TEST_F(OnlineJobTest, AStaleExtractionFolderIsNeverSearched) {
  const ExpectedImage unchanged(*m_rig.device);
  const std::string url = Serve("pkg.zip", {sim::FileItem("readme.txt", "no update here")});
  ASSERT_EQ(::mkdir((m_scratch + "/orvane").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(m_work.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((m_work + "/TmpTmp").c_str(), 0700), 0);
  test::WriteWholeFile(m_work + "/TmpTmp/left-over.qzv", m_update);
  const JobResult r = Run(url);
  EXPECT_EQ(r.verdict, kVerdictNoUpdateFile);
  EXPECT_TRUE(unchanged.Matches(*m_rig.device));
}

TEST_F(OnlineJobTest, AClosingFrontEndGetsNoFolderToOpen) {
  const std::string url = Serve("pkg.zip", {sim::FileItem("readme.txt", "x")});
  CUpdateJob job(m_rig.session, m_rig.observer);
  job.m_strArchiveUrl = url;
  ArchiveSourceOptions options;
  options.archivers = {{"", ArgumentForm::BuiltIn}};
  job.m_archiveSource = MakeArchiveSource(options);
  job.m_bStopping = true;
  const JobResult r = job.RunUpdate();
  EXPECT_EQ(r.verdict, kVerdictNoUpdateFile);
  EXPECT_TRUE(m_rig.observer.shownFolders.empty());
}

}  // namespace
}  // namespace orvane
