#include "core/net/http_download.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>

namespace orvane {

namespace {

constexpr const char* kDefaultUserAgent = "Update";
// Larger pieces than a page: one file write per piece, and the fewer calls the
// closer we stay to the speed of the connection.
constexpr long kReceiveBufferSize = 256 * 1024;
constexpr int kMaxCredentialPrompts = 3;
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kStallSeconds = 60;  // no byte at all for this long ends the transfer

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

uint64_t NowMs() {
  return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count());
}

template <typename... A>
std::string Format(const char* format, A... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  if (n <= 0) return std::string();
  std::string out(size_t(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, args...);
  out.resize(size_t(n));
  return out;
}

struct ParsedUrl {
  std::string url, scheme, host, path;
  int port = 0;
};

bool ParseUrl(const std::string& text, ParsedUrl& out) {
  CURLU* h = curl_url();
  if (!h) return false;
  bool ok = curl_url_set(h, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK;
  auto get = [&](CURLUPart part, unsigned flags, std::string& into) {
    char* s = nullptr;
    if (curl_url_get(h, part, &s, flags) == CURLUE_OK && s) into = s;
    curl_free(s);
  };
  if (ok) {
    get(CURLUPART_URL, 0, out.url);
    get(CURLUPART_SCHEME, 0, out.scheme);
    get(CURLUPART_HOST, 0, out.host);
    get(CURLUPART_PATH, 0, out.path);
    std::string query, port;
    get(CURLUPART_QUERY, 0, query);
    if (!query.empty()) out.path += "?" + query;
    get(CURLUPART_PORT, CURLU_DEFAULT_PORT, port);
    out.port = port.empty() ? 0 : std::atoi(port.c_str());
    ok = !out.url.empty() && !out.host.empty();
  }
  curl_url_cleanup(h);
  return ok;
}

bool WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(fd, data, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    length -= size_t(n);
  }
  return true;
}

}  // namespace

// One download: the request as configured, the open target, the transfer
// state of the downloading thread and the flags it shares with the owner.
// The thread holds it too, so a download left behind by Stop never touches a
// destroyed downloader.
struct CHttpDownload::Job {
  DownloadRequest request;
  std::string url;
  std::string userAgent;
  CredentialPrompt prompt;
  int fd = -1;

  std::atomic<bool> abort{false};
  std::atomic<bool> finished{false};
  const std::atomic<bool>* stopFlag = nullptr;  // the owner's closing flag, polled

  // Turns a raised owner flag into an abort; true when the download is to end.
  bool Aborting() {
    if (stopFlag && stopFlag->load()) abort = true;
    return abort.load();
  }

  // Notices go out under this lock; once muted nothing more reaches the owner.
  mutable std::mutex postLock;
  bool muted = false;
  DownloadOutcome outcome;

  std::mutex handleLock;  // guards `multi` against Stop's wake-up
  CURLM* multi = nullptr;

  std::mutex waitLock;  // rate-limit pauses, cut short by Stop
  std::condition_variable waitCv;

  std::mutex endLock;
  std::condition_variable endCv;
  bool ended = false;

  // Transfer state, used only by the downloading thread.
  CURL* easy = nullptr;
  bool accepted = false;    // the status was accepted and the size posted
  bool discarding = false;  // a 401/407 body being drained
  int writeErrno = 0;
  uint64_t offset = 0;  // bytes kept in front of this download's data
  uint64_t contentLength = 0;
  bool lengthKnown = false;
  uint64_t startTick = 0, lastTick = 0;
  uint64_t received = 0, lastBytes = 0;
  uint32_t lastPercent = 0;

  ~Job() { CloseTarget(); }

  void Download();
  void OnError(int32_t stage, uint32_t code, bool fileError = false);
  void OnProgress();
  void Finish(uint32_t code);
  bool Accept();
  bool SetOptions(CURLcode& rc);
  CURLcode Transfer();

