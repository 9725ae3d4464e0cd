// The online version check: brand table, version file, texts, archive step.
#include "core/net/version_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "core/brand_urls.h"
#include "core/net/test_http_server.h"

namespace orvane {
namespace {

BrandPage Page(std::string_view text) {
  BrandPage page{};
  std::memcpy(page.data(), text.data(), std::min(text.size(), page.size()));
  return page;
}

TEST(VersionCheck, BrandTableFirstMatchingRowGivesTheUrl) {
  using namespace brands;
  BrandPage erased;
  erased.fill(0xFF);
  // Row 0 depends on the build alone.
  EXPECT_EQ(GetVersionFileUrl(Page(kBrand1), kUnbranded), kTestNetUrl);
  EXPECT_EQ(GetVersionFileUrl(erased, kUnbranded), kTestNetUrl);

  const std::string build(kBrand7);  // 16 bytes; rows compare its first 8
  struct Case {
    std::string brand;
    std::string_view url;
  };
  const Case cases[] = {
      {std::string(kBrand1) + "X900", kVersionUrl1},
      {std::string(kBrand2), kVersionUrl2},
      {std::string(kBrand3) + "\xb5\xe7", kVersionUrl3},
      {build.substr(0, 8), kVersionUrl4},
      {std::string(kBrand5), kVersionUrl5},
      {std::string(kBrand6) + "Z", kVersionUrl6},
      {std::string(kBrand1Short), ""},  // shorter than brand 1
      {std::string(kBrand14), ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.brand);
    EXPECT_EQ(GetVersionFileUrl(Page(c.brand), build), c.url);
  }
  EXPECT_EQ(GetVersionFileUrl(erased, build), "");
  // A build brand shorter than 8 bytes counts with its terminating zeros.
  EXPECT_EQ(GetVersionFileUrl(Page(kBrand14), kBrand14), kVersionUrl4);
  EXPECT_EQ(GetVersionFileUrl(Page(std::string(kBrand14) + "Y"), kBrand14), "");
  // The URLs are built on the configured base.
  EXPECT_EQ(kVersionUrl1.substr(0, kVersionUrlBase.size()), kVersionUrlBase);
}

TEST(VersionCheck, ArchiveUrlsByExtension) {
  EXPECT_TRUE(IsArchiveUrl("http://h/a/update.ZIP"));
  EXPECT_TRUE(IsArchiveUrl("http://h/a/update.7z"));
  EXPECT_TRUE(IsArchiveUrl("http://h/a/update.Rar"));
  EXPECT_FALSE(IsArchiveUrl("http://h/a/version.txt"));
  EXPECT_FALSE(IsArchiveUrl("http://h/a/zip"));
}

TEST(VersionCheck, VersionFileLines) {
  const std::string dir = test::MakeScratchDir();
  ASSERT_FALSE(dir.empty());
  struct Case {
    const char* name;
    std::string content;
    bool ok;
    int32_t version;
    std::string url, status;
  };
  const std::string failed(kTextVersionFailed), head(kTextNetVersion);
  const Case cases[] = {
      {"good", "20240517\nhttp://h/up/data.zip\nignored\n", true, 20240517, "http://h/up/data.zip",
       head + "20240517\n"},
      {"crlf", "20240517\r\nhttp://h/up/data.zip\r\n", true, 20240517, "http://h/up/data.zip",
       head + "20240517\n"},
      {"no final line end", "  20240101 new\nhttp://h/d.rar", true, 20240101, "http://h/d.rar",
       head + "  20240101 new\n"},
      {"no number", "latest\nhttp://h/d.7z\n", true, 0, "http://h/d.7z", head + "latest\n"},
      {"one line", "20240517\n", false, -1, "", failed},
      {"empty", "", false, -1, "", failed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "/Tmp";
    test::WriteWholeFile(path, c.content);
    const VersionFile v = ReadVersionFile(path);
    EXPECT_EQ(v.ok, c.ok);
    EXPECT_EQ(v.netVersion, c.version);
    EXPECT_EQ(v.archiveUrl, c.url);
    EXPECT_EQ(v.statusText, c.status);
    EXPECT_FALSE(test::Exists(path)) << "deleted once read";
  }
  const VersionFile missing = ReadVersionFile(dir + "/absent");
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.netVersion, -1);
  EXPECT_EQ(ParseLeadingNumber("99999999999"), INT32_MAX);
}

TEST(VersionCheck, VersionQuestionOnlyWhenDeviceIsNotOlder) {
  EXPECT_TRUE(NeedsVersionPrompt(20240517, 20240517));
  EXPECT_TRUE(NeedsVersionPrompt(20240517, 20240601));
  EXPECT_FALSE(NeedsVersionPrompt(20240518, 20240517));  // one day newer online
  EXPECT_FALSE(NeedsVersionPrompt(0, 20240517));         // no number in the version file
  EXPECT_FALSE(NeedsVersionPrompt(-1, 20240517));
  EXPECT_FALSE(NeedsVersionPrompt(20240517, 0));         // device without a dated region
}

TEST(VersionCheck, DownloadProgressTexts) {
  const uint32_t k100KBs = 100 * 100000;
  struct Case {
    const char* name;
    uint32_t rate;
    uint64_t received, size;
    std::string text;
  };
  const Case cases[] = {
      {"half at 100 KB/s, 10 s left", k100KBs, 1024000, 2048000,
       "下载进度50.00% 速度100.00Kb/s  剩余时间10秒"},
      {"1 h 2 min 5 s", k100KBs, 0, 3725ull * 102400, "下载进度0.00% 速度100.00Kb/s  剩余时间1小时2分钟5秒"},
      {"exactly one hour", k100KBs, 0, 3600ull * 102400, "下载进度0.00% 速度100.00Kb/s  剩余时间1小时0秒"},
      {"under a minute", k100KBs, 1000000, 1000000 + 59 * 102400,
       "下载进度14.20% 速度100.00Kb/s  剩余时间59秒"},
      {"finished", 0, 5000000, 5000000, "下载进度100.00% 速度0.00Kb/s  剩余时间0秒"},
      {"no speed yet", 0, 0, 5000000, "下载进度0.00% 速度0.00Kb/s  剩余时间0秒"},
      {"more than announced", k100KBs, 6000, 5000, "下载进度120.00% 速度100.00Kb/s  剩余时间0秒"},
      {"size unknown", 12345678, 4096, 0, "下载进度4096字节 速度123.46Kb/s  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DownloadProgressText(c.rate, c.received, c.size), c.text);
  }
}

TEST(VersionCheck, ArchivePathsInTheTemporaryDirectory) {
  ArchivePaths p;
  ASSERT_TRUE(PlanArchivePaths("http://h/d/upd.2024.zip", "/t/orvane/", p));
  EXPECT_EQ(p.name, "upd.2024.zip");
  EXPECT_EQ(p.base, "upd.2024");
  EXPECT_EQ(p.folder, "/t/orvane/upd.2024");
  EXPECT_EQ(p.target, "/t/orvane/upd.2024/upd.2024.zip");
  EXPECT_EQ(p.extractFolder, "/t/orvane/upd.2024/TmpTmp");
  // No dot: straight into the temporary directory.
  ASSERT_TRUE(PlanArchivePaths("http://h/d/update", "/t/orvane/", p));
  EXPECT_EQ(p.folder, "/t/orvane");
  EXPECT_EQ(p.target, "/t/orvane/update");
  ASSERT_TRUE(PlanArchivePaths("data.rar", "/t/orvane/", p));
  EXPECT_EQ(p.target, "/t/orvane/data/data.rar");
  // Names that would leave the directory or name none.
  ASSERT_TRUE(PlanArchivePaths("http://h/...rar", "/t/orvane/", p));
  EXPECT_EQ(p.folder, "/t/orvane");
  EXPECT_FALSE(PlanArchivePaths("http://h/d/", "/t/orvane/", p));
  EXPECT_FALSE(PlanArchivePaths("http://h/..", "/t/orvane/", p));
}

class ArchiveDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(m_dir.empty()); }
  test::ScopedRuntimeDir m_runtime;
  const std::string m_dir = m_runtime.Path();
};

TEST_F(ArchiveDownloadTest, OutcomeComesBackFromTheSynchronousStart) {
  test::TestHttpServer server;
  test::NoticeRecorder notices;
  CHttpDownload download;
  ArchivePaths paths;
  // An old copy is replaced.
  ASSERT_EQ(::mkdir((m_dir + "/orvane").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((m_dir + "/orvane/4000").c_str(), 0700), 0);
  test::WriteWholeFile(m_dir + "/orvane/4000/4000.zip", "stale stale stale");
  EXPECT_EQ(DownloadArchive(download, &notices, server.Url("/file/4000.zip"), paths), "")
      << "served by /file/N with N = 4000";
  EXPECT_EQ(paths.target, m_dir + "/orvane/4000/4000.zip");
  EXPECT_EQ(test::ReadWholeFile(paths.target), test::Pattern(4000));
  EXPECT_EQ(notices.All().back().message, WM_DOWNLOAD_DONE);

  EXPECT_EQ(DownloadArchive(download, &notices, server.Url("/status/404.zip"), paths),
            kTextDownloadError);
  EXPECT_FALSE(test::Exists(paths.target));
  EXPECT_EQ(DownloadArchive(download, &notices, "", paths), kTextChooseCorrectFile);
  EXPECT_EQ(DownloadArchive(download, &notices, "http://exa mple.com/a.zip", paths),
            "Failed to parse the URL: http://http://exa mple.com/a.zip\n");
}

}  // namespace
}  // namespace orvane
