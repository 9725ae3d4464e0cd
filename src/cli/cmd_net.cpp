// Online commands: the version check and downloads with a progress line.
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <optional>

#include "cli/cli.h"
#include "cli/net_check.h"
#include "core/net/http_download.h"
#include "core/net/version_check.h"
#include "core/update/temp_dir.h"

namespace orvane::cli {

std::string ParseNetOptions(const Args& args, bool allowBrand, NetOptions& out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* name, std::optional<std::string>& into) -> std::string {
      const std::string flag = std::string("--") + name;
      if (a == flag) {
        if (i + 1 >= args.size()) return flag + " needs a value";
        into = args[++i];
      } else {
        into = a.substr(flag.size() + 1);
      }
      if (into->empty()) return flag + " needs a value";
      return std::string();
    };
    if (allowBrand && (a == "--brand" || a.rfind("--brand=", 0) == 0)) {
      if (std::string e = value("brand", out.brand); !e.empty()) return e;
    } else if (a == "--version-url" || a.rfind("--version-url=", 0) == 0) {
      if (std::string e = value("version-url", out.versionUrl); !e.empty()) return e;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return "unknown option " + a;
    } else {
      out.positional.push_back(a);
    }
  }
  return std::string();
}

namespace {

// The brand as the device stores it: GBK bytes, zero-filled to a page.
bool BrandFromUtf8(const std::string& utf8, BrandPage& page, std::string& error) {
  iconv_t cd = ::iconv_open("GBK", "UTF-8");
  if (cd == iconv_t(-1)) {
    error = std::string("no UTF-8 to GBK conversion: ") + std::strerror(errno);
    return false;
  }
  page.fill(0);
  std::string in = utf8;
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = reinterpret_cast<char*>(page.data());
  size_t outLeft = page.size() - 1;  // keeps the terminating zero
  const size_t r = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  ::iconv_close(cd);
  if (r == size_t(-1)) {
    error = errno == E2BIG ? "the brand text is longer than a brand page"
                           : "the brand text has characters GBK cannot hold";
    return false;
  }
  return true;
}

}  // namespace

void ProgressLine::Post(unsigned message, uint64_t wParam, int64_t lParam) {
  const auto now = std::chrono::steady_clock::now();
  if (message == WM_DOWNLOAD_SIZE) {
    m_size = wParam;
    m_start = m_last = now;
    m_lastBytes = 0;
  } else if (message == WM_DOWNLOAD_PROGRESS && m_start) {
    // Measured here: the notice's rate stops at 32 bits.
    const uint64_t received = uint64_t(lParam);
    const double seconds = std::chrono::duration<double>(now - m_last).count();
    const double speed = seconds > 0 ? double(received - m_lastBytes) / 1024.0 / seconds : 0.0;
    m_last = now;
    m_lastBytes = received;
    Show(DownloadProgressTextAt(speed, received, m_size));
  } else if (message == WM_DOWNLOAD_DONE && m_finishOnDone && wParam == kDownloadOk) {
    Finish(m_size ? m_size : m_lastBytes);
  }
}

void ProgressLine::Finish(uint64_t received) {
  if (!m_start) return;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - *m_start).count();
  Show(DownloadProgressTextAt(seconds > 0 ? double(received) / 1024.0 / seconds : 0.0, received, m_size));
  if (m_tty) std::cerr << "\n";
}

void ProgressLine::Show(const std::string& text) {
  if (m_tty)
    std::cerr << "\r" << text << "\x1b[K" << std::flush;
  else
    std::cerr << text << "\n";
}

namespace {

uint64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_size) : 0;
}

std::string TrimLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Fetches `url` into `target` synchronously; false (with `error`) unless the
// whole answer arrived.
bool Fetch(const std::string& url, const std::string& target, IDownloadNotify* owner,
           DownloadOutcome& outcome, std::string& error) {
  CHttpDownload download;
  DownloadRequest request;
  request.owner = owner;
  request.url = url;
  request.targetPath = target;
  download.Configure(request);
  const std::string refused = download.Start(true);
  if (!refused.empty()) {
    error = TrimLineEnd(refused);
    return false;
  }
  outcome = download.LastOutcome();
  if (outcome.code != kDownloadOk) {
    error = DescribeDownloadOutcome(outcome);
    return false;
  }
  return true;
}

}  // namespace

