// A small HTTP server on 127.0.0.1 for the download tests, on a port the
// system picks. Every answer is bounded in time; the server stops with the
// fixture.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/net/http_download.h"
#include "test_files.h"

namespace orvane::test {

// Body bytes of the served files: position-dependent, so a shifted or
// repeated piece shows.
inline std::string Pattern(size_t length) {
  std::string out(length, '\0');
  for (size_t i = 0; i < length; ++i) out[i] = char((i * 7 + i / 251) & 0xFF);
  return out;
}

class TestHttpServer {
 public:
  static constexpr size_t kSlowLength = 1 << 20;

  TestHttpServer() {
    m_server.set_keep_alive_timeout(1);
    // /file/N: N bytes with a content length.
    m_server.Get(R"(/file/(\d+)(\.\w+)?)", [this](const httplib::Request& req, httplib::Response& res) {
      Record(req);
      res.set_content(Pattern(std::stoul(req.matches[1])), "application/octet-stream");
    });
    // /chunked/N: N bytes without a content length.
    m_server.Get(R"(/chunked/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
      Record(req);
      const size_t total = std::stoul(req.matches[1]);
      res.set_chunked_content_provider(
          "application/octet-stream", [total](size_t offset, httplib::DataSink& sink) {
            const std::string body = Pattern(total);
            const size_t n = std::min<size_t>(1000, total - offset);
            if (n > 0 && !sink.write(body.data() + offset, n)) return false;
            if (offset + n >= total) sink.done();
            return true;
          });
    });
    // /range/N: honours "Range: bytes=K-" with 206 (the library cuts the body).
    // /norange/N ignores it and answers 200 with the whole file; chunked, since
    // the library would cut a body of known length.
    auto ranged = [this](bool honour) {
      return [this, honour](const httplib::Request& req, httplib::Response& res) {
        Record(req);
        const size_t total = std::stoul(req.matches[1]);
        if (honour) {
          res.set_content(Pattern(total), "application/octet-stream");
          return;
        }
        res.status = 200;
        res.set_chunked_content_provider(
            "application/octet-stream", [total](size_t offset, httplib::DataSink& sink) {
              const std::string body = Pattern(total);
              const size_t n = std::min<size_t>(4096, total - offset);
              if (n > 0 && !sink.write(body.data() + offset, n)) return false;
              if (offset + n >= total) sink.done();
              return true;
            });
      };
    };
    m_server.Get(R"(/range/(\d+))", ranged(true));
    m_server.Get(R"(/norange/(\d+))", ranged(false));
    // /status/N: an answer with that status and a small body.
    m_server.Get(R"(/status/(\d+)(\.\w+)?)", [this](const httplib::Request& req, httplib::Response& res) {
      Record(req);
      res.status = std::stoi(req.matches[1]);
      if (res.status == 401) res.set_header("WWW-Authenticate", "Basic realm=\"orvane\"");
      if (res.status == 407) res.set_header("Proxy-Authenticate", "Basic realm=\"orvane\"");
      res.set_content("<html>refused</html>", "text/html");
    });
    // /auth: 200 for user "user", password "secret" (Basic), else 401.
    m_server.Get("/auth", [this](const httplib::Request& req, httplib::Response& res) {
      Record(req);
      const auto expected = httplib::make_basic_authentication_header("user", "secret");
      if (req.get_header_value("Authorization") == expected.second) {
        res.set_content("welcome", "text/plain");
      } else {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"orvane\"");
        res.set_content("denied", "text/plain");
      }
    });
    // /cut: announces 1000 bytes, sends 500 and closes the connection.
    m_server.Get("/cut", [this](const httplib::Request& req, httplib::Response& res) {
      Record(req);
      res.set_content_provider(1000, "application/octet-stream",
                               [](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset >= 500) return false;
                                 const std::string body = Pattern(500);
                                 return sink.write(body.data(), body.size());
                               });
    });
    // /slow: kSlowLength bytes announced, 1 KiB every 10 ms; ends by itself
    // when the client goes, the server stops, or after a few seconds.
    m_server.Get("/slow", [this](const httplib::Request& req, httplib::Response& res) {
      Record(req);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      res.set_content_provider(
          kSlowLength, "application/octet-stream",
          [this, deadline](size_t offset, size_t, httplib::DataSink& sink) {
            if (m_stopping || std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const size_t n = std::min<size_t>(1024, kSlowLength - offset);
            return sink.is_writable() && sink.write(m_slowBody.data() + offset, n);
          });
    });
    // Requests sent to this server as a proxy carry the absolute URL. The
    // "-auth" one wants proxy user "proxy", password "pass".
    m_server.Get(R"(http://[^/]+/via-proxy(-auth)?)", [this](const httplib::Request& req,
                                                            httplib::Response& res) {
      Record(req);
      const auto expected = httplib::make_basic_authentication_header("proxy", "pass", true);
      if (req.matches[1].length() > 0 &&
          req.get_header_value("Proxy-Authorization") != expected.second) {
        res.status = 407;
        res.set_header("Proxy-Authenticate", "Basic realm=\"proxy\"");
        res.set_content("proxy says no", "text/plain");
        return;
      }
      res.set_content("via proxy", "text/plain");
    });
    // /text/NAME: a text put there by the test.
    m_server.Get(R"(/text/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
      Record(req);
      std::lock_guard<std::mutex> lock(m_mutex);
      auto it = m_texts.find(req.matches[1]);
      if (it == m_texts.end()) {
        res.status = 404;
        return;
      }
      res.set_content(it->second, "text/plain");
    });
    m_port = m_server.bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    for (int i = 0; i < 500 && !m_server.is_running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }

  ~TestHttpServer() {
    m_stopping = true;
    m_server.stop();
    m_thread.join();
  }

  int Port() const { return m_port; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
  }
  void SetText(const std::string& name, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_texts[name] = text;
  }
  std::string LastHeader(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_lastHeaders.find(name);
    return it == m_lastHeaders.end() ? std::string() : it->second;
  }
  int Requests() const { return m_requests; }

 private:
  void Record(const httplib::Request& req) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastHeaders.clear();
    for (const auto& [k, v] : req.headers) m_lastHeaders[k] = v;
    ++m_requests;
  }

  httplib::Server m_server;
  std::thread m_thread;
  int m_port = 0;
  const std::string m_slowBody = Pattern(kSlowLength);
  std::atomic<bool> m_stopping{false};
  std::atomic<int> m_requests{0};
  std::mutex m_mutex;
  std::map<std::string, std::string> m_texts;
  std::map<std::string, std::string> m_lastHeaders;
};

