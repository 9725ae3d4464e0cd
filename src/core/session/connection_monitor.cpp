#include "core/session/connection_monitor.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orvane {

CConnectionMonitor::CConnectionMonitor(IConnectionTarget& target, const IClock& clock, MonitorTimings timings)
    : m_target(target), m_clock(clock), m_timings(timings) {}

void CConnectionMonitor::Start(bool ejectNow) {
  const OpenError error = m_target.OpenFirst();
  if (error == OpenError::None) m_target.OnOpened({});
  RefreshConnectionStatus();
  // A device we may not open is worth saying; an absent one is the usual case.
  if (error == OpenError::PermissionDenied) m_target.OnOpenFailed({}, error);
  if (ejectNow) m_target.EjectDeviceVolume();
}

void CConnectionMonitor::OnDeviceChange(const DeviceChangeRecord& record) {
  if (record.deviceType != DBT_DEVTYP_DEVICEINTERFACE) return;
  const int position = ClassifyInterfaceGuid(record.classGuid);
  if (record.eventType == DBT_DEVICEARRIVAL) {
    if (position == kGuidHid && record.isTarget) {
      if (m_target.IsOpen()) return;
      if (m_job) {
        // The job keeps the device until it ends; then this one is opened.
        m_arrivalAfterJob = record.path;
        m_target.OnArrivalWaits(record.path);
        return;
      }
      TryOpen(record.path, 1);
    } else if (position == kGuidDiskVolume) {
      m_ejectAt = m_clock.Now() + m_timings.eject;
    }
  } else if (record.eventType == DBT_DEVICEREMOVECOMPLETE) {
    if (position != kGuidHid || !record.isTarget) return;
    if (m_retryAt && m_retryPath == record.path) CancelRetry();
    if (m_arrivalAfterJob == record.path) m_arrivalAfterJob.reset();
    if (!m_target.IsOpen()) return;
    m_target.CloseLink();
    if (m_job) {
      m_recordsStale = true;
      m_target.OnClosed(record.path, true);
      return;
    }
    RefreshConnectionStatus();
    m_target.OnClosed(record.path, false);
  }
}

void CConnectionMonitor::TryOpen(const std::string& path, int attempt) {
  CancelRetry();
  const OpenError error = m_target.OpenPath(path);
  if (error == OpenError::None) {
    m_target.OnOpened(path);
    RefreshConnectionStatus();
    return;
  }
  if (attempt < m_timings.openAttempts) {
    m_retryPath = path;
    m_retryAttempt = attempt + 1;
    m_retryAt = m_clock.Now() + m_timings.openRetry;
    return;
  }
  m_target.OnOpenFailed(path, error);
}

void CConnectionMonitor::CancelRetry() {
  m_retryAt.reset();
  m_retryPath.clear();
  m_retryAttempt = 0;
}

void CConnectionMonitor::RefreshConnectionStatus() {
  if (m_target.IsOpen()) {
    m_connectAt = m_clock.Now() + m_timings.connect;
    return;
  }
  m_connectAt.reset();
  if (m_job)
    m_recordsStale = true;  // the job still reads them
  else
    m_target.ResetRecords();
}

void CConnectionMonitor::OnTimer() {
  const MonoTime now = m_clock.Now();
  if (m_ejectAt && now >= *m_ejectAt) {
    m_ejectAt.reset();
    m_target.EjectDeviceVolume();
  }
  if (m_retryAt && now >= *m_retryAt) {
    const std::string path = m_retryPath;
    const int attempt = m_retryAttempt;
    CancelRetry();
    if (m_job)
      m_arrivalAfterJob = path;
    else if (!m_target.IsOpen())
      TryOpen(path, attempt);
  }
  if (m_connectAt && now >= *m_connectAt) {
    m_connectAt.reset();
    if (m_job) {
      // The sequence and the job must not share the link; it runs after.
      m_connectAfterJob = true;
    } else if (m_target.IsOpen()) {
      m_target.OnConnectResult(m_target.RunConnectSequence());
    }
  }
}

std::optional<MonoTime> CConnectionMonitor::NextDeadline() const {
  std::optional<MonoTime> next;
  for (const auto& t : {m_connectAt, m_ejectAt, m_retryAt})
    if (t && (!next || *t < *next)) next = t;
  return next;
}

void CConnectionMonitor::BeginJob() { m_job = true; }

void CConnectionMonitor::EndJob(bool readAgain) {
  m_job = false;
  const bool connectDue = m_connectAfterJob;
  m_connectAfterJob = false;
  if (m_recordsStale && !m_target.IsOpen()) {
    m_target.ResetRecords();
  }
  m_recordsStale = false;
  if (m_arrivalAfterJob && !m_target.IsOpen()) {
    const std::string path = *m_arrivalAfterJob;
    m_arrivalAfterJob.reset();
    TryOpen(path, 1);
    return;
  }
  m_arrivalAfterJob.reset();
  if (m_target.IsOpen() && (readAgain || connectDue)) RefreshConnectionStatus();
}

CDeviceEventLoop::CDeviceEventLoop(IDeviceEventSource& source, CConnectionMonitor& monitor, const IClock& clock)
    : m_source(source), m_monitor(monitor), m_clock(clock) {
  if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) m_wake[0] = m_wake[1] = -1;
}

CDeviceEventLoop::~CDeviceEventLoop() {
  for (int fd : m_wake)
    if (fd >= 0) ::close(fd);
}

void CDeviceEventLoop::Stop() {
  m_stop = true;
  if (m_wake[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &byte, 1);  // a full pipe wakes the loop as well
  }
}

bool CDeviceEventLoop::RunOnce(std::chrono::milliseconds maxWait) {
  if (m_stop) return false;
  const MonoTime now = m_clock.Now();
  MonoTime until = now + std::max(maxWait, std::chrono::milliseconds(0));
  if (auto t = m_monitor.NextDeadline()) until = std::min(until, *t);
  if (auto t = m_source.NextPoll()) until = std::min(until, *t);
  // Round up, so a timer is not found a little early and waited for again.
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::max(until - now, MonoClock::duration(0)));

  pollfd fds[2];
  nfds_t n = 0;
  if (m_wake[0] >= 0) fds[n++] = {m_wake[0], POLLIN, 0};
  if (m_source.Fd() >= 0) fds[n++] = {m_source.Fd(), POLLIN, 0};
  if (::poll(fds, n, int(std::min<int64_t>(wait.count(), 60000))) > 0 && m_wake[0] >= 0 &&
      (fds[0].revents & POLLIN)) {
    char drain[64];
    while (::read(m_wake[0], drain, sizeof drain) > 0) {
    }
  }
  if (m_stop) return false;
  for (const DeviceChangeRecord& record : m_source.Collect()) m_monitor.OnDeviceChange(record);
  m_monitor.OnTimer();
  return !m_stop;
}

}  // namespace orvane
