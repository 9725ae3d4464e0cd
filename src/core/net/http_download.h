// CHttpDownload: fetches one file over HTTP or HTTPS into a local file and
// reports to an observer: the size when the answer arrives, the percentage and
// the transfer rate while data flows, and one completion notice at the end.
//
// A download runs synchronously on the caller's thread or asynchronously on a
// thread of the downloader's own. Notices are delivered on the downloading
// thread; a GUI marshals them to its own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace orvane {

// Notices of a download (numbers shared with the main window's message table).
inline constexpr unsigned WM_DOWNLOAD_DONE = 0x8051;      // completion code, failure's code
inline constexpr unsigned WM_DOWNLOAD_SIZE = 0x8052;      // content length (0: none), resume offset
inline constexpr unsigned WM_DOWNLOAD_STATUS = 0x8053;    // whole percentage, 0
inline constexpr unsigned WM_DOWNLOAD_PROGRESS = 0x8054;  // KB/s x 100000 (clamped to 32 bits), bytes received

// Completion codes of WM_DOWNLOAD_DONE.
enum DownloadCode : uint32_t {
  kDownloadOk = 0,
  kDownloadInitFailed = 1,     // detail: the libcurl error
  kDownloadSendFailed = 2,     // connecting or sending failed; detail: the libcurl error
  kDownloadReadFailed = 3,     // detail: the libcurl error (receiving) or errno (writing the file)
  kDownloadStatusFailed = 4,   // no readable status line; detail: the libcurl error
  kDownloadBadStatus = 5,      // detail: the HTTP status
  kDownloadAborted = 6,        // detail: 0
};

// Receives the notices of a download. Called on the downloading thread;
// implementations must not call Stop() from inside Post().
class IDownloadNotify {
 public:
  virtual ~IDownloadNotify() = default;
  virtual void Post(unsigned message, uint64_t wParam, int64_t lParam) = 0;
};

struct DownloadRequest {
  IDownloadNotify* owner = nullptr;  // receives every notice; may be null
  std::string url;                   // a missing scheme means http
  std::string targetPath;
  std::string proxyServer;  // used only with access type 2
  std::string proxyUserName;
  std::string proxyPassword;
  std::string serverUserName;  // given to the connection when not empty
  std::string serverPassword;
  int32_t accessType = 0;  // 0 the system's settings (proxy environment), 1 direct, 2 proxyServer
  bool failIfExists = false;
  bool promptProxyCredentials = false;   // ask the credential callback on a 407 answer
  bool promptServerCredentials = false;  // ask the credential callback on a 401 answer
  double maxRate = 0.0;                  // bytes per millisecond; 0 or less: unlimited
  uint32_t resumeOffset = 0;             // bytes of the target to keep and continue after
};

// Asked on a 401 (proxy = false) or 407 (proxy = true) answer when the matching
// prompt flag is set and no user name was given. Returns true with the
// credentials filled in to send the request again, false to give up.
using CredentialPrompt =
    std::function<bool(bool proxy, std::string& userName, std::string& password)>;

struct DownloadOutcome {
  bool done = false;  // a completion notice was posted
  uint32_t code = 0;
  int64_t detail = 0;
  bool fileError = false;  // code 3: detail is errno of writing the target, not a libcurl error
};

// A sentence for a completion (for logs and the command line): what failed,
// with the libcurl error text, the HTTP status or the system error.
std::string DescribeDownloadOutcome(const DownloadOutcome& outcome);

class CHttpDownload {
 public:
  static constexpr int kStopWaitMs = 4000;

  CHttpDownload();
  ~CHttpDownload();
  CHttpDownload(const CHttpDownload&) = delete;
  CHttpDownload& operator=(const CHttpDownload&) = delete;

  // Takes the request for the next Start. A download still running is stopped first.
  void Configure(const DownloadRequest& request);
  // Empty text when the download was started (asynchronous) or has run to its
  // end (synchronous); otherwise why it did not start, and nothing is posted.
  std::string Start(bool synchronous);
  // Ends a running download (abort, wait up to kStopWaitMs) and releases it.
  // Safe at any time from the owner's thread, also when nothing runs. A
  // download that does not end within the wait is left to finish on its own
  // and posts nothing more.
  void Stop();

  // Sent as the User-Agent; "Update" when empty.
  void SetUserAgent(std::string agent) { m_userAgent = std::move(agent); }
  // Takes the place of the system's credential dialog; called on the downloading thread.
  void SetCredentialPrompt(CredentialPrompt prompt) { m_prompt = std::move(prompt); }
  // Shortens the wait of Stop (tests).
  void SetStopWait(int milliseconds) { m_stopWaitMs = milliseconds; }
  // A flag another thread raises to end the download as Stop would, for a
  // synchronous download run inside a job that its front end is closing.
  // Looked at a few times a second; null: none.
  void SetStopFlag(const std::atomic<bool>* stop) { m_stopFlag = stop; }

  bool IsFinished() const;
  // The completion of the last download, as posted. A synchronous Start's
  // caller reads it right after Start returns.
  DownloadOutcome LastOutcome() const;

  // Parsed parts of the URL of the last Start that got past parsing.
  const std::string& Scheme() const { return m_scheme; }
  const std::string& ServerName() const { return m_serverName; }
  const std::string& ObjectPath() const { return m_objectPath; }
  int Port() const { return m_port; }

  struct Job;  // one download's state, shared with its thread

 private:
  DownloadRequest m_request;
  std::string m_userAgent;
  CredentialPrompt m_prompt;
  int m_stopWaitMs = kStopWaitMs;
  const std::atomic<bool>* m_stopFlag = nullptr;
  std::string m_scheme, m_serverName, m_objectPath;
  int m_port = 0;
  std::shared_ptr<Job> m_job;  // the current or last download
  std::thread m_thread;        // the download thread, when one was started
};

}  // namespace orvane
