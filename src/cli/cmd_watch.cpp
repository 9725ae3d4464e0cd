// watch: waits for devices, reports each arrival and removal with the
// connect result and, with --update, updates every device that arrives, one
// after the other (the service-desk use). plug/unplug drive the virtual
// device from another process.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "cli/cli.h"
#include "cli/job_runner.h"
#include "core/device/eject.h"
#include "core/session/connection_monitor.h"
#include "sim/virtual_plug.h"

namespace orvane::cli {

namespace {

// The virtual device's plug state is a file; looking at it this often keeps
// a harness waiting briefly.
constexpr std::chrono::milliseconds kVirtualPollPeriod(100);

void Line(const std::string& text) { std::cout << text << std::endl; }

class WatchTarget final : public CSessionConnectionTarget {
 public:
  WatchTarget(CDeviceSession& session, std::function<void()> eject, bool updateEach)
      : CSessionConnectionTarget(session, std::move(eject)), m_updateEach(updateEach) {}

  void OnOpened(const std::string& path) override {
    Line(path.empty() ? "device present" : "device arrived: " + path);
    Line(m_session.ConnectionTitle());
    m_updatePending = m_updateEach;
  }
  void OnOpenFailed(const std::string& path, OpenError error) override {
    Line((path.empty() ? std::string("device present") : "device arrived: " + path) +
         ", but it cannot be opened:" + OpenFailureText(error));
  }
  void OnClosed(const std::string& path, bool duringJob) override {
    if (duringJob) {
      Line("device removed during the update: " + path);
      return;  // the records go when the job has ended
    }
    Line("device removed: " + path);
    Line(m_session.ConnectionTitle());
  }
  void OnArrivalWaits(const std::string& path) override {
    Line("device arrived: " + path + " (waits for the running update to end)");
  }
  void OnConnectResult(bool connected) override {
    if (connected)
      Line("connected: brand \"" + BrandText(m_session) + "\", device_version " +
           std::to_string(m_session.m_nDeviceVersion));
    Line(m_session.ConnectionTitle());
    if (connected && m_updatePending) {
      m_updatePending = false;
      m_jobWanted = true;
    }
  }

  // Whether a connected device waits for its update.
  bool TakeJob() { return std::exchange(m_jobWanted, false); }

 private:
  bool m_updateEach;
  bool m_updatePending = false;  // opened since its last update
  bool m_jobWanted = false;
};

CDeviceEventLoop* g_loop = nullptr;

extern "C" void StopWatching(int) {
  if (g_loop) g_loop->Stop();
}

// Ctrl-C and termination end the loop, so the device is closed and the
// virtual image stored on the way out.
class SignalScope {
 public:
  explicit SignalScope(CDeviceEventLoop& loop) {
    g_loop = &loop;
    struct sigaction sa {};
    sa.sa_handler = StopWatching;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &m_oldInt);
    sigaction(SIGTERM, &sa, &m_oldTerm);
  }
  ~SignalScope() {
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    g_loop = nullptr;
  }

 private:
  struct sigaction m_oldInt {}, m_oldTerm {};
};

void EjectAndReport(const std::string& sysfsRoot) {
  EjectDeviceVolume(sysfsRoot, [](const EjectCandidate& disk) {
    std::string how, error;
    if (EjectDiskSystem(disk, &how, &error))
      Line("ejected: " + disk.disk.devNode + " (" + how + ")");
    else
      Line("eject of " + disk.disk.devNode + " failed: " + error);
  });
}

}  // namespace