  void Post(unsigned message, uint64_t wParam, int64_t lParam) {
    std::lock_guard<std::mutex> lock(postLock);
    if (!muted && request.owner) request.owner->Post(message, wParam, lParam);
  }
  void PostDone(uint32_t code, int64_t detail, bool fileError = false) {
    std::lock_guard<std::mutex> lock(postLock);
    outcome = DownloadOutcome{true, code, detail, fileError};
    if (!muted && request.owner) request.owner->Post(WM_DOWNLOAD_DONE, code, detail);
  }
  void Mute() {
    std::lock_guard<std::mutex> lock(postLock);
    muted = true;
  }
  void Wake() {
    {
      std::lock_guard<std::mutex> lock(handleLock);
      if (multi) curl_multi_wakeup(multi);
    }
    std::lock_guard<std::mutex> lock(waitLock);
    waitCv.notify_all();
  }
  void Pause(uint64_t milliseconds) {
    std::unique_lock<std::mutex> lock(waitLock);
    // In slices, so a raised owner flag ends the pause soon too.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!Aborting() && std::chrono::steady_clock::now() < until)
      waitCv.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                std::chrono::milliseconds(100), until - std::chrono::steady_clock::now()));
  }
  void MarkEnded() {
    std::lock_guard<std::mutex> lock(endLock);
    ended = true;
    endCv.notify_all();
  }
  bool WaitEnded(int milliseconds) {
    std::unique_lock<std::mutex> lock(endLock);
    return endCv.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return ended; });
  }
  bool Ended() {
    std::lock_guard<std::mutex> lock(endLock);
    return ended;
  }
  void CloseTarget() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  static size_t WriteCallback(char* data, size_t size, size_t count, void* user);
};

// --- the downloading side ---

void CHttpDownload::Job::Finish(uint32_t code) {
  CloseTarget();
  finished = true;
  PostDone(code, 0);
}

void CHttpDownload::Job::OnError(int32_t stage, uint32_t code, bool fileError) {
  CloseTarget();
  ::unlink(request.targetPath.c_str());
  finished = true;
  PostDone(uint32_t(stage), int64_t(code), fileError);
}

void CHttpDownload::Job::OnProgress() {
  if (lengthKnown) {
    const double whole = double(offset + contentLength);
    double percent = whole > 0 ? double(offset + received) * 100.0 / whole : 100.0;
    percent = std::clamp(percent, 0.0, 100.0);
    const uint32_t p = uint32_t(percent);
    if (p != lastPercent) {
      Post(WM_DOWNLOAD_STATUS, p, 0);
      lastPercent = p;
    }
  }
  const uint64_t now = NowMs();
  if (now - lastTick <= 1000) return;
  const double rate = (double(received - lastBytes) / 1024.0) / (double(now - lastTick) / 1000.0);
  lastTick = now;
  lastBytes = received;
  // The notice carries 32 bits: a faster rate is shown as the largest one, not wrapped.
  const double scaled = std::clamp(rate * 100000.0, 0.0, double(UINT32_MAX));
  Post(WM_DOWNLOAD_PROGRESS, uint64_t(scaled), int64_t(received));
}

bool CHttpDownload::Job::Accept() {
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  if (status == 200 && offset > 0) {
    // The server ignored the range and sends the whole file: start it again
    // from the first byte rather than appending it after the kept part.
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
      writeErrno = errno;
      return false;
    }
    offset = 0;
  }
  curl_off_t length = -1;
  curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  lengthKnown = length >= 0;
  contentLength = lengthKnown ? uint64_t(length) : 0;
  accepted = true;
  Post(WM_DOWNLOAD_SIZE, contentLength, int64_t(offset));
  startTick = lastTick = NowMs();
  received = lastBytes = 0;
  lastPercent = 0;
  return true;
}

