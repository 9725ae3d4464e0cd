// The online check shared by check, download and update --online: options,
// the version-file check and the download progress line.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <unistd.h>

#include "cli/cli.h"
#include "core/net/http_download.h"
#include "core/net/version_check.h"

namespace orvane::cli {

// Options of the online commands; the rest are positional.
struct NetOptions {
  std::optional<std::string> brand;  // UTF-8 as typed
  std::optional<std::string> versionUrl;
  Args positional;
};

// Returns an empty text on success, else the usage error.
std::string ParseNetOptions(const Args& args, bool allowBrand, NetOptions& out);

struct CheckResult {
  std::string versionUrl;
  VersionFile version;
};

// The online check: the brand table (or the URL given), then the version
// file. Prints what it found; returns an exit code.
int RunCheck(CliContext& ctx, const NetOptions& options, CheckResult& result);

// Prints the progress line of a download to stderr: rewritten in place on a
// terminal, one line per second otherwise.
class ProgressLine : public IDownloadNotify {
 public:
  // With `finishOnDone` a successful completion notice prints the final state.
  explicit ProgressLine(bool finishOnDone = false) : m_finishOnDone(finishOnDone) {}
  void Post(unsigned message, uint64_t wParam, int64_t lParam) override;
  // The final state, with the average speed of the whole transfer.
  void Finish(uint64_t received);

 private:
  void Show(const std::string& text);
  bool m_finishOnDone;
  bool m_tty = ::isatty(STDERR_FILENO) == 1;
  uint64_t m_size = 0;
  uint64_t m_lastBytes = 0;
  std::optional<std::chrono::steady_clock::time_point> m_start;
  std::chrono::steady_clock::time_point m_last;
};

}  // namespace orvane::cli
