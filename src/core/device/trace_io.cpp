#include "core/device/trace_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvane {

std::unique_ptr<CTraceHidIO> CTraceHidIO::Create(std::unique_ptr<CHidIO> inner,
                                                 const std::string& path, std::string* error) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) {
    if (error) *error = "cannot create trace file " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  std::fputs("# orvane hid trace 1\n", f);
  return std::make_unique<CTraceHidIO>(std::move(inner), f);
}

CTraceHidIO::CTraceHidIO(std::unique_ptr<CHidIO> inner, FILE* sink)
    : m_inner(std::move(inner)), m_sink(sink) {}

CTraceHidIO::~CTraceHidIO() {
  m_inner.reset();
  if (m_sink) std::fclose(m_sink);
}

void CTraceHidIO::Line(const char* what, const uint8_t* data, size_t n) {
  std::lock_guard lock(m_mutex);
  const double t =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  std::fprintf(m_sink, "%.6f %s %zu ", t, what, n);
  for (size_t i = 0; i < n; ++i) std::fprintf(m_sink, "%02x", data[i]);
  std::fputc('\n', m_sink);
  std::fflush(m_sink);
}

bool CTraceHidIO::OpenPath(const std::string& path) {
  const bool ok = m_inner->OpenPath(path);
  std::lock_guard lock(m_mutex);
  const double t =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  std::fprintf(m_sink, "%.6f OPEN %s %s\n", t, path.c_str(), ok ? "ok" : "fail");
  std::fflush(m_sink);
  return ok;
}

void CTraceHidIO::Close() {
  const bool wasOpen = m_inner->IsOpen();
  m_inner->Close();
  if (!wasOpen) return;
  std::lock_guard lock(m_mutex);
  const double t =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  std::fprintf(m_sink, "%.6f CLOSE\n", t);
  std::fflush(m_sink);
}

bool CTraceHidIO::ReadReport(Report& buffer, size_t* bytesRead) {
  size_t n = 0;
  const bool ok = m_inner->ReadReport(buffer, &n);
  if (bytesRead) *bytesRead = n;
  Line(ok ? "IN" : "IN-FAIL", buffer.data(), ok ? std::min(n, buffer.size()) : 0);
  return ok;
}

bool CTraceHidIO::WriteReport(const Report& buffer, size_t* bytesWritten) {
  size_t n = 0;
  const bool ok = m_inner->WriteReport(buffer, &n);
  if (bytesWritten) *bytesWritten = n;
  Line(ok ? "OUT" : "OUT-FAIL", buffer.data(), ok ? std::min(n, buffer.size()) : buffer.size());
  return ok;
}

}  // namespace orvane