size_t CHttpDownload::Job::WriteCallback(char* data, size_t size, size_t count, void* user) {
  Job* job = static_cast<Job*>(user);
  const size_t length = size * count;
  if (job->abort) return 0;
  if (!job->accepted && !job->discarding) {
    long status = 0;
    curl_easy_getinfo(job->easy, CURLINFO_RESPONSE_CODE, &status);
    if (status == 401 || status == 407)
      job->discarding = true;
    else if (status != 200 && status != 206)
      return 0;  // refused; the status is reported once the transfer has ended
    else if (!job->Accept())
      return 0;
  }
  if (job->discarding) return length;
  if (!WriteAll(job->fd, data, length)) {
    job->writeErrno = errno;
    return 0;
  }
  if (job->request.maxRate > 0.0) {
    // Ahead of the allowed average (this piece not yet counted): wait until
    // the bytes so far would have taken their time at the maximum rate.
    const uint64_t elapsed = NowMs() - job->startTick;
    const double due = double(job->received) / job->request.maxRate;
    if (due > double(elapsed)) job->Pause(uint64_t(due - double(elapsed)));
    if (job->abort) return 0;
  }
  job->received += length;
  job->OnProgress();
  return length;
}

bool CHttpDownload::Job::SetOptions(CURLcode& rc) {
  const DownloadRequest& r = request;
  auto set = [&](CURLoption option, auto value) {
    if (rc == CURLE_OK) rc = curl_easy_setopt(easy, option, value);
  };
  rc = CURLE_OK;
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, 10L);
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_USERAGENT, userAgent.c_str());
  set(CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
  // An update must not come from whoever sits on the network path.
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  // Under a rate limit, pieces of about an eighth of a second keep the pace even.
  long buffer = kReceiveBufferSize;
  if (r.maxRate > 0.0) buffer = long(std::clamp(r.maxRate * 1000.0 / 8.0, 1024.0, double(buffer)));
  set(CURLOPT_BUFFERSIZE, buffer);
  set(CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  set(CURLOPT_LOW_SPEED_LIMIT, 1L);
  set(CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  set(CURLOPT_WRITEFUNCTION, &Job::WriteCallback);
  set(CURLOPT_WRITEDATA, static_cast<void*>(this));
  if (r.resumeOffset != 0) {
    const std::string range = std::to_string(r.resumeOffset) + "-";
    set(CURLOPT_RANGE, range.c_str());  // the option copies the text
  }
  if (r.accessType == 1) {
    set(CURLOPT_PROXY, "");  // direct, whatever the environment says
  } else if (r.accessType == 2) {
    set(CURLOPT_PROXY, r.proxyServer.c_str());
    set(CURLOPT_NOPROXY, "");
  }
  if (!r.proxyUserName.empty()) {
    set(CURLOPT_PROXYUSERNAME, r.proxyUserName.c_str());
    set(CURLOPT_PROXYPASSWORD, r.proxyPassword.c_str());
    set(CURLOPT_PROXYAUTH, long(CURLAUTH_ANY));
  }
  if (!r.serverUserName.empty()) {
    set(CURLOPT_USERNAME, r.serverUserName.c_str());
    set(CURLOPT_PASSWORD, r.serverPassword.c_str());
    set(CURLOPT_HTTPAUTH, long(CURLAUTH_ANY));
  }
  return rc == CURLE_OK;
}

CURLcode CHttpDownload::Job::Transfer() {
  accepted = false;
  discarding = false;
  writeErrno = 0;
  offset = request.resumeOffset;
  if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode result = CURLE_OK;
  int running = 1;
  for (;;) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      result = CURLE_RECV_ERROR;
      break;
    }
    if (Aborting() || running == 0) break;
    // Stop wakes the poll, so an abort is seen at once even on a silent
    // connection; an owner's flag is looked at every 100 ms.
    if (curl_multi_poll(multi, nullptr, 0, stopFlag ? 100 : 1000, nullptr) != CURLM_OK) {
      result = CURLE_RECV_ERROR;
      break;
    }
  }
  int queued = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi, &queued))
    if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) result = msg->data.result;
  curl_multi_remove_handle(multi, easy);
  return result;
}

