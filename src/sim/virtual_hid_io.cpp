#include "sim/virtual_hid_io.h"

#include <thread>

namespace orvane::sim {

CVirtualHidIO::CVirtualHidIO(std::shared_ptr<CVirtualDevice> device) : m_device(std::move(device)) {}

std::vector<std::string> CVirtualHidIO::EnumerateTargets() {
  if (!m_device->IsPlugged()) return {};
  return {kPath};
}

bool CVirtualHidIO::OpenPath(const std::string& path) {
  m_open = false;
  if (path != kPath || !m_device->IsPlugged()) {
    m_lastOpenError = OpenError::NotFound;
    return false;
  }
  m_generation = m_device->Generation();
  m_open = true;
  m_clockStarted = false;
  m_lastOpenError = OpenError::None;
  std::lock_guard lock(m_cancelMutex);
  m_cancelled = false;
  return true;
}

void CVirtualHidIO::Close() { m_open = false; }

bool CVirtualHidIO::IsOpen() const { return m_open; }

void CVirtualHidIO::Cancel() {
  std::lock_guard lock(m_cancelMutex);
  m_cancelled = true;
  m_cancelCv.notify_all();
}

void CVirtualHidIO::DiscardInput() {
  if (m_open && m_device->Generation() == m_generation) m_device->HostDiscardInput();
}

void CVirtualHidIO::WaitForFrame() {
  const auto latency = m_device->Latency();
  if (latency.count() <= 0) return;
  using namespace std::chrono;
  const auto now = steady_clock::now();
  const auto lat = duration_cast<nanoseconds>(latency);
  // Report k of a burst completes no earlier than start + k * latency, so a
  // late wake-up is made up by the next reports instead of piling up. A host
  // that went quiet for a while starts a new burst rather than catching up.
  if (!m_clockStarted || now - (m_clockStart + m_slot * lat) > kIdleFrames * lat) {
    m_clockStarted = true;
    m_clockStart = now;
    m_slot = 0;
  }
  ++m_slot;
  std::this_thread::sleep_until(m_clockStart + m_slot * lat);
}

void CVirtualHidIO::WaitOutTimeout() {
  std::unique_lock lock(m_cancelMutex);
  m_cancelCv.wait_for(lock, m_timeoutWait, [&] { return m_cancelled; });
  m_cancelled = false;
}

bool CVirtualHidIO::Transfer(bool write, Report& buffer, size_t* count) {
  if (count) *count = 0;
  if (!m_open || m_device->Generation() != m_generation) return false;
  WaitForFrame();
  const WireResult r = write ? m_device->HostWrite(buffer) : m_device->HostRead(buffer);
  if (r == WireResult::Timeout) {
    WaitOutTimeout();
    return false;
  }
  if (r == WireResult::Disconnected) return false;
  if (count) *count = kReportSize;
  return true;
}

bool CVirtualHidIO::ReadReport(Report& buffer, size_t* bytesRead) {
  return Transfer(false, buffer, bytesRead);
}

bool CVirtualHidIO::WriteReport(const Report& buffer, size_t* bytesWritten) {
  Report copy = buffer;
  return Transfer(true, copy, bytesWritten);
}

}  // namespace orvane::sim
