// info and update: the connect sequence and the update job from a terminal,
// from a local file or online (version file, archive, unpacking).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/cli.h"
#include "cli/net_check.h"
#include "core/update/archive_source.h"
#include "core/update/info_page.h"
#include "core/update/update_file.h"
#include "core/update/update_job.h"
#include "core/util/gbk.h"

namespace orvane::cli {

namespace {

std::string BrandText(const CDeviceSession& s) {
  const auto& b = s.m_szBrand;
  size_t n = 0;
  while (n < b.size() && b[n] != 0) ++n;
  return GbkToUtf8(std::string_view(reinterpret_cast<const char*>(b.data()), n));
}

// Terminal side of a job: questions on the terminal, the progress line drawn
// by the main thread.
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
    // Phases before sending have no progress line of their own.
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

int CmdInfo(CliContext& ctx, const Args& args) {
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--json")
      json = true;
    else
      return UsageError("info takes only --json");
  }
  CDeviceSession* s = ctx.Connect();
  if (!s) return kExitFailure;

  nlohmann::ordered_json j;
  j["boot_version"] = s->m_nBootVersion;
  j["capacity"] = s->m_nCapacity;
  j["brand"] = BrandText(*s);
  j["settings_generation"] = s->m_nSettingsGen;
  j["settings_format"] = s->m_nSettingsFormat;
  j["model"] = KeyText(DeviceKey(*s));
  j["info_valid"] = s->m_bInfoValid;
  j["device_version"] = s->m_nDeviceVersion;
  if (s->m_bInfoValid) {
    const InfoPage info(s->m_InfoPage);
    j["table_capacity"] = info.Capacity();
    j["reserved_start"] = info.ReservedStart();
    j["reserved_length"] = info.ReservedLength();
    j["area3_start"] = info.Area3Start();
    j["area3_length"] = info.Area3Length();
    j["area2_start"] = info.Area2Start();
    j["area2_length"] = info.Area2Length();
    j["area4_start"] = info.Area4Start();
    j["area4_length"] = info.Area4Length();
    j["area5_start"] = info.Area5Start();
    j["area5_length"] = info.Area5Length();
    j["end"] = info.End();
  }
  if (json) {
    std::cout << j.dump(2) << "\n";
    return kExitOk;
  }
  for (const auto& [key, value] : j.items()) {
    if (value.is_string())
      std::cout << key << ": " << value.get<std::string>() << "\n";
    else if (key.find("_start") != std::string::npos || key.find("_length") != std::string::npos ||
             key == "end" || key == "table_capacity") {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%X", value.get<uint32_t>());
      std::cout << key << ": " << hex << "\n";
    } else {
      std::cout << key << ": " << value.dump() << "\n";
    }
  }
  return kExitOk;
}

int CmdUpdate(CliContext& ctx, const Args& args) {
  bool yes = false, online = false;
  Args rest;
  for (const std::string& a : args) {
    if (a == "--yes" || a == "-y")
      yes = true;
    else if (a == "--online")
      online = true;
    else if (a.size() > 1 && a[0] == '-' && a[1] != '-')
      return UsageError("unknown option " + a);
    else
      rest.push_back(a);
  }
  NetOptions net;
  if (std::string e = ParseNetOptions(rest, false, net); !e.empty()) return UsageError(e);
  if (online && !net.positional.empty()) return UsageError("update --online takes no FILE");
  if (!online && net.versionUrl) return UsageError("--version-url goes with --online");
  if (!online && net.positional.empty()) return UsageError("update needs a FILE or --online");
  if (net.positional.size() > 1) return UsageError("update takes one FILE");
  CDeviceSession* s = ctx.Connect();
  if (!s) return kExitFailure;
  std::cout << "device_version: " << s->m_nDeviceVersion << "\n";

  std::mutex out;
  TerminalJob observer(yes, out);
  CUpdateJob job(*s, observer);
  ProgressLine downloadLine(true);
  if (online) {
    CheckResult check;
    if (int rc = RunCheck(ctx, net, check); rc != kExitOk) return rc;
    // The Send button's question: the device already has this version.
    if (NeedsVersionPrompt(check.version.netVersion, s->m_nDeviceVersion) &&
        !observer.AskYesNo(std::string(kTextAlreadyNewest))) {
      std::cout << kVerdictCancelled << "\n";
      return kExitFailure;
    }
    job.m_strArchiveUrl = check.version.archiveUrl;
    ArchiveSourceOptions options;
    options.downloadNotify = &downloadLine;
    options.observer = &observer;
    job.m_archiveSource = MakeArchiveSource(options);
  } else {
    job.m_strLocalFile = net.positional[0];
  }
  JobResult result;
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
  auto draw = [&](bool final) {
    const uint32_t doneBytes = s->m_progress.m_nBytesDone, total = s->m_progress.m_nBytesTotal;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string text = UpdateProgressText(s->m_progress, saved, observer.Phase());
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
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(166));
    if (!s->m_progress.WantsRefresh()) continue;
    // Without a terminal, a line a second is enough.
    if (!tty && std::chrono::steady_clock::now() - lastPrint < std::chrono::seconds(1)) {
      ++s->m_progress.m_nProgressTicks;
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
  if (result.outcome != JobOutcome::Success) return kExitFailure;
  // Read the device again, as the window does after an update.
  if (s->RunConnectSequence()) std::cout << "device_version: " << s->m_nDeviceVersion << "\n";
  return kExitOk;
}

}  // namespace orvane::cli
