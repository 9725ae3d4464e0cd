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

void CVirtualHidIO::WaitForFrame() {
  const auto latency = m_device->Latency();
  if (latency.count() <= 0) return;
  using namespace std::chrono;
  const auto now = steady_clock::now();
  if (!m_clockStarted) {
    m_clockStarted = true;
    m_clockStart = now;
    m_slot = 0;
  }
  const int64_t lat = duration_cast<nanoseconds>(latency).count();
  const int64_t elapsed = duration_cast<nanoseconds>(now - m_clockStart).count();
  const int64_t dueSlot = (elapsed + lat - 1) / lat;  // first frame boundary not before now
  m_slot = std::max(m_slot + 1, dueSlot);
  std::this_thread::sleep_until(m_clockStart + nanoseconds(m_slot * lat));
}

void CVirtualHidIO::WaitOutTimeout() {
  std::unique_lock lock(m_cancelMutex);
  m_cancelCv.wait_for(lock, std::chrono::milliseconds(kTransferTimeoutMs), [&] { return m_cancelled; });
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