int RunCheck(CliContext& ctx, const NetOptions& options, CheckResult& result) {
  if (options.versionUrl) {
    result.versionUrl = *options.versionUrl;
  } else {
    BrandPage brand{};
    std::string error;
    if (options.brand) {
      if (!BrandFromUtf8(*options.brand, brand, error)) return UsageError(error);
    } else if (!ReadConnectedBrand(ctx, brand, &error)) {
      return Failure(error);
    }
    result.versionUrl = GetVersionFileUrl(brand);
    if (result.versionUrl.empty())
      return Failure("no version file belongs to this brand: no online check");
  }
  std::cout << "version_url: " << result.versionUrl << "\n";
  if (IsArchiveUrl(result.versionUrl)) {
    // The URL names the update archive itself.
    result.version.ok = true;
    result.version.netVersion = -1;
    result.version.archiveUrl = result.versionUrl;
    std::cout << "archive_url: " << result.versionUrl << "\n";
    return kExitOk;
  }
  std::string error;
  const std::string target = MakeTempPath(kVersionFileName, &error);
  if (target.empty()) return Failure(error);
  DownloadOutcome outcome;
  if (!Fetch(result.versionUrl, target, nullptr, outcome, error))
    return Failure(std::string(kTextVersionFailed) + " (" + error + ")");
  result.version = ReadVersionFile(target);
  if (!result.version.ok)
    return Failure(std::string(kTextVersionFailed) + " (the version file has fewer than two lines)");
  std::cout << "status: " << TrimLineEnd(result.version.statusText) << "\n"
            << "online_version: " << result.version.netVersion << "\n"
            << "archive_url: " << result.version.archiveUrl << "\n";
  return kExitOk;
}

int CmdCheck(CliContext& ctx, const Args& args) {
  NetOptions options;
  if (std::string e = ParseNetOptions(args, true, options); !e.empty()) return UsageError(e);
  if (!options.positional.empty()) return UsageError("check takes no arguments besides its options");
  CheckResult result;
  return RunCheck(ctx, options, result);
}

int CmdDownload(CliContext& ctx, const Args& args) {
  NetOptions options;
  if (std::string e = ParseNetOptions(args, false, options); !e.empty()) return UsageError(e);
  std::string url, target;
  if (options.versionUrl) {
    if (options.positional.size() > 1) return UsageError("download --version-url takes at most FILE");
    CheckResult check;
    if (int rc = RunCheck(ctx, options, check); rc != kExitOk) return rc;
    if (check.version.archiveUrl.empty()) return Failure(std::string(kTextChooseCorrectFile));
    url = check.version.archiveUrl;
    if (options.positional.empty()) {
      // The update job's own step: into the private temporary directory.
      ProgressLine progress;
      CHttpDownload download;
      ArchivePaths paths;
      const std::string verdict = DownloadArchive(download, &progress, url, paths);
      if (!verdict.empty()) {
        const DownloadOutcome outcome = download.LastOutcome();
        return Failure(TrimLineEnd(verdict) +
                       (outcome.done ? " (" + DescribeDownloadOutcome(outcome) + ")" : ""));
      }
      progress.Finish(FileSize(paths.target));
      std::cout << "file: " << paths.target << "\n";
      return kExitOk;
    }
    target = options.positional[0];
  } else {
    if (options.positional.size() != 2) return UsageError("download needs URL and FILE");
    url = options.positional[0];
    target = options.positional[1];
  }
  ProgressLine progress;
  DownloadOutcome outcome;
  std::string error;
  if (!Fetch(url, target, &progress, outcome, error)) return Failure("download failed: " + error);
  const uint64_t bytes = FileSize(target);
  progress.Finish(bytes);
  std::cout << "file: " << target << "\nbytes: " << bytes << "\n";
  return kExitOk;
}

}  // namespace orvane::cli
