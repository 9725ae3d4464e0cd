#include "core/device/replay_io.h"

#include <algorithm>
#include <sstream>

namespace orvane {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(const std::string& hex, size_t count, std::vector<uint8_t>& out) {
  if (hex.size() != count * 2 || count > kReportSize) return false;
  out.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = uint8_t(hi << 4 | lo);
  }
  return true;
}

}  // namespace

bool ParseTrace(const std::string& text, std::vector<TraceEvent>& events, std::string* error) {
  events.clear();
  std::istringstream in(text);
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string time, kind;
    fields >> time >> kind;
    TraceEvent e{TraceEvent::Kind::Close, {}};
    bool ok = !time.empty();
    if (kind == "OUT" || kind == "OUT-FAIL" || kind == "IN" || kind == "IN-FAIL") {
      size_t count = 0;
      std::string hex;
      fields >> count;
      ok = ok && !fields.fail();
      fields >> hex;  // absent for a failed read of 0 bytes
      e.kind = kind == "OUT"        ? TraceEvent::Kind::Out
               : kind == "OUT-FAIL" ? TraceEvent::Kind::OutFail
               : kind == "IN"       ? TraceEvent::Kind::In
                                    : TraceEvent::Kind::InFail;
      ok = ok && ParseHex(hex, count, e.bytes);
    } else if (kind == "OPEN") {
      std::string path, result;
      fields >> path >> result;
      e.kind = result == "ok" ? TraceEvent::Kind::Open : TraceEvent::Kind::OpenFail;
      e.bytes.assign(path.begin(), path.end());
      ok = ok && (result == "ok" || result == "fail");
    } else if (kind == "CLOSE") {
      e.kind = TraceEvent::Kind::Close;
    } else {
      ok = false;
    }
    if (!ok) {
      if (error) *error = "trace line " + std::to_string(number) + " is malformed";
      return false;
    }
    events.push_back(std::move(e));
  }
  return true;
}

CReplayHidIO::CReplayHidIO(std::vector<TraceEvent> events) : m_events(std::move(events)) {}

std::vector<std::string> CReplayHidIO::EnumerateTargets() {
  for (const TraceEvent& e : m_events)
    if (e.kind == TraceEvent::Kind::Open) return {std::string(e.bytes.begin(), e.bytes.end())};
  return {};
}

bool CReplayHidIO::OpenPath(const std::string& path) {
  while (m_next < m_events.size()) {
    const TraceEvent& e = m_events[m_next];
    if (e.kind != TraceEvent::Kind::Open && e.kind != TraceEvent::Kind::OpenFail) break;
    ++m_next;
    if (std::string(e.bytes.begin(), e.bytes.end()) != path) m_mismatches.push_back("opened " + path);
    if (e.kind == TraceEvent::Kind::Open) return m_open = true;
  }
  m_open = true;  // a trace that starts after the open
  return true;
}

void CReplayHidIO::Close() { m_open = false; }

const TraceEvent* CReplayHidIO::NextTransfer() {
  while (m_next < m_events.size()) {
    const TraceEvent& e = m_events[m_next];
    if (e.kind == TraceEvent::Kind::Out || e.kind == TraceEvent::Kind::OutFail ||
        e.kind == TraceEvent::Kind::In || e.kind == TraceEvent::Kind::InFail)
      return &e;
    ++m_next;
  }
  return nullptr;
}

bool CReplayHidIO::ReadReport(Report& buffer, size_t* bytesRead) {
  if (bytesRead) *bytesRead = 0;
  const TraceEvent* e = m_open ? NextTransfer() : nullptr;
  if (!e || (e->kind != TraceEvent::Kind::In && e->kind != TraceEvent::Kind::InFail)) {
    m_mismatches.push_back("read where the trace has " + std::string(e ? "a write" : "nothing"));
    return false;
  }
  ++m_next;
  if (e->kind == TraceEvent::Kind::InFail) return false;
  buffer.fill(0);
  std::copy(e->bytes.begin(), e->bytes.end(), buffer.begin());
  if (bytesRead) *bytesRead = e->bytes.size();
  return true;
}

bool CReplayHidIO::WriteReport(const Report& buffer, size_t* bytesWritten) {
  if (bytesWritten) *bytesWritten = 0;
  const TraceEvent* e = m_open ? NextTransfer() : nullptr;
  if (!e || (e->kind != TraceEvent::Kind::Out && e->kind != TraceEvent::Kind::OutFail)) {
    m_mismatches.push_back("write where the trace has " + std::string(e ? "a read" : "nothing"));
    return false;
  }
  ++m_next;
  if (!std::equal(e->bytes.begin(), e->bytes.end(), buffer.begin(), buffer.begin() + e->bytes.size()))
    m_mismatches.push_back("report " + std::to_string(m_next) + " differs from the trace");
  if (e->kind == TraceEvent::Kind::OutFail) return false;
  if (bytesWritten) *bytesWritten = e->bytes.size();
  return true;
}

bool CReplayHidIO::Exhausted() const {
  for (size_t i = m_next; i < m_events.size(); ++i)
    if (m_events[i].kind != TraceEvent::Kind::Close) return false;
  return true;
}

}  // namespace orvane
