// CHttpDownload on its own thread, and Stop from the owner's thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "core/net/http_download.h"
#include "core/net/test_http_server.h"

namespace orvane {
namespace {

using namespace std::chrono_literals;
using test::Notice;
using test::NoticeRecorder;
using test::Pattern;

class HttpDownloadThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = test::MakeScratchDir();
    ASSERT_FALSE(m_dir.empty());
    m_target = m_dir + "/target.bin";
  }
  DownloadRequest Request(const std::string& path, IDownloadNotify* owner) {
    DownloadRequest r;
    r.owner = owner;
    r.url = m_server.Url(path);
    r.targetPath = m_target;
    r.accessType = 1;
    return r;
  }
  // Waits (bounded) until the slow answer has put some bytes into the target.
  static bool WaitForBytes(NoticeRecorder& notices) {
    return notices.WaitFor([](const std::vector<Notice>& v) {
      for (const Notice& n : v)
        if (n.message == WM_DOWNLOAD_STATUS && n.wParam >= 1) return true;
      return false;
    });
  }

  test::TestHttpServer m_server;
  std::string m_dir, m_target;
};

TEST_F(HttpDownloadThreadsTest, AsynchronousDownloadPostsFromItsOwnThread) {
  struct ThreadCheck : NoticeRecorder {
    std::thread::id owner = std::this_thread::get_id();
    std::atomic<bool> onOwnerThread{false};
    void Post(unsigned m, uint64_t w, int64_t l) override {
      if (std::this_thread::get_id() == owner) onOwnerThread = true;
      NoticeRecorder::Post(m, w, l);
    }
  } notices;
  CHttpDownload download;
  download.Configure(Request("/file/200000", &notices));
  ASSERT_EQ(download.Start(false), "");
  ASSERT_TRUE(notices.WaitDone());
  download.Stop();  // as the owner does on the completion notice
  EXPECT_FALSE(notices.onOwnerThread);
  EXPECT_TRUE(download.IsFinished());
  const auto all = notices.All();
  EXPECT_EQ(all.back().message, WM_DOWNLOAD_DONE);
  EXPECT_EQ(all.back().wParam, kDownloadOk);
  EXPECT_TRUE(test::ReadWholeFile(m_target) == Pattern(200000));

  // The same downloader runs the next download after Configure.
  NoticeRecorder second;
  download.Configure(Request("/status/404", &second));
  ASSERT_EQ(download.Start(false), "");
  ASSERT_TRUE(second.WaitDone());
  download.Stop();
  EXPECT_EQ(second.All().back().wParam, kDownloadBadStatus);
  EXPECT_EQ(second.All().back().lParam, 404);
}

TEST_F(HttpDownloadThreadsTest, StopInTheMiddleKeepsTheBytesAndReportsAbort) {
  NoticeRecorder notices;
  CHttpDownload download;
  download.Configure(Request("/slow", &notices));
  ASSERT_EQ(download.Start(false), "");
  ASSERT_TRUE(WaitForBytes(notices));
  const auto t0 = std::chrono::steady_clock::now();
  download.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s) << "the abort wakes the transfer at once";
  // Stop waited for the thread, so the completion notice is already there.
  const auto all = notices.All();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back().message, WM_DOWNLOAD_DONE);
  EXPECT_EQ(all.back().wParam, kDownloadAborted);
  EXPECT_EQ(all.back().lParam, 0);
  const std::string kept = test::ReadWholeFile(m_target);
  EXPECT_GT(kept.size(), 0u);
  EXPECT_LT(kept.size(), test::TestHttpServer::kSlowLength);
  EXPECT_TRUE(kept == Pattern(test::TestHttpServer::kSlowLength).substr(0, kept.size()));
  download.Stop();  // again: harmless
}

TEST_F(HttpDownloadThreadsTest, StopFromAnotherThreadEndsASynchronousDownload) {
  NoticeRecorder notices;
  CHttpDownload download;
  download.Configure(Request("/slow", &notices));
  std::thread stopper([&] {
    if (WaitForBytes(notices)) download.Stop();
  });
  EXPECT_EQ(download.Start(true), "");
  stopper.join();
  EXPECT_EQ(download.LastOutcome().code, kDownloadAborted);
  EXPECT_TRUE(download.LastOutcome().done);
}

TEST_F(HttpDownloadThreadsTest, StopWhenIdleAndDestructionWhileRunning) {
  {
    CHttpDownload idle;
    idle.Stop();
    idle.Stop();
  }
  NoticeRecorder notices;
  {
    CHttpDownload download;
    download.Configure(Request("/slow", &notices));
    ASSERT_EQ(download.Start(false), "");
    ASSERT_TRUE(WaitForBytes(notices));
  }  // the owner goes: the download is stopped with it
  EXPECT_EQ(notices.All().back().wParam, kDownloadAborted);
}

TEST_F(HttpDownloadThreadsTest, ConfigureWhileRunningStopsTheRunningDownload) {
  NoticeRecorder first, second;
  CHttpDownload download;
  download.Configure(Request("/slow", &first));
  ASSERT_EQ(download.Start(false), "");
  ASSERT_TRUE(WaitForBytes(first));
  download.Configure(Request("/file/1000", &second));
  EXPECT_EQ(first.All().back().wParam, kDownloadAborted);
  ASSERT_EQ(download.Start(false), "");
  ASSERT_TRUE(second.WaitDone());
  download.Stop();
  EXPECT_EQ(second.All().back().wParam, kDownloadOk);
}

TEST_F(HttpDownloadThreadsTest, DownloadThatOutlivesTheWaitIsLeftBehindSilently) {
  // A credential prompt nobody answers keeps the download thread busy.
  struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool asked = false, open = false;
  };
  auto gate = std::make_shared<Gate>();
  std::weak_ptr<Gate> watch = gate;
  NoticeRecorder notices;
  {
    CHttpDownload download;
    download.SetStopWait(100);
    download.SetCredentialPrompt([gate](bool, std::string&, std::string&) {
      std::unique_lock<std::mutex> lock(gate->m);
      gate->asked = true;
      gate->cv.notify_all();
      gate->cv.wait_for(lock, 5s, [&] { return gate->open; });
      return false;
    });
    DownloadRequest r = Request("/status/401", &notices);
    r.promptServerCredentials = true;
    download.Configure(r);
    ASSERT_EQ(download.Start(false), "");
    {
      std::unique_lock<std::mutex> lock(gate->m);
      ASSERT_TRUE(gate->cv.wait_for(lock, 5s, [&] { return gate->asked; }));
    }
    const auto t0 = std::chrono::steady_clock::now();
    download.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_FALSE(download.IsFinished());
  }  // the downloader is gone while its thread still waits in the prompt
  {
    std::lock_guard<std::mutex> lock(gate->m);
    gate->open = true;
    gate->cv.notify_all();
  }
  gate.reset();
  // The thread ends by itself and drops the last reference to the prompt.
  for (int i = 0; i < 500 && !watch.expired(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(watch.expired());
  EXPECT_TRUE(notices.All().empty()) << "nothing reaches an owner that has let go";
}

}  // namespace
}  // namespace orvane