// Records every notice of a download.
struct Notice {
  unsigned message;
  uint64_t wParam;
  int64_t lParam;
};

class NoticeRecorder : public IDownloadNotify {
 public:
  void Post(unsigned message, uint64_t wParam, int64_t lParam) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notices.push_back({message, wParam, lParam});
    m_cv.notify_all();
  }
  std::vector<Notice> All() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notices;
  }
  std::vector<Notice> Of(unsigned message) {
    std::vector<Notice> out;
    for (const Notice& n : All())
      if (n.message == message) out.push_back(n);
    return out;
  }
  // Waits (bounded) until `pred` holds for the notices so far.
  template <typename Pred>
  bool WaitFor(Pred pred, int milliseconds = 5000) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(milliseconds),
                         [&] { return pred(m_notices); });
  }
  bool WaitDone(int milliseconds = 5000) {
    return WaitFor(
        [](const std::vector<Notice>& v) {
          for (const Notice& n : v)
            if (n.message == WM_DOWNLOAD_DONE) return true;
          return false;
        },
        milliseconds);
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<Notice> m_notices;
};

// A fresh directory under the test's temporary location.
inline std::string MakeScratchDir() {
  std::string tmpl = ::testing::TempDir() + "orvane-net-XXXXXX";
  if (!::mkdtemp(tmpl.data())) return std::string();
  return tmpl;
}

// Points the private temporary directory (through XDG_RUNTIME_DIR) at a
// fresh scratch folder for the object's life.
class ScopedRuntimeDir {
 public:
  ScopedRuntimeDir() : m_dir(MakeScratchDir()) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    m_hadOld = old != nullptr;
    if (old) m_old = old;
    ::setenv("XDG_RUNTIME_DIR", m_dir.c_str(), 1);
  }
  ~ScopedRuntimeDir() {
    if (m_hadOld)
      ::setenv("XDG_RUNTIME_DIR", m_old.c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
  }
  ScopedRuntimeDir(const ScopedRuntimeDir&) = delete;
  ScopedRuntimeDir& operator=(const ScopedRuntimeDir&) = delete;
  const std::string& Path() const { return m_dir; }

 private:
  std::string m_dir, m_old;
  bool m_hadOld = false;
};

}  // namespace orvane::test