void CHttpDownload::Job::Download() {
  easy = curl_easy_init();
  CURLM* m = curl_multi_init();
  struct curl_slist* headers = nullptr;
  auto release = [&] {
    {
      std::lock_guard<std::mutex> lock(handleLock);
      multi = nullptr;
    }
    if (m) curl_multi_cleanup(m);
    if (easy) curl_easy_cleanup(easy);
    easy = nullptr;
    curl_slist_free_all(headers);
  };
  if (!easy || !m) {
    OnError(1, CURLE_FAILED_INIT);
    release();
    return;
  }
  if (request.accessType < 0 || request.accessType > 2) {
    OnError(1, CURLE_BAD_FUNCTION_ARGUMENT);
    release();
    return;
  }
  CURLcode rc = CURLE_OK;
  // Always the server's copy, never a cache's.
  headers = curl_slist_append(headers, "Pragma: no-cache");
  headers = curl_slist_append(headers, "Cache-Control: no-cache");
  if (!headers || !SetOptions(rc) || curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers) != CURLE_OK) {
    OnError(1, rc != CURLE_OK ? rc : CURLE_OUT_OF_MEMORY);
    release();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(handleLock);
    multi = m;
  }

  for (int prompts = 0;; ++prompts) {
    if (abort) break;
    const CURLcode result = Transfer();
    if (abort) break;
    if (writeErrno != 0) {
      OnError(3, uint32_t(writeErrno), true);
      release();
      return;
    }
    if (accepted) {
      if (result != CURLE_OK)
        OnError(3, result);
      else
        Finish(kDownloadOk);
      release();
      return;
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status == 0) {
      OnError(result == CURLE_WEIRD_SERVER_REPLY ? 4 : 2, result != CURLE_OK ? result : CURLE_GOT_NOTHING);
      release();
      return;
    }
    if (status == 401 || status == 407) {
      const bool proxy = status == 407;
      const bool ask = proxy ? (request.proxyUserName.empty() && request.promptProxyCredentials)
                             : (request.serverUserName.empty() && request.promptServerCredentials);
      std::string user, password;
      if (ask && prompt && prompts < kMaxCredentialPrompts && prompt(proxy, user, password) &&
          !abort) {
        // Send again with what the user gave.
        const bool set = proxy
            ? curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, user.c_str()) == CURLE_OK &&
                  curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, password.c_str()) == CURLE_OK &&
                  curl_easy_setopt(easy, CURLOPT_PROXYAUTH, long(CURLAUTH_ANY)) == CURLE_OK
            : curl_easy_setopt(easy, CURLOPT_USERNAME, user.c_str()) == CURLE_OK &&
                  curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str()) == CURLE_OK &&
                  curl_easy_setopt(easy, CURLOPT_HTTPAUTH, long(CURLAUTH_ANY)) == CURLE_OK;
        if (set) continue;
      }
      if (abort) break;
      // Unanswered credentials are a refusal, not an empty success.
      OnError(5, uint32_t(status));
      release();
      return;
    }
    if (status != 200 && status != 206) {
      OnError(5, uint32_t(status));
      release();
      return;
    }
    // Accepted status without a single body byte.
    if (!Accept()) {
      OnError(3, uint32_t(writeErrno), true);
    } else if (result != CURLE_OK) {
      OnError(3, result);
    } else {
      Finish(kDownloadOk);
    }
    release();
    return;
  }
  // Aborted: the bytes written so far stay.
  Finish(kDownloadAborted);
  release();
}

std::string DescribeDownloadOutcome(const DownloadOutcome& outcome) {
  if (!outcome.done) return "no download has ended";
  auto curlText = [&] {
    return std::string(curl_easy_strerror(CURLcode(outcome.detail))) + " (libcurl error " +
           std::to_string(outcome.detail) + ")";
  };
  switch (outcome.code) {
    case kDownloadOk: return "downloaded";
    case kDownloadInitFailed: return "the HTTP client could not be set up: " + curlText();
    case kDownloadSendFailed: return "connecting or sending the request failed: " + curlText();
    case kDownloadReadFailed:
      if (outcome.fileError)
        return "writing the file failed: " + std::string(std::strerror(int(outcome.detail)));
      return "receiving the answer failed: " + curlText();
    case kDownloadStatusFailed: return "the answer had no readable status: " + curlText();
    case kDownloadBadStatus: return "the server answered with status " + std::to_string(outcome.detail);
    case kDownloadAborted: return "the download was stopped";
    default: return "unknown completion code " + std::to_string(outcome.code);
  }
}

