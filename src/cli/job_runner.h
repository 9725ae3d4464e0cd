// The terminal side of an update job, shared by `update` and `watch`: the
// questions on the terminal, the progress line and the verdict.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "cli/net_check.h"
#include "core/session/device_session.h"
#include "core/update/update_job.h"

namespace orvane::cli {

// The connected device's brand page as text, for display.
std::string BrandText(const CDeviceSession& s);

struct TerminalJobOptions {
  bool assumeYes = false;  // answer every question with yes
  // Called between refreshes of the progress line in place of sleeping for
  // `wait`, so a caller can keep serving its own events while the job runs.
  // Returning false stops the job: no further attempts, the transfer in
  // progress is aborted. Empty: sleep.
  std::function<bool(std::chrono::milliseconds wait)> waitTick;
};

// Gives a job its source (a local file, or an archive URL with its archive
// source); it may ask the terminal observer first. False: the user declined,
// the job does not start.
using JobConfigure = std::function<bool(CUpdateJob& job, IUpdateJobObserver& observer)>;

// Runs one job on a worker thread while this thread draws the progress line,
// then prints the verdict.
JobResult RunTerminalJob(CDeviceSession& s, const JobConfigure& configure, const TerminalJobOptions& options);

}  // namespace orvane::cli

namespace orvane::cli {

// An online job: the archive the version check named, downloaded and unpacked
// by the archive source. Asks first when the device already has the online
// version (the Send button's question); false when the user declines.
bool ConfigureOnlineJob(CUpdateJob& job, IUpdateJobObserver& observer, const CheckResult& check,
                        int32_t deviceVersion, IDownloadNotify& downloadNotices);

}  // namespace orvane::cli