int CmdWatch(CliContext& ctx, const Args& args) {
  bool yes = false, online = false;
  std::string file;
  NetOptions net;
  MonitorTimings timings;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--yes" || a == "-y") {
      yes = true;
    } else if (a == "--update") {
      if (i + 1 >= args.size()) return UsageError("--update needs a FILE");
      file = args[++i];
    } else if (a.rfind("--update=", 0) == 0) {
      file = a.substr(std::strlen("--update="));
      if (file.empty()) return UsageError("--update= needs a FILE");
    } else if (a == "--online") {
      online = true;
    } else if (a == "--version-url") {
      if (i + 1 >= args.size()) return UsageError("--version-url needs a URL");
      net.versionUrl = args[++i];
    } else if (a.rfind("--version-url=", 0) == 0) {
      net.versionUrl = a.substr(std::strlen("--version-url="));
    } else if (a.rfind("--connect-delay=", 0) == 0) {
      uint32_t ms = 0;
      if (!ParseNumber(a.substr(std::strlen("--connect-delay=")), ms) || ms > 60000)
        return UsageError("--connect-delay= needs milliseconds (at most 60000)");
      timings.connect = std::chrono::milliseconds(ms);
    } else {
      return UsageError("watch: unknown argument " + a);
    }
  }
  if (online && !file.empty()) return UsageError("watch takes --update FILE or --online, not both");
  if (net.versionUrl && !online) return UsageError("--version-url goes with --online");
  if (!file.empty() && ::access(file.c_str(), R_OK) != 0)
    return Failure("cannot read " + file + ": " + std::strerror(errno));

  CDeviceSession* session = ctx.CreateSession();
  if (!session) return kExitFailure;

  CSteadyClock clock;
  std::unique_ptr<IDeviceEventSource> source;
  std::function<void()> eject;
  const bool virtualDevice = ctx.Options().virtualDevice;
  if (virtualDevice) {
    const std::string image = ctx.VirtualImagePath();
    source = sim::MakeVirtualPlugSource(ctx.SharedVirtualDevice(), image, kVirtualPollPeriod, clock);
    Line("watching the virtual device " + image + " (orvane-cli --virtual-device=" + image +
         " plug|unplug); Ctrl-C ends");
  } else {
    const EventSourceOptions options;
    std::string why;
    source = MakeSystemEventSource(options, clock, &why);
    if (source->Kind() == "udev")
      Line("watching for devices (udev); Ctrl-C ends");
    else
      Line("watching for devices (polling " + options.sysfsRoot + " once a second: " + why + "); Ctrl-C ends");
    eject = [root = options.sysfsRoot] { EjectAndReport(root); };
  }

  WatchTarget target(*session, eject, !file.empty() || online);
  CConnectionMonitor monitor(target, clock, timings);
  CDeviceEventLoop loop(*source, monitor, clock);
  SignalScope signals(loop);
  // The virtual device has no disk to eject.
  monitor.Start(!virtualDevice);
  while (loop.RunOnce(std::chrono::seconds(1))) {
    if (!target.TakeJob()) continue;
    monitor.BeginJob();
    TerminalJobOptions options;
    options.assumeYes = yes;
    // Arrivals and removals are still served while the job runs.
    options.waitTick = [&loop](std::chrono::milliseconds wait) { return loop.RunOnce(wait); };
    // Online: the version file of this device's brand, then its archive.
    CheckResult check;
    ProgressLine downloadLine(true);
    if (online && RunCheck(ctx, net, check) != kExitOk) {
      monitor.EndJob(false);
      continue;
    }
    const JobResult result = RunTerminalJob(
        *session,
        [&](CUpdateJob& job, IUpdateJobObserver& observer) {
          if (!online) {
            job.m_strLocalFile = file;
            return true;
          }
          return ConfigureOnlineJob(job, observer, check, session->m_nDeviceVersion, downloadLine);
        },
        options);
    // Other processes that use the image see the update now, not at exit.
    ctx.SaveVirtualImage();
    monitor.EndJob(result.outcome == JobOutcome::Success);
    if (!session->IsOpen()) Line(session->ConnectionTitle());
  }
  Line("stopped");
  return kExitOk;
}

namespace {

int SetPlugged(CliContext& ctx, const Args& args, bool plugged) {
  const std::string name = plugged ? "plug" : "unplug";
  if (!args.empty()) return UsageError(name + " takes no arguments");
  if (!ctx.Options().virtualDevice) return UsageError(name + " needs --virtual-device");
  std::string error;
  if (!sim::SetImagePlugged(ctx.VirtualImagePath(), plugged, &error)) return Failure(error);
  return kExitOk;
}

}  // namespace

int CmdPlug(CliContext& ctx, const Args& args) { return SetPlugged(ctx, args, true); }

int CmdUnplug(CliContext& ctx, const Args& args) { return SetPlugged(ctx, args, false); }

}  // namespace orvane::cli
