#include "cli/job_runner.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

#include "core/net/version_check.h"
#include "core/update/archive_source.h"
#include "core/util/gbk.h"

namespace orvane::cli {

namespace {

// Terminal side of a job: questions on the terminal, the progress line drawn
// by the calling thread.
class TerminalJob : public IUpdateJobObserver {
 public:
  TerminalJob(bool assumeYes, std::mutex& out) : m_assumeYes(assumeYes), m_out(out) {}

  bool AskYesNo(const std::string& text) override {
    std::lock_guard lock(m_out);
    if (m_assumeYes) {
      std::cout << "\n" << text << " yes (--yes)\n";
      return true;
    }
    if (!isatty(STDIN_FILENO)) {
      std::cout << "\n" << text << " no (no terminal to ask; use --yes)\n";
      return false;
    }
    std::cout << "\n" << text << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes";
  }
  void OnPhaseText(const std::string& text) override {
    std::lock_guard lock(m_out);
    m_phase = text;
    // Phases before sending (unpacking) have no progress line of their own.
    if (text != kPhaseTextUpdating) std::cout << text << "\n" << std::flush;
  }
  std::string Phase() {
    std::lock_guard lock(m_out);
    return m_phase;
  }
  void OnShowFolder(const std::string& folder) override {
    std::lock_guard lock(m_out);
    m_folder = folder;
  }
  std::string FolderToShow() {
    std::lock_guard lock(m_out);
    return m_folder;
  }

 private:
  bool m_assumeYes;
  std::mutex& m_out;
  std::string m_phase;
  std::string m_folder;
};

}  // namespace

std::string BrandText(const CDeviceSession& s) { return GbkToUtf8(s.BrandText()); }

JobResult RunTerminalJob(CDeviceSession& s, const JobConfigure& configure, const TerminalJobOptions& options) {
  std::mutex out;
  TerminalJob observer(options.assumeYes, out);
  CUpdateJob job(s, observer);
  JobResult result;
  if (!configure(job, observer)) {
    result.outcome = JobOutcome::Cancelled;
    result.verdict = kVerdictCancelled;
    std::cout << result.verdict << "\n";
    return result;
  }
  std::atomic<bool> done{false};
  std::thread worker([&] {
    result = job.RunUpdate();
    done = true;
  });

  // The progress line, refreshed as the window's progress timer does.
  const bool tty = isatty(STDOUT_FILENO);
  const auto start = std::chrono::steady_clock::now();
  std::string saved;
  auto lastPrint = start - std::chrono::seconds(10);
  bool printed = false;
  bool stopping = false;
  auto draw = [&](bool final) {
    const uint32_t doneBytes = s.m_progress.m_nBytesDone, total = s.m_progress.m_nBytesTotal;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string text = UpdateProgressText(s.m_progress, saved, observer.Phase());
    char line[256];
    std::snprintf(line, sizeof line, "  %u/%u bytes  %.1f s  %.1f KB/s", doneBytes, total, elapsed,
                  elapsed > 0 ? doneBytes / 1024.0 / elapsed : 0.0);
    std::lock_guard lock(out);
    if (tty)
      std::cout << "\r" << text << line << "\033[K" << (final ? "\n" : "") << std::flush;
    else
      std::cout << text << line << "\n";
    printed = true;
  };
  constexpr std::chrono::milliseconds kTick(166);
  while (!done) {
    if (stopping || !options.waitTick) {
      std::this_thread::sleep_for(kTick);
    } else if (!options.waitTick(kTick)) {
      stopping = true;
    }
    if (stopping) {
      // As the window does when it closes during a job: no more attempts,
      // and every transfer that starts is cut short.
      job.m_bStopping = true;
      s.Link().m_bAbort = true;
      continue;
    }
    if (!s.m_progress.WantsRefresh()) continue;
    // Without a terminal, a line a second is enough.
    if (!tty && std::chrono::steady_clock::now() - lastPrint < std::chrono::seconds(1)) {
      ++s.m_progress.m_nProgressTicks;
      continue;
    }
    lastPrint = std::chrono::steady_clock::now();
    draw(false);
  }
  worker.join();
  if (result.outcome == JobOutcome::Success) draw(true);
  else if (printed && tty) std::cout << "\n";

  std::cout << result.verdict << "\n";
  if (!result.detail.empty()) std::cout << "detail: " << result.detail << "\n";
  // The window opens this folder in the file manager; here it is named.
  if (!observer.FolderToShow().empty()) std::cout << "folder: " << observer.FolderToShow() << "\n";
  return result;
}

bool ConfigureOnlineJob(CUpdateJob& job, IUpdateJobObserver& observer, const CheckResult& check,
                        int32_t deviceVersion, IDownloadNotify& downloadNotices) {
  if (NeedsVersionPrompt(check.version.netVersion, deviceVersion) &&
      !observer.AskYesNo(std::string(kTextAlreadyNewest)))
    return false;
  job.m_strArchiveUrl = check.version.archiveUrl;
  ArchiveSourceOptions options;
  options.downloadNotify = &downloadNotices;
  options.observer = &observer;
  options.stop = &job.m_bStopping;
  job.m_archiveSource = MakeArchiveSource(options);
  return true;
}

}  // namespace orvane::cli
