// The connection monitor: what the front ends do when the system reports a
// device arriving or leaving, with the connect and eject timers, and the
// loop that feeds it from an event source.
//
// All of CConnectionMonitor runs on one thread (the GUI thread, the CLI's
// loop). An update job runs on a worker; while it runs the job keeps the
// device: a removal only closes the link under it (the records are reset once
// it has ended), and an arrival waits for its end.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "core/device/device_events.h"
#include "core/session/device_session.h"
#include "core/util/clock.h"

namespace orvane {

struct MonitorTimings {
  std::chrono::milliseconds connect{2000};  // TIMER_CONNECT: open, then the connect sequence
  std::chrono::milliseconds eject{3000};    // TIMER_EJECT: the last volume arrival, then the eject
  // Right after an arrival the node may not be ours to open yet (permissions
  // being set): a few more tries, this far apart.
  std::chrono::milliseconds openRetry{200};
  int openAttempts = 6;
};

// The device side the monitor acts on, and the hooks through which a front
// end shows what happened (called after the state changed).
class IConnectionTarget {
 public:
  virtual ~IConnectionTarget() = default;

  virtual bool IsOpen() = 0;
  // Opens the first device present (start-up) or the interface an arrival names.
  virtual OpenError OpenFirst() = 0;
  virtual OpenError OpenPath(const std::string& path) = 0;
  // Closes the link only; safe while a job uses it.
  virtual void CloseLink() = 0;
  // The records' part of the closed state.
  virtual void ResetRecords() = 0;
  // False when it failed (the device is then closed).
  virtual bool RunConnectSequence() = 0;
  virtual void EjectDeviceVolume() = 0;

  // `path` is empty for the device found at start-up.
  virtual void OnOpened(const std::string& path) { (void)path; }
  // After the last attempt.
  virtual void OnOpenFailed(const std::string& path, OpenError error) { (void)path, (void)error; }
  virtual void OnClosed(const std::string& path, bool duringJob) { (void)path, (void)duringJob; }
  virtual void OnArrivalWaits(const std::string& path) { (void)path; }
  virtual void OnConnectResult(bool connected) { (void)connected; }
};

// The target for a CDeviceSession; front ends derive from it for the hooks.
class CSessionConnectionTarget : public IConnectionTarget {
 public:
  CSessionConnectionTarget(CDeviceSession& session, std::function<void()> eject)
      : m_session(session), m_eject(std::move(eject)) {}

  bool IsOpen() override { return m_session.IsOpen(); }
  OpenError OpenFirst() override {
    return m_session.Open() ? OpenError::None : m_session.Link().LastOpenError();
  }
  OpenError OpenPath(const std::string& path) override {
    return m_session.OpenPath(path) ? OpenError::None : m_session.Link().LastOpenError();
  }
  void CloseLink() override { m_session.Link().Close(); }
  void ResetRecords() override { m_session.ResetRecords(); }
  bool RunConnectSequence() override { return m_session.RunConnectSequence(); }
  void EjectDeviceVolume() override {
    if (m_eject) m_eject();
  }

 protected:
  CDeviceSession& m_session;
  std::function<void()> m_eject;
};

class CConnectionMonitor {
 public:
  CConnectionMonitor(IConnectionTarget& target, const IClock& clock, MonitorTimings timings = {});

  // Start-up: opens the device when it is present and arms the connect
  // sequence; with `ejectNow`, one eject run.
  void Start(bool ejectNow);

  // One notification. Only device-interface records are looked at: the
  // device's HID interface arriving while closed opens it, leaving while
  // open closes it; a volume arriving (re)arms the eject timer; anything
  // else is ignored.
  void OnDeviceChange(const DeviceChangeRecord& record);

  // Shows the state: open arms (restarts) the connect timer, closed resets
  // the records and kills it.
  void RefreshConnectionStatus();

  // Runs the timers that are due by the clock.
  void OnTimer();
  // The earliest armed timer.
  std::optional<MonoTime> NextDeadline() const;

  // A job holds the device from BeginJob to EndJob. EndJob resets the
  // records of a device that left meanwhile, opens one that arrived
  // meanwhile, and with `readAgain` reads a still-open device again.
  void BeginJob();
  void EndJob(bool readAgain);
  bool JobRunning() const { return m_job; }

 private:
  void TryOpen(const std::string& path, int attempt);
  void CancelRetry();

  IConnectionTarget& m_target;
  const IClock& m_clock;
  MonitorTimings m_timings;

  std::optional<MonoTime> m_connectAt;
  std::optional<MonoTime> m_ejectAt;
  std::optional<MonoTime> m_retryAt;
  std::string m_retryPath;
  int m_retryAttempt = 0;

  bool m_job = false;
  bool m_recordsStale = false;     // closed during a job
  bool m_connectAfterJob = false;  // the connect timer came due during a job
  std::optional<std::string> m_arrivalAfterJob;
};

// Feeds a monitor from an event source: waits on the source's descriptor and
// the timers, hands over the records, runs what is due.
class CDeviceEventLoop {
 public:
  CDeviceEventLoop(IDeviceEventSource& source, CConnectionMonitor& monitor, const IClock& clock);
  ~CDeviceEventLoop();
  CDeviceEventLoop(const CDeviceEventLoop&) = delete;
  CDeviceEventLoop& operator=(const CDeviceEventLoop&) = delete;

  // Waits at most `maxWait` (less when a timer or a poll comes due first),
  // then handles what is there. False once Stop() was called.
  bool RunOnce(std::chrono::milliseconds maxWait);
  // Ends the loop; safe from any thread and from a signal handler.
  void Stop();
  bool Stopped() const { return m_stop.load(); }

 private:
  IDeviceEventSource& m_source;
  CConnectionMonitor& m_monitor;
  const IClock& m_clock;
  int m_wake[2] = {-1, -1};
  std::atomic<bool> m_stop{false};
  static_assert(std::atomic<bool>::is_always_lock_free, "Stop() is called from signal handlers");
};

}  // namespace orvane
