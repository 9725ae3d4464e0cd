// CHttpDownload in synchronous mode against a local HTTP server.
#include "core/net/http_download.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "core/net/test_http_server.h"

namespace orvane {
namespace {

using test::Notice;
using test::NoticeRecorder;
using test::Pattern;

class HttpDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = test::MakeScratchDir();
    ASSERT_FALSE(m_dir.empty());
    m_target = m_dir + "/target.bin";
  }

  DownloadRequest Request(const std::string& url) {
    DownloadRequest r;
    r.owner = &m_notices;
    r.url = url;
    r.targetPath = m_target;
    r.accessType = 1;  // straight to 127.0.0.1, whatever proxy the environment names
    return r;
  }

  // Runs one synchronous download; returns Start's text.
  std::string Run(const DownloadRequest& request) {
    m_download.Configure(request);
    return m_download.Start(true);
  }

  test::TestHttpServer m_server;
  NoticeRecorder m_notices;
  CHttpDownload m_download;
  std::string m_dir, m_target;
};

// Compares without printing megabytes of binary on a mismatch.
void ExpectFile(const std::string& path, const std::string& expected) {
  const std::string actual = test::ReadWholeFile(path);
  EXPECT_EQ(actual.size(), expected.size());
  EXPECT_TRUE(actual == expected) << "content of " << path << " differs";
}

// The last notice is the one completion notice.
void ExpectDoneLast(const std::vector<Notice>& all, uint32_t code, int64_t detail) {
  ASSERT_FALSE(all.empty());
  int dones = 0;
  for (const Notice& n : all) dones += n.message == WM_DOWNLOAD_DONE;
  EXPECT_EQ(dones, 1);
  EXPECT_EQ(all.back().message, WM_DOWNLOAD_DONE);
  EXPECT_EQ(all.back().wParam, code);
  EXPECT_EQ(all.back().lParam, detail);
}

