// A CHidIO decorator that records every report exchanged, for support and for
// turning a captured exchange into a test. One line per event:
//
//   <seconds since start, 6 decimals> <OUT|IN|OUT-FAIL|IN-FAIL> <byte count> <hex bytes>
//   <seconds> OPEN <path> <ok|fail>
//   <seconds> CLOSE
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "core/device/hid_io.h"

namespace orvane {

class CTraceHidIO final : public CHidIO {
 public:
  // Takes ownership of `sink` (closed with fclose). Returns nullptr and sets
  // `error` when the trace file cannot be created.
  static std::unique_ptr<CTraceHidIO> Create(std::unique_ptr<CHidIO> inner, const std::string& path,
                                             std::string* error);
  CTraceHidIO(std::unique_ptr<CHidIO> inner, FILE* sink);
  ~CTraceHidIO() override;

  std::vector<std::string> EnumerateTargets() override { return m_inner->EnumerateTargets(); }
  bool OpenPath(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override { return m_inner->IsOpen(); }
  bool ReadReport(Report& buffer, size_t* bytesRead) override;
  bool WriteReport(const Report& buffer, size_t* bytesWritten) override;
  void Cancel() override { m_inner->Cancel(); }
  void DiscardInput() override { m_inner->DiscardInput(); }
  OpenError LastOpenError() const override { return m_inner->LastOpenError(); }

 private:
  void Line(const char* what, const uint8_t* data, size_t n);

  std::unique_ptr<CHidIO> m_inner;
  FILE* m_sink;
  std::mutex m_mutex;
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace orvane