// --- the owner's side ---

CHttpDownload::CHttpDownload() { GlobalInit(); }

CHttpDownload::~CHttpDownload() { Stop(); }

void CHttpDownload::Configure(const DownloadRequest& request) {
  if (m_job || m_thread.joinable()) Stop();
  m_request = request;
  m_scheme.clear();
  m_serverName.clear();
  m_objectPath.clear();
  m_port = 0;
  m_job.reset();
}

std::string CHttpDownload::Start(bool synchronous) {
  if (m_thread.joinable() || (m_job && !m_job->Ended())) Stop();

  std::string url = m_request.url;
  ParsedUrl parsed;
  if (!ParseUrl(url, parsed)) {
    url = "http://" + url;
    if (!ParseUrl(url, parsed)) return Format("Failed to parse the URL: %s\n", url.c_str());
  }
  m_scheme = parsed.scheme;
  m_serverName = parsed.host;
  m_objectPath = parsed.path;
  m_port = parsed.port;

  const std::string& target = m_request.targetPath;
  const uint32_t offset = m_request.resumeOffset;
  struct stat st {};
  const bool exists = ::lstat(target.c_str(), &st) == 0;
  if (exists && offset == 0 && m_request.failIfExists)
    return Format("The file '%s' already exists.", target.c_str());

  // Never through a symlink planted at the target's name.
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW;
  if (offset == 0) flags |= O_TRUNC;
  const int fd = ::open(target.c_str(), flags, 0644);
  if (fd < 0)
    return Format("An error occured while opening the file to be downloaded, Error:%d", errno);
  if (offset != 0) {
    int cause = 0;
    if (::fstat(fd, &st) != 0)
      cause = errno;
    else if (uint64_t(st.st_size) < offset)
      cause = EINVAL;  // resuming past the end would leave a hole of zeros in the file
    else if (::ftruncate(fd, off_t(offset)) != 0 || ::lseek(fd, off_t(offset), SEEK_SET) < 0)
      cause = errno;
    if (cause != 0) {
      ::close(fd);
      return Format(
          "An error occurred while seeking to the end of the file to be downloaded, Error:%d",
          cause);
    }
  }

  auto job = std::make_shared<Job>();
  job->request = m_request;
  job->url = parsed.url;
  job->userAgent = m_userAgent.empty() ? kDefaultUserAgent : m_userAgent;
  job->prompt = m_prompt;
  job->stopFlag = m_stopFlag;
  job->fd = fd;
  m_job = job;

  if (synchronous) {
    job->Download();
    job->MarkEnded();
    return std::string();
  }
  try {
    m_thread = std::thread([job] {
      job->Download();
      job->MarkEnded();
    });
  } catch (const std::system_error&) {
    job->CloseTarget();
    m_job.reset();
    return "Failed to create download thread, dialog is aborting\n";
  }
  return std::string();
}

void CHttpDownload::Stop() {
  std::shared_ptr<Job> job = m_job;
  if (job) {
    if (!job->finished) job->abort = true;
    job->Wake();
  }
  if (m_thread.joinable()) {
    if (m_thread.get_id() == std::this_thread::get_id()) {
      m_thread.detach();  // called from a notice of the download itself
    } else if (!job || job->WaitEnded(m_stopWaitMs)) {
      m_thread.join();
    } else {
      // Still busy (a file system or a prompt that does not return): leave it
      // to end on its own with its own state, and take nothing more from it.
      job->Mute();
      m_thread.detach();
    }
  }
}

bool CHttpDownload::IsFinished() const { return m_job && m_job->finished.load(); }

DownloadOutcome CHttpDownload::LastOutcome() const {
  if (!m_job) return DownloadOutcome{};
  std::lock_guard<std::mutex> lock(m_job->postLock);
  return m_job->outcome;
}

}  // namespace orvane
