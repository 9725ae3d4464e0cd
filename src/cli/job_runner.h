// The terminal side of an update job, shared by `update` and `watch`: the
// questions on the terminal, the progress line and the verdict.
#pragma once

#include <chrono>
#include <functional>
#include <string>

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

// Runs one job on a worker thread while this thread draws the progress line,
// then prints the verdict. `configure` gives the job its source (a local file,
// or an archive URL with its archive source).
JobResult RunTerminalJob(CDeviceSession& s, const std::function<void(CUpdateJob&)>& configure,
                         const TerminalJobOptions& options);

}  // namespace orvane::cli