TEST_F(HttpDownloadTest, AnswersEndWithTheirCompletionCode) {
  struct Case {
    const char* path;
    bool schemeless;
    uint32_t code;
    int64_t detail;
    size_t bodyLength;  // of a kept target
  };
  const Case cases[] = {
      {"/file/5000", false, kDownloadOk, 0, 5000},
      {"/file/0", false, kDownloadOk, 0, 0},
      {"/chunked/5000", false, kDownloadOk, 0, 5000},
      {"/file/300", true, kDownloadOk, 0, 300},  // no scheme: fetched over http
      {"/status/404", false, kDownloadBadStatus, 404, 0},
      {"/status/500", false, kDownloadBadStatus, 500, 0},
      // Without credentials and without prompting, a refusal stays a refusal.
      {"/status/401", false, kDownloadBadStatus, 401, 0},
      {"/status/407", false, kDownloadBadStatus, 407, 0},
      // The connection closes after 500 of 1000 announced bytes.
      {"/cut", false, kDownloadReadFailed, CURLE_PARTIAL_FILE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    NoticeRecorder notices;
    DownloadRequest r = Request(c.schemeless ? "127.0.0.1:" + std::to_string(m_server.Port()) + c.path
                                             : m_server.Url(c.path));
    r.owner = &notices;
    ASSERT_EQ(Run(r), "");
    EXPECT_TRUE(m_download.IsFinished());
    const auto all = notices.All();
    ExpectDoneLast(all, c.code, c.detail);
    const DownloadOutcome outcome = m_download.LastOutcome();
    EXPECT_TRUE(outcome.done);
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(outcome.detail, c.detail);
    // Fast downloads post no rate notice.
    EXPECT_TRUE(notices.Of(WM_DOWNLOAD_PROGRESS).empty());
    if (c.code == kDownloadOk) {
      ExpectFile(m_target, Pattern(c.bodyLength));
      const auto sizes = notices.Of(WM_DOWNLOAD_SIZE);
      ASSERT_EQ(sizes.size(), 1u);
      const bool chunked = std::string(c.path).find("chunked") != std::string::npos;
      EXPECT_EQ(sizes[0].wParam, chunked ? 0u : c.bodyLength);
      EXPECT_EQ(sizes[0].lParam, 0);
      const auto status = notices.Of(WM_DOWNLOAD_STATUS);
      if (chunked || c.bodyLength == 0) {
        EXPECT_TRUE(status.empty());
      } else {
        ASSERT_FALSE(status.empty());
        EXPECT_EQ(status.back().wParam, 100u);
      }
    } else {
      EXPECT_FALSE(test::Exists(m_target)) << "a failed download leaves no file";
      // Only an accepted status announces a size.
      EXPECT_EQ(notices.Of(WM_DOWNLOAD_SIZE).size(), c.code == kDownloadReadFailed ? 1u : 0u);
    }
  }
  EXPECT_EQ(m_download.Scheme(), "http");
  EXPECT_EQ(m_download.ServerName(), "127.0.0.1");
  EXPECT_EQ(m_download.Port(), m_server.Port());
  EXPECT_EQ(m_download.ObjectPath(), "/cut");
}

TEST_F(HttpDownloadTest, PercentagesRiseOnceEachUpToHundredAndAgentIsUpdate) {
  ASSERT_EQ(Run(Request(m_server.Url("/file/3000000"))), "");
  EXPECT_EQ(m_server.LastHeader("User-Agent"), "Update");
  const auto status = m_notices.Of(WM_DOWNLOAD_STATUS);
  ASSERT_FALSE(status.empty());
  EXPECT_LE(status.size(), 101u);
  for (size_t i = 1; i < status.size(); ++i) EXPECT_GT(status[i].wParam, status[i - 1].wParam);
  EXPECT_EQ(status.back().wParam, 100u);
  ExpectDoneLast(m_notices.All(), kDownloadOk, 0);

  m_download.SetUserAgent("Orvane-Test");
  ASSERT_EQ(Run(Request(m_server.Url("/file/10"))), "");
  EXPECT_EQ(m_server.LastHeader("User-Agent"), "Orvane-Test");
}

TEST_F(HttpDownloadTest, ResumeKeepsTheOffsetAndAppendsThePartialAnswer) {
  const size_t total = 20000, offset = 7000;
  const std::string whole = Pattern(total);
  // An existing longer file: cut to the offset, the rest comes from the server.
  test::WriteWholeFile(m_target, whole.substr(0, offset) + std::string(15000, 'x'));
  DownloadRequest r = Request(m_server.Url("/range/20000"));
  r.resumeOffset = offset;
  r.failIfExists = true;  // does not apply when resuming
  ASSERT_EQ(Run(r), "");
  EXPECT_EQ(m_server.LastHeader("Range"), "bytes=7000-");
  ExpectFile(m_target, whole);
  const auto sizes = m_notices.Of(WM_DOWNLOAD_SIZE);
  ASSERT_EQ(sizes.size(), 1u);
  EXPECT_EQ(sizes[0].wParam, total - offset);
  EXPECT_EQ(sizes[0].lParam, int64_t(offset));
  const auto status = m_notices.Of(WM_DOWNLOAD_STATUS);
  ASSERT_FALSE(status.empty());
  EXPECT_GE(status.front().wParam, offset * 100 / total) << "the kept bytes count as received";
  EXPECT_EQ(status.back().wParam, 100u);
  ExpectDoneLast(m_notices.All(), kDownloadOk, 0);
}

TEST_F(HttpDownloadTest, ResumeAnsweredWithTheWholeFileRestartsFromZero) {
  const std::string whole = Pattern(20000);
  test::WriteWholeFile(m_target, whole.substr(0, 7000));
  DownloadRequest r = Request(m_server.Url("/norange/20000"));
  r.resumeOffset = 7000;
  ASSERT_EQ(Run(r), "");
  EXPECT_EQ(m_server.LastHeader("Range"), "bytes=7000-");
  ExpectFile(m_target, whole);
  const auto sizes = m_notices.Of(WM_DOWNLOAD_SIZE);
  ASSERT_EQ(sizes.size(), 1u);
  EXPECT_EQ(sizes[0].wParam, 0u);  // sent without a length
  EXPECT_EQ(sizes[0].lParam, 0) << "nothing kept";
}

TEST_F(HttpDownloadTest, StartRefusesWithItsTextsAndPostsNothing) {
  const std::string url = m_server.Url("/file/10");
  struct Case {
    std::string url, target;
    bool failIfExists;
    uint32_t offset;
    std::string expected;
  };
  const std::string existing = m_dir + "/existing.bin";
  test::WriteWholeFile(existing, "old");
  const std::string link = m_dir + "/link.bin";
  ASSERT_EQ(::symlink(existing.c_str(), link.c_str()), 0);
  const Case cases[] = {
      {"http://exa mple.com/x", m_target, false, 0, "Failed to parse the URL: http://http://exa mple.com/x\n"},
      {"", m_target, false, 0, "Failed to parse the URL: http://\n"},
      {url, existing, true, 0, "The file '" + existing + "' already exists."},
      {url, m_dir + "/missing/dir/file", false, 0,
       "An error occured while opening the file to be downloaded, Error:2"},
      // A planted symlink is never followed.
      {url, link, false, 0, "An error occured while opening the file to be downloaded, Error:40"},
      // Resuming past the end would leave a hole of zeros.
      {url, existing, false, 100,
       "An error occurred while seeking to the end of the file to be downloaded, Error:22"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    DownloadRequest r = Request(c.url);
    r.targetPath = c.target;
    r.failIfExists = c.failIfExists;
    r.resumeOffset = c.offset;
    EXPECT_EQ(Run(r), c.expected);
  }
  EXPECT_TRUE(m_notices.All().empty());
  EXPECT_EQ(test::ReadWholeFile(existing), "old");
  EXPECT_EQ(m_server.Requests(), 0);
}

TEST_F(HttpDownloadTest, ExistingTargetWithoutFailFlagIsEmptiedAndRewritten) {
  test::WriteWholeFile(m_target, std::string(50000, 'x'));
  ASSERT_EQ(Run(Request(m_server.Url("/file/1000"))), "");
  ExpectFile(m_target, Pattern(1000));
  ExpectDoneLast(m_notices.All(), kDownloadOk, 0);
}

TEST_F(HttpDownloadTest, RateLimitSlowsTheTransfer) {
  DownloadRequest r = Request(m_server.Url("/file/150000"));
  r.maxRate = 250.0;  // bytes per millisecond: about 600 ms for the whole file
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(Run(r), "");
  const auto elapsed = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(elapsed, std::chrono::milliseconds(350));
  ExpectFile(m_target, Pattern(150000));
  ExpectDoneLast(m_notices.All(), kDownloadOk, 0);
}

TEST_F(HttpDownloadTest, CredentialsFromTheRequestOrThePrompt) {
  // Given in the request.
  DownloadRequest r = Request(m_server.Url("/auth"));
  r.serverUserName = "user";
  r.serverPassword = "secret";
  ASSERT_EQ(Run(r), "");
  EXPECT_EQ(test::ReadWholeFile(m_target), "welcome");

  // Asked for on the 401 answer; a wrong answer first, then the right one.
  int asked = 0;
  m_download.SetCredentialPrompt([&](bool proxy, std::string& user, std::string& password) {
    EXPECT_FALSE(proxy);
    ++asked;
    user = "user";
    password = asked == 1 ? "wrong" : "secret";
    return true;
  });
  r = Request(m_server.Url("/auth"));
  r.promptServerCredentials = true;
  ASSERT_EQ(Run(r), "");
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(test::ReadWholeFile(m_target), "welcome");

  // A prompt that gives up, or prompting switched off: a refusal.
  m_download.SetCredentialPrompt([&](bool, std::string&, std::string&) {
    ++asked;
    return false;
  });
  for (bool promptOn : {true, false}) {
    asked = 0;
    NoticeRecorder notices;
    r = Request(m_server.Url("/auth"));
    r.owner = &notices;
    r.promptServerCredentials = promptOn;
    ASSERT_EQ(Run(r), "");
    EXPECT_EQ(asked, promptOn ? 1 : 0);
    ExpectDoneLast(notices.All(), kDownloadBadStatus, 401);
    EXPECT_FALSE(test::Exists(m_target));
  }
}

TEST_F(HttpDownloadTest, NamedProxyCarriesTheRequestAndItsCredentials) {
  // Port 9 of 127.0.0.1 is never reached: the request goes to the proxy.
  DownloadRequest r = Request("http://127.0.0.1:9/via-proxy");
  r.accessType = 2;
  r.proxyServer = "127.0.0.1:" + std::to_string(m_server.Port());
  ASSERT_EQ(Run(r), "");
  EXPECT_EQ(test::ReadWholeFile(m_target), "via proxy");

  NoticeRecorder refused;
  r.url = "http://127.0.0.1:9/via-proxy-auth";
  r.owner = &refused;
  ASSERT_EQ(Run(r), "");
  ExpectDoneLast(refused.All(), kDownloadBadStatus, 407);

  r.proxyUserName = "proxy";
  r.proxyPassword = "pass";
  ASSERT_EQ(Run(r), "");
  EXPECT_EQ(test::ReadWholeFile(m_target), "via proxy");

  // Asked for on the 407 answer.
  int asked = 0;
  m_download.SetCredentialPrompt([&](bool proxy, std::string& user, std::string& password) {
    EXPECT_TRUE(proxy);
    ++asked;
    user = "proxy";
    password = "pass";
    return true;
  });
  r.proxyUserName.clear();
  r.proxyPassword.clear();
  r.promptProxyCredentials = true;
  ASSERT_EQ(Run(r), "");
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(test::ReadWholeFile(m_target), "via proxy");
}

TEST_F(HttpDownloadTest, NothingListeningFailsWhileConnecting) {
  // Bind a port and close it again, so that nothing listens there.
  int port;
  {
    test::TestHttpServer gone;
    port = gone.Port();
  }
  ASSERT_EQ(Run(Request("http://127.0.0.1:" + std::to_string(port) + "/x")), "");
  ExpectDoneLast(m_notices.All(), kDownloadSendFailed, CURLE_COULDNT_CONNECT);
  EXPECT_FALSE(test::Exists(m_target));
}

TEST_F(HttpDownloadTest, AccessTypeOutsideTheTableFailsAtTheFirstStage) {
  DownloadRequest r = Request(m_server.Url("/file/10"));
  r.accessType = 3;
  ASSERT_EQ(Run(r), "");
  ExpectDoneLast(m_notices.All(), kDownloadInitFailed, CURLE_BAD_FUNCTION_ARGUMENT);
  EXPECT_EQ(m_server.Requests(), 0);
}

}  // namespace
}  // namespace orvane
